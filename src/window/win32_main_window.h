// Win32MainWindow: the main window's Win32 view. It builds the controls of the layout table as
// system controls, forwards their events to the window's behaviour (TForm1) and shows what the
// behaviour sets. The worker's hand-overs arrive as sent window messages, its end as a posted
// one. It also hosts the single-instance guard.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "instance/one_instance.h"
#include "window/dialogs.h"
#include "window/main_window.h"
#include "window/main_window_layout.h"
#include "window/main_window_view.h"

namespace window {

// The window's two private messages: the job's end (posted) and a hand-over from the worker,
// run while the worker waits (sent).
inline constexpr UINT MsgWorkerDone = 0x5555;
inline constexpr UINT MsgStatusText = 0x5556;

// The window class; tests find the window by it.
inline constexpr const char* Win32WindowClass = "TForm1";

class Win32MainWindow : public MainWindowView, public instance::InstanceHost {
 public:
  explicit Win32MainWindow(HINSTANCE instance);
  ~Win32MainWindow() override;
  Win32MainWindow(const Win32MainWindow&) = delete;
  Win32MainWindow& operator=(const Win32MainWindow&) = delete;

  HWND Handle() const { return window_; }
  bool TerminationRequested() const { return terminationRequested_; }
  // The window's behaviour.
  TForm1& Form() { return *form_; }
  // The message loop until the window has closed or the application was asked to end.
  int Run();

  // MainWindowView
  bool Checked(Control control) const override;
  std::string Text(Control control) const override;
  void SetText(Control control, const std::string& text) override;
  void SetEnabled(Control control, bool enabled) override;
  void SetVisible(Control control, bool visible) override;
  void SetItems(Control control, const std::vector<std::string>& items) override;
  void ChooseLastItem(Control control) override;
  void ShowPortConnected(bool connected) override;
  void AddLogLine(const std::string& line) override;
  void SetProgress(int32_t position) override;
  void SetBarColour(uint32_t colour) override;
  void SetCaption(const std::string& caption) override;
  void Repaint() override;
  void RunOnWindowThread(const std::function<void()>& action) override;
  void PostWorkerDone() override;
  void ServeUntil(const std::function<bool()>& done) override;
  void WatchWorker(bool on) override;
  void HoldInput(bool hold) override;
  void RequestClose() override;

  // instance::InstanceHost
  std::string OwnerName() override { return "Form1"; }
  bool OwnerHasGuard() override { return OneInstance1 != nullptr; }
  std::string ApplicationTitle() override { return title_; }
  void SetApplicationTitle(const std::string& title) override { title_ = title; }
  void Terminate() override;
  void ShowErrorReport(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  bool RaiseWindowTitled(const std::string& title) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleControl(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
  void BuildControls();
  void Hint(HWND control, const std::string& text);
  void Subclass(HWND control);
  HWND Widget(Control control) const;
  // The control's row in the layout table; the table's size for a window not in it.
  size_t RowOf(HWND control) const;
  LRESULT Colour(HDC dc, HWND control, UINT message);
  void Command(int id, int code);

  HINSTANCE instance_;
  HWND window_ = nullptr;
  DWORD windowThread_;
  HFONT font_ = nullptr;
  HBRUSH silver_, activeBorder_, lime_;
  HWND tips_ = nullptr;
  std::string title_;
  bool portConnected_ = false;
  bool terminationRequested_ = false;
  bool holdingInput_ = false;
  std::unique_ptr<Dialogs> dialogs_;
  std::unique_ptr<TForm1> form_;
  // The controls, by their rows in the layout table.
  std::vector<HWND> controls_;
  HWND memo_ = nullptr;
  HWND bar_ = nullptr;

 public:
  // The single-instance guard, made as the layout is loaded.
  std::unique_ptr<instance::TOneInstance> OneInstance1;
};

}  // namespace window

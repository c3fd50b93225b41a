// QtMainWindow: the main window's Qt view. It builds the controls of the layout table, forwards
// their events to the window's behaviour (TForm1) and shows what the behaviour sets. It also
// hosts the single-instance guard, which asks the application and its windows.
#pragma once

#include <QEvent>
#include <QWidget>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "instance/one_instance.h"
#include "window/dialogs.h"
#include "window/main_window.h"
#include "window/main_window_layout.h"
#include "window/main_window_view.h"

class QPlainTextEdit;
class QProgressBar;
class QTimer;

namespace window {

inline constexpr QEvent::Type MsgWorkerDone = static_cast<QEvent::Type>(21845);

class QtMainWindow : public QWidget, public MainWindowView, public instance::InstanceHost {
  Q_OBJECT

 public:
  // dialogs: the message boxes to use; null means real ones. instanceLock: the single-instance
  // lock; null means the system's.
  explicit QtMainWindow(Dialogs* dialogs = nullptr,
                        std::unique_ptr<instance::InstanceLock> instanceLock = nullptr);
  ~QtMainWindow() override;

  // The window's behaviour.
  TForm1& Form() { return *form_; }
  bool TerminationRequested() const { return terminationRequested_; }

  // The single-instance guard, made as the layout is loaded.
  std::unique_ptr<instance::TOneInstance> OneInstance1;

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
  std::string OwnerName() override;
  bool OwnerHasGuard() override { return OneInstance1 != nullptr; }
  std::string ApplicationTitle() override;
  void SetApplicationTitle(const std::string& title) override;
  void Terminate() override;
  void ShowErrorReport(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  bool RaiseWindowTitled(const std::string& title) override;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  QWidget* MakeControl(const ControlLayout& row);
  void SetTabOrder();
  QWidget* Widget(Control control) const;
  // A control of the layout table by its name there.
  QWidget* Named(std::string_view name) const { return controls_.at(LayoutRow(name)); }

  std::unique_ptr<Dialogs> ownDialogs_;
  Dialogs* dialogs_;
  std::unique_ptr<TForm1> form_;
  bool terminationRequested_ = false;
  bool holdingInput_ = false;
  QTimer* workerWatch_;
  // The controls, by their rows in the layout table.
  std::vector<QWidget*> controls_;
  QPlainTextEdit* memo_ = nullptr;
  QProgressBar* bar_ = nullptr;
};

}  // namespace window

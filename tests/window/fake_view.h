// A recording stand-in for the window's view and its dialogs, on which the window's behaviour
// (TForm1) runs without a toolkit. It starts as the layout table gives the controls, records
// every change the behaviour makes and every box it opens (the journal keeps their order),
// answers from a script and serves the window's thread as a message loop would: the worker's
// hand-overs, the posted job-done message and the worker watch's timer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "window/fake_dialogs.h"
#include "window/main_window.h"
#include "window/main_window_view.h"

namespace testing_support {

const char* NameOf(window::Control control);

class FakeView : public window::MainWindowView, public FakeDialogs {
 public:
  struct ControlState {
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    std::string text;
    std::vector<std::string> items;
    int chosen = -1;
  };
  // Built on the thread that then serves as the window's.
  FakeView();
  // The behaviour that the view's events and timers go to.
  void Attach(window::TForm1* form) { form_ = form; }

  // What a user does.
  void Choose(window::Control radioButton);  // ticks it, unticks the others of its group
  void Tick(window::Control checkBox, bool ticked = true);
  void Type(window::Control edit, const std::string& text);
  // Makes the item the chosen one of a drop-down list, adding it when missing.
  void ChooseItem(window::Control list, const std::string& item);

  // Serves the window's thread as its message loop does, until done() or timeoutMs.
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
  // Delivers what is waiting now.
  void Pump();

  const ControlState& State(window::Control control) const { return controls_.at(control); }
  // Shown as the window would show it: enabled and visible.
  bool Usable(window::Control control) const;

  // What the behaviour did.
  std::vector<std::string> log;
  std::vector<std::string> journal;  // "SetEnabled ComboBox1 0", "Repaint", ...
  int32_t progress = 0;
  std::string caption;
  std::optional<uint32_t> barColour;
  bool portShownConnected = false;
  std::vector<bool> holds;
  std::atomic<int> workerDonePosts{0};
  bool watching = false;
  int closesRequested = 0;
  // False holds the worker watch's timer back, as a busy window's thread would.
  bool timerRuns = true;
  // Runs after each new log line, on the window's thread: input that comes meanwhile.
  std::function<void(const std::string&)> onLogLine;

  // window::MainWindowView
  bool Checked(window::Control control) const override;
  std::string Text(window::Control control) const override;
  void SetText(window::Control control, const std::string& text) override;
  void SetEnabled(window::Control control, bool enabled) override;
  void SetVisible(window::Control control, bool visible) override;
  void SetItems(window::Control control, const std::vector<std::string>& items) override;
  void ChooseLastItem(window::Control control) override;
  void ShowPortConnected(bool connected) override;
  void AddLogLine(const std::string& line) override;
  void SetProgress(int32_t position) override;
  void SetBarColour(uint32_t colour) override;
  void SetCaption(const std::string& text) override { caption = text; }
  void Repaint() override;
  void RunOnWindowThread(const std::function<void()>& action) override;
  void PostWorkerDone() override;
  void ServeUntil(const std::function<bool()>& done) override;
  void WatchWorker(bool on) override;
  void HoldInput(bool hold) override;
  void RequestClose() override;

 protected:
  void Opened(const std::string& what) override { journal.push_back(what); }

 private:
  struct HandOver {
    const std::function<void()>* action;
    bool done = false;
  };
  // One round of the message loop; false when nothing was waiting.
  bool ServeOnce();

  std::map<window::Control, ControlState> controls_;
  window::TForm1* form_ = nullptr;
  std::thread::id windowThread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<HandOver*> handOvers_;
  int postedDone_ = 0;
};

}  // namespace testing_support

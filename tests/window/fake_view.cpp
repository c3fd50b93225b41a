#include "window/fake_view.h"

#include <chrono>

#include "window/main_window_layout.h"

using window::Control;

namespace testing_support {

namespace {

// How long one round of the fake message loop waits for a hand-over before it looks again.
constexpr auto LoopWait = std::chrono::milliseconds(2);

}  // namespace

const char* NameOf(Control control) {
  return window::LayoutOf(control).Name;
}

FakeView::FakeView() : windowThread_(std::this_thread::get_id()) {
  for (const window::ControlLayout& row : window::MainWindowLayout()) {
    if (!row.Named) continue;
    ControlState& state = controls_[*row.Named];
    state.visible = row.Visible;
    state.checked = row.Checked;
    state.items = row.Items;
    // A list chooses its first item as it gets it.
    if (row.Kind == window::ControlKind::List) {
      state.chosen = row.Items.empty() ? -1 : 0;
    } else {
      state.text = row.Caption;
    }
  }
}

void FakeView::Choose(Control radioButton) {
  const std::string_view group = window::LayoutOf(radioButton).Group;
  for (auto& [control, state] : controls_)
    if (window::LayoutOf(control).Group == group) state.checked = control == radioButton;
}

void FakeView::Tick(Control checkBox, bool ticked) {
  controls_.at(checkBox).checked = ticked;
}

void FakeView::Type(Control edit, const std::string& text) {
  controls_.at(edit).text = text;
}

void FakeView::ChooseItem(Control list, const std::string& item) {
  ControlState& state = controls_.at(list);
  for (size_t i = 0; i < state.items.size(); ++i) {
    if (state.items[i] == item) {
      state.chosen = static_cast<int>(i);
      return;
    }
  }
  state.items.push_back(item);
  state.chosen = static_cast<int>(state.items.size()) - 1;
}

bool FakeView::Usable(Control control) const {
  return State(control).enabled && State(control).visible;
}

// ---- the message loop -----------------------------------------------------------------------

bool FakeView::ServeOnce() {
  bool served = false;
  for (;;) {
    HandOver* handOver = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (handOvers_.empty()) break;
      handOver = handOvers_.front();
      handOvers_.pop_front();
    }
    (*handOver->action)();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      handOver->done = true;
    }
    wake_.notify_all();
    served = true;
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (postedDone_ == 0) break;
      --postedDone_;
    }
    if (form_) form_->WorkerDone();
    served = true;
  }
  if (watching && timerRuns && form_) form_->WorkerWatchTimer();
  return served;
}

void FakeView::Pump() {
  while (ServeOnce()) {
  }
}

bool FakeView::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ServeOnce();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, LoopWait, [this] { return !handOvers_.empty() || postedDone_ > 0; });
  }
}

void FakeView::ServeUntil(const std::function<bool()>& done) {
  journal.push_back("ServeUntil");
  for (;;) {
    ServeOnce();
    if (done()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, LoopWait, [this] { return !handOvers_.empty() || postedDone_ > 0; });
  }
}

void FakeView::RunOnWindowThread(const std::function<void()>& action) {
  if (std::this_thread::get_id() == windowThread_) {
    action();
    return;
  }
  HandOver handOver{&action};
  std::unique_lock<std::mutex> lock(mutex_);
  handOvers_.push_back(&handOver);
  wake_.notify_all();
  wake_.wait(lock, [&] { return handOver.done; });
}

void FakeView::PostWorkerDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++workerDonePosts;
  ++postedDone_;
  wake_.notify_all();
}

// ---- the controls ---------------------------------------------------------------------------

bool FakeView::Checked(Control control) const {
  return State(control).checked;
}

std::string FakeView::Text(Control control) const {
  const ControlState& state = State(control);
  if (control == Control::ComboBox1 || control == Control::ComboBox2)
    return state.chosen < 0 ? "" : state.items.at(static_cast<size_t>(state.chosen));
  return state.text;
}

void FakeView::SetText(Control control, const std::string& text) {
  journal.push_back(std::string("SetText ") + NameOf(control) + " " + text);
  controls_.at(control).text = text;
}

void FakeView::SetEnabled(Control control, bool enabled) {
  journal.push_back(std::string("SetEnabled ") + NameOf(control) + (enabled ? " 1" : " 0"));
  controls_.at(control).enabled = enabled;
}

void FakeView::SetVisible(Control control, bool visible) {
  journal.push_back(std::string("SetVisible ") + NameOf(control) + (visible ? " 1" : " 0"));
  controls_.at(control).visible = visible;
}

void FakeView::SetItems(Control control, const std::vector<std::string>& items) {
  journal.push_back(std::string("SetItems ") + NameOf(control));
  controls_.at(control).items = items;
  controls_.at(control).chosen = -1;
}

void FakeView::ChooseLastItem(Control control) {
  journal.push_back(std::string("ChooseLastItem ") + NameOf(control));
  ControlState& state = controls_.at(control);
  if (!state.items.empty()) state.chosen = static_cast<int>(state.items.size()) - 1;
}

void FakeView::ShowPortConnected(bool connected) {
  journal.push_back(std::string("ShowPortConnected ") + (connected ? "1" : "0"));
  portShownConnected = connected;
}

void FakeView::AddLogLine(const std::string& line) {
  log.push_back(line);
  if (onLogLine) onLogLine(line);
}

void FakeView::SetProgress(int32_t position) {
  progress = position;
}

void FakeView::SetBarColour(uint32_t colour) {
  barColour = colour;
}

void FakeView::Repaint() {
  journal.push_back("Repaint");
}

void FakeView::WatchWorker(bool on) {
  watching = on;
}

void FakeView::RequestClose() {
  journal.push_back("RequestClose");
  ++closesRequested;
}

void FakeView::HoldInput(bool hold) {
  journal.push_back(std::string("HoldInput ") + (hold ? "1" : "0"));
  holds.push_back(hold);
}

}  // namespace testing_support

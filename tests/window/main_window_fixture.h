// The window's behaviour on a fake view, against the simulated deco on a pty, in a folder of
// its own, on the fast clock.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "protocol/clock.h"
#include "protocol/transaction.h"
#include "sim/pty_deco.h"
#include "support/files.h"
#include "support/sim_session.h"
#include "window/fake_view.h"
#include "window/main_window.h"

namespace testing_support {

// The window's questions, typed here again so that a changed text fails the tests.
inline constexpr const char* ReadQuestion =
    "READ is still active.\r\nExtracted file will be incomplete.\r\nAre you sure to quit?";
inline constexpr const char* WriteQuestion =
    "WRITE is still active.\r\nYour deco will be dead if quit.\r\n Are you sure to quit?";
inline constexpr const char* PortQuestion =
    "Serial port is not disconnected.\r\nDeco is still in Service mode.\r\nQuit anyway ?";

class MainWindowTest : public ::testing::Test {
 protected:
  using Control = window::Control;

  explicit MainWindowTest(const sim::Settings& settings = sim::Settings(),
                          unsigned timeoutDivisor = 1)
      : deco(settings), clock(TestClockDivisor, timeoutDivisor) {
    clock.SetBeforePause([this] { deco.CatchUp(); });
    folderBefore = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    form = std::make_unique<window::TForm1>(view, view);
    form->Link().UseClock(clock);
    view.Attach(form.get());
    view.ChooseItem(Control::ComboBox1, deco.SlavePath());
  }
  ~MainWindowTest() override {
    view.answers.clear();
    view.onLogLine = nullptr;
    form.reset();
    view.Attach(nullptr);
    std::filesystem::current_path(folderBefore);
  }

  void Connect() {
    form->Button4Click();
    ASSERT_TRUE(form->Connected()) << (view.log.empty() ? "" : view.log.back());
  }
  // Ticks a memory's box and names its file in the test's folder.
  void Tick(Control box, Control edit, const std::string& name) {
    view.Tick(box);
    view.Type(edit, dir.File(name));
  }
  // The job has ended and the window is idle again.
  bool WaitForJobEnd(int timeoutMs = JobTimeoutMs) {
    return view.PumpUntil(
        [&] { return form->Worker() == nullptr && view.State(Control::Button5).visible; },
        timeoutMs);
  }
  std::vector<std::string> LogFrom(size_t index) const {
    return std::vector<std::string>(view.log.begin() + static_cast<std::ptrdiff_t>(index),
                                    view.log.end());
  }
  sim::PtyDeco deco;
  protocol::FastClock clock;
  TempDir dir;
  std::filesystem::path folderBefore;
  FakeView view;
  std::unique_ptr<window::TForm1> form;
};

// A deco that already shows -SE-, and the window told so.
class ServiceMainWindowTest : public MainWindowTest {
 protected:
  ServiceMainWindowTest() : MainWindowTest(InService()) { view.Choose(Control::RadioButton5); }
};

}  // namespace testing_support

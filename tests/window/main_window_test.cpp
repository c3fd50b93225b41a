// The window's behaviour without a toolkit: start-up, which controls each state enables,
// Connect and Disconnect, the file pickers, the worker's messages and the close decision.
// Through a recording fake view, against the simulated deco.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <functional>
#include <thread>

#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "sim/replay.h"
#include "serial/line_trace.h"
#include "serial/port_list.h"
#include "serial/serial_util.h"
#include "transfer/job_plan.h"
#include "transfer/time_stamp.h"
#include "window/main_window_fixture.h"
#include "window/main_window_layout.h"

using testing_support::FakeView;
using testing_support::MainWindowTest;
using testing_support::PortQuestion;
using testing_support::ReadQuestion;
using testing_support::ServiceMainWindowTest;
using testing_support::WriteQuestion;
using window::Control;

namespace {

using Asked = FakeView::Asked;

// The controls the behaviour names, as the layout table gives them.
std::vector<Control> NamedControls() {
  std::vector<Control> controls;
  for (const window::ControlLayout& row : window::MainWindowLayout())
    if (row.Named) controls.push_back(*row.Named);
  return controls;
}

bool Contains(const std::vector<Control>& controls, Control control) {
  return std::find(controls.begin(), controls.end(), control) != controls.end();
}

// A deco in standby, and reply time-outs that cost little to wait out.
class QuickTimeOutTest : public MainWindowTest {
 protected:
  QuickTimeOutTest() : MainWindowTest(sim::Settings(), testing_support::QuickTimeOuts) {}
};

// A deco in service mode that does not answer the exit.
class SilentExitTest : public MainWindowTest {
 protected:
  static sim::Settings DropsTheExitReply() {
    sim::Settings settings = testing_support::InService();
    settings.Fault.DropReplyAt = 12;  // 11 lines to connect, then "100"
    return settings;
  }
  SilentExitTest() : MainWindowTest(DropsTheExitReply()) { view.Choose(Control::RadioButton5); }
};

// A deco in service mode whose answer to the model query is lost.
class LostReplyInServiceTest : public MainWindowTest {
 protected:
  static sim::Settings LosesTheModelQuerysAnswer() {
    sim::Settings settings = testing_support::InService();
    settings.Fault.DropReplyAt = 1;
    return settings;
  }
  LostReplyInServiceTest() : MainWindowTest(LosesTheModelQuerysAnswer(), testing_support::QuickTimeOuts) {
    view.Choose(Control::RadioButton5);
  }
};

}  // namespace

// A failed Connect with "Service -SE-" chosen leaves the deco in service mode, where a WRITE that
// did not finish may have left it half written; Disconnect, the user's own choice, still leaves.
TEST_F(LostReplyInServiceTest, FailedConnectLeavesTheDecoInServiceMode) {
  form->Button4Click();
  EXPECT_FALSE(form->Connected());
  EXPECT_TRUE(deco.Model().InService());
  const std::vector<std::string> commands = deco.Model().CommandLog();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "100"), 0);
  Connect();
  form->Button4Click();
  EXPECT_FALSE(deco.Model().InService());
}

TEST_F(MainWindowTest, StartUpListsThePortsChoosesTheLastAndNamesTheRunsFiles) {
  FakeView fresh;
  window::TForm1 created(fresh, fresh);
  std::vector<std::string> ports;
  serial::SplitList(serial::ListSerialPorts(), ',', ports);
  // The design items are gone; the last port and the last speed are chosen; nothing else moved.
  EXPECT_EQ(fresh.State(Control::ComboBox1).items, ports);
  EXPECT_EQ(fresh.Text(Control::ComboBox1), ports.empty() ? "" : ports.back());
  EXPECT_EQ(fresh.Text(Control::ComboBox2), "115200");
  EXPECT_EQ(fresh.journal,
            (std::vector<std::string>{"SetItems ComboBox1", "ChooseLastItem ComboBox1",
                                      "ChooseLastItem ComboBox2"}));
  EXPECT_TRUE(fresh.log.empty());
  EXPECT_FALSE(created.Connected());
  EXPECT_EQ(created.Link().Sink(), &created);
  // The run's time stamp, as the command line builds it: a four-digit year, no zone word.
  const std::string year =
      std::to_string(transfer::LocalCalendarTime(std::time(nullptr)).tm_year + 1900);
  const std::string& readBack = created.Names().FirmwareReadBackName;
  EXPECT_NE(readBack.find(year), std::string::npos) << readBack;
  EXPECT_EQ(readBack.find("UTC"), std::string::npos);
}

// The state table: each control in each state the window passes through.
TEST_F(ServiceMainWindowTest, ControlsOfEachState) {
  struct Row {
    const char* state;
    std::function<void()> reach;
    const char* button4;
    bool lime;
    std::vector<Control> disabled;
    std::vector<Control> hidden;
  } rows[] = {
      {"not connected, idle (start-up)", [] {}, "Connect", false, {}, {Control::Button1}},
      {"connected, idle",
       [&] { Connect(); },
       "Disconnect",
       true,
       {Control::ComboBox1, Control::ComboBox2, Control::RadioButton4, Control::RadioButton5},
       {Control::Button1}},
      // The worker waits for its first hand-over, which nobody serves yet.
      {"job running",
       [&] {
         Tick(Control::CheckBox2, Control::Edit2, "E.bin");
         form->Button5Click();
         ASSERT_NE(form->Worker(), nullptr);
       },
       "Disconnect",
       true,
       {Control::Button4, Control::ComboBox1, Control::ComboBox2, Control::CheckBox1,
        Control::CheckBox2, Control::CheckBox3, Control::Edit1, Control::Edit2, Control::Edit3,
        Control::RadioButton1, Control::RadioButton2, Control::RadioButton3, Control::RadioButton4,
        Control::RadioButton5},
       {Control::Button5, Control::Button6}},
      // Port and speed can be chosen again, although the connection stays open.
      {"job ended while connected",
       [&] { ASSERT_TRUE(WaitForJobEnd()); },
       "Disconnect",
       true,
       {},
       {Control::Button1}},
      {"disconnected", [&] { form->Button4Click(); }, "Connect", false, {}, {Control::Button1}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.state);
    row.reach();
    EXPECT_EQ(view.Text(Control::Button4), row.button4);
    EXPECT_EQ(view.portShownConnected, row.lime);
    for (Control control : NamedControls()) {
      SCOPED_TRACE(testing_support::NameOf(control));
      EXPECT_EQ(view.State(control).enabled, !Contains(row.disabled, control));
      EXPECT_EQ(view.State(control).visible, !Contains(row.hidden, control));
    }
  }
}

TEST_F(MainWindowTest, StatusLinesTheEmptyOneAddsNothing) {
  struct Row {
    const char* name;
    const char* text;
    bool fromWorker;
    std::vector<std::string> added;
  } rows[] = {
      {"an empty line", "", false, {}},
      {"a line", "one line", false, {"one line"}},
      {"an empty line from the worker", "", true, {}},
      {"a line from the worker, shown when the window's thread serves it",
       "from the worker",
       true,
       {"from the worker"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const size_t before = view.log.size();
    if (row.fromWorker) {
      std::atomic<bool> posted{false};
      std::thread worker([&] {
        protocol::PostStatus(form->Link(), row.text);
        posted = true;
      });
      // A sent message: the worker waits until the window's thread has taken the line.
      EXPECT_TRUE(view.PumpUntil([&] { return posted.load(); }, 5000));
      worker.join();
    } else {
      protocol::PostStatus(form->Link(), row.text);
    }
    EXPECT_EQ(LogFrom(before), row.added);
  }
}

// Each failed connect: back to "Connect" with no message box, and one log line with the reason
// and what to check.
TEST_F(QuickTimeOutTest, FailedConnectsSayWhyAndReturnToIdleWithoutAMessage) {
  struct Row {
    const char* name;
    std::string port;
    Control status;
    std::string line;
  } rows[] = {
      {"a missing port", "/dev/pyrelink-missing", Control::RadioButton4,
       "Connect failed: Communication error 2: No such file or directory. Check the port "
       "/dev/pyrelink-missing, the Baud and the Status of deco (Standby --:-- or Service -SE-)."},
      {"a deco in standby, taken to show -SE-", deco.SlavePath(), Control::RadioButton5,
       "Connect failed: Communication error 9997: Timeout during operation. Check the port " +
           deco.SlavePath() + ", the Baud and the Status of deco (Standby --:-- or Service -SE-)."},
      {"no port chosen", "", Control::RadioButton4,
       "Connect failed: Communication error 2: No such file or directory. Check the port (none "
       "is selected), the Baud and the Status of deco (Standby --:-- or Service -SE-)."},
      {"a numbered port that stands for a device of another name", "COM250", Control::RadioButton4,
       "Connect failed: Communication error 2: No such file or directory. Check the port COM250 "
       "(/dev/ttyS249), the Baud and the Status of deco (Standby --:-- or Service -SE-)."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    view.ChooseItem(Control::ComboBox1, row.port);
    view.Choose(row.status);
    view.journal.clear();
    form->Button4Click();
    EXPECT_FALSE(form->Connected());
    EXPECT_FALSE(form->Link().IsOpen());
    EXPECT_EQ(view.Text(Control::Button4), "Connect");
    // Shown as connecting during the exchange, then as not connected again.
    auto connecting = std::find(view.journal.begin(), view.journal.end(), "ShowPortConnected 1");
    EXPECT_NE(connecting, view.journal.end());
    EXPECT_NE(std::find(connecting, view.journal.end(), "Repaint"), view.journal.end());
    EXPECT_FALSE(view.portShownConnected);
    EXPECT_TRUE(view.State(Control::ComboBox1).enabled);
    EXPECT_TRUE(view.State(Control::RadioButton4).enabled);
    EXPECT_TRUE(view.asked.empty());
    ASSERT_FALSE(view.log.empty());
    EXPECT_EQ(view.log.back(), row.line);
    EXPECT_FALSE(deco.Model().InService());
  }
}

// Connect and Disconnect hold the window's thread for seconds. Input is held meanwhile, and a
// click that still reaches the handler must not run against the new caption.
TEST_F(ServiceMainWindowTest, ConnectAndDisconnectHoldInputAndIgnoreAClickMeanwhile) {
  for (bool connecting : {true, false}) {
    SCOPED_TRACE(connecting ? "connect" : "disconnect");
    if (!connecting) view.Choose(Control::RadioButton4);  // the deco shows standby after it
    const std::string shownMeanwhile = connecting ? "Initializing deco ..." : "Exit -SE-";
    bool clicked = false;
    view.onLogLine = [&](const std::string& line) {
      if (clicked || line != shownMeanwhile) return;
      clicked = true;
      EXPECT_TRUE(form->HoldingInput());
      EXPECT_EQ(view.holds, std::vector<bool>{true});
      form->Button4Click();
    };
    view.holds.clear();
    const size_t before = view.log.size();
    form->Button4Click();
    view.onLogLine = nullptr;
    ASSERT_TRUE(clicked);
    EXPECT_EQ(view.holds, (std::vector<bool>{true, false}));
    EXPECT_FALSE(form->HoldingInput());
    EXPECT_EQ(form->Connected(), connecting);
    EXPECT_EQ(view.Text(Control::Button4), connecting ? "Disconnect" : "Connect");
    EXPECT_EQ(deco.Model().InService(), connecting);
    const std::vector<std::string> lines = LogFrom(before);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), connecting ? "OK" : "==============================");
    const char* opposite = connecting ? "Exit -SE-" : "Display of deco must show -SE-";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), opposite), 0);
  }
}

// An exit the deco does not answer leaves its state unknown (it may have gone to standby with
// only its answer lost): the log says so, the connection ends, and Connect is shown; no bare
// error box, no second try at a deco that may be in standby.
TEST_F(SilentExitTest, AnUnansweredExitEndsTheConnectionAndSaysSo) {
  Connect();
  view.journal.clear();
  const size_t before = view.log.size();
  form->Button4Click();
  EXPECT_TRUE(view.asked.empty()) << view.asked.front().text;
  const std::vector<std::string> lines = LogFrom(before);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3],
            "Disconnect failed: Communication error 9997: Timeout during operation.");
  EXPECT_EQ(lines[lines.size() - 2],
            "The deco no longer answers: the exit to standby was sent but not confirmed.");
  EXPECT_FALSE(form->Connected());
  EXPECT_FALSE(form->Link().IsOpen());
  EXPECT_EQ(view.Text(Control::Button4), "Connect");
  EXPECT_TRUE(view.Usable(Control::RadioButton4));
  EXPECT_FALSE(form->HoldingInput());
}

// The window is idle again: every control usable, Abort hidden, as the layout table has them.
TEST_F(MainWindowTest, WorkerDoneWithoutAWorkerStillEnablesTheControls) {
  form->SetButtons(false);
  form->WorkerDone();
  for (const window::ControlLayout& row : window::MainWindowLayout()) {
    if (!row.Named) continue;
    SCOPED_TRACE(row.Name);
    EXPECT_TRUE(view.State(*row.Named).enabled);
    EXPECT_EQ(view.State(*row.Named).visible, row.Visible);
  }
}

TEST_F(MainWindowTest, FilePickersRememberTheLastName) {
  struct Row {
    const char* name;
    void (window::TForm1::*handler)();
    std::optional<std::string> chosen;
    const char* title;
    const char* lastOffered;
    Control field;
    const char* fieldAfter;
  } rows[] = {
      {"firmware, chosen", &window::TForm1::Edit1DblClick, "/data/dumps/Fw1.bin",
       "Open FIRMWARE File (2MB)", "", Control::Edit1, "/data/dumps/Fw1.bin"},
      {"channel, cancelled", &window::TForm1::Edit3DblClick, std::nullopt,
       "Open CHANNEL File (512KB)", "/data/dumps/Fw1.bin", Control::Edit3, "Ch.bin"},
      {"EEPROM, chosen", &window::TForm1::Edit2DblClick, "/data/E2.bin", "Open EEPROM File (2KB)",
       "/data/dumps/Fw1.bin", Control::Edit2, "/data/E2.bin"},
      {"firmware again: offered the EEPROM's name", &window::TForm1::Edit1DblClick, "/data/Fw2.bin",
       "Open FIRMWARE File (2MB)", "/data/E2.bin", Control::Edit1, "/data/Fw2.bin"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    view.chosenFile = row.chosen;
    (form.get()->*row.handler)();
    EXPECT_EQ(view.fileTitle, row.title);
    EXPECT_EQ(view.fileFilter, "Binary files (*.bin)|*.bin;*.BIN;");
    EXPECT_EQ(view.fileLast, row.lastOffered);
    EXPECT_EQ(view.Text(row.field), row.fieldAfter);
  }
}

// Connect, READ, WRITE and the file pickers do nothing at all while a job runs, whatever the
// enabled state of their controls.
TEST_F(ServiceMainWindowTest, HandlersDoNothingWhileAJobRuns) {
  Connect();
  Tick(Control::CheckBox2, Control::Edit2, "E.bin");
  form->Button5Click();
  ASSERT_NE(form->Worker(), nullptr);
  // Nobody serves the worker's first hand-over yet: it waits, and the log stays as it is.
  const size_t lines = view.log.size();
  view.asked.clear();
  view.journal.clear();
  for (void (window::TForm1::*handler)() :
       {&window::TForm1::Button4Click, &window::TForm1::Button5Click, &window::TForm1::Button6Click,
        &window::TForm1::Edit1DblClick, &window::TForm1::Edit2DblClick,
        &window::TForm1::Edit3DblClick})
    (form.get()->*handler)();
  EXPECT_TRUE(view.asked.empty());
  EXPECT_TRUE(view.journal.empty()) << testing::PrintToString(view.journal);
  EXPECT_EQ(view.filePickerOpened, 0);
  EXPECT_EQ(view.log.size(), lines);
  EXPECT_TRUE(form->Connected());
  ASSERT_TRUE(WaitForJobEnd());
}

// The close decision in each state: what it asks, and whether the window closes.
TEST_F(ServiceMainWindowTest, CloseProtection) {
  enum class Job { None, Read, Write };
  struct Row {
    const char* name;
    bool connected;
    Job job;
    std::deque<bool> answers;
    bool closes;
    std::vector<Asked> asked;
    bool jobGoesOn;
  } rows[] = {
      {"idle, not connected: nothing asked", false, Job::None, {}, true, {}, false},
      {"connected, idle: the port question, No",
       true,
       Job::None,
       {false},
       false,
       {{"Warning", PortQuestion}},
       false},
      {"connected, idle: the port question, Yes",
       true,
       Job::None,
       {true},
       true,
       {{"Warning", PortQuestion}},
       false},
      {"a READ: its question refused, the port question still comes",
       true,
       Job::Read,
       {false, true},
       false,
       {{"Warning", ReadQuestion}, {"Warning", PortQuestion}},
       true},
      {"a READ: Yes to both stops it",
       true,
       Job::Read,
       {true, true},
       true,
       {{"Warning", ReadQuestion}, {"Warning", PortQuestion}},
       false},
      {"a WRITE writing flash: Yes to both stops it",
       true,
       Job::Write,
       {true, true},
       true,
       {{"Warning", WriteQuestion}, {"Warning", PortQuestion}},
       false},
  };
  testing_support::WriteFile(
      dir.File("Ch.bin"),
      testing_support::AsText(deco.Model().Flash()).substr(0, protocol::ChannelImageBytes));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.connected && !form->Connected()) Connect();
    if (row.job != Job::None && !form->Worker()) {
      const bool write = row.job == Job::Write;
      view.Tick(Control::CheckBox1, !write);
      view.Tick(Control::CheckBox3, write);
      view.Type(Control::Edit1, dir.File("Fw.bin"));
      view.Type(Control::Edit3, dir.File("Ch.bin"));
      (write ? form->Button6Click() : form->Button5Click());
      ASSERT_NE(form->Worker(), nullptr);
      if (write) {
        ASSERT_TRUE(
            view.PumpUntil([&] { return form->WritingFlash(); }, testing_support::JobTimeoutMs));
      }
    }
    view.asked.clear();
    view.journal.clear();
    view.answers = row.answers;
    EXPECT_EQ(form->FormCloseQuery(), row.closes);
    EXPECT_EQ(view.asked, row.asked);
    EXPECT_EQ(form->Worker() != nullptr, row.jobGoesOn);
    // The window is about to close, or stays as it was: no control is enabled or shown anew.
    for (const std::string& change : view.journal) {
      EXPECT_NE(change.rfind("SetEnabled", 0), 0u) << change;
      EXPECT_NE(change.rfind("SetVisible", 0), 0u) << change;
    }
  }
}

// A session recorded from the window (Connect from standby, a READ, Disconnect) holds its job and
// the window's own lines, and replays: a second window against the replayed deco reads the same
// dumps and leaves no command of the trace unsent.
TEST_F(MainWindowTest, AWindowTraceNamesItsJobAndReplaysToTheSameDumps) {
  const std::string traceFile = dir.File("window.trace");
  auto session = [&](window::TForm1& window, const std::string& port, const std::string& folder) {
    std::filesystem::create_directory(folder);
    view.ChooseItem(Control::ComboBox1, port);
    view.Choose(Control::RadioButton4);
    window.Button4Click();
    ASSERT_TRUE(window.Connected()) << view.log.back();
    view.Tick(Control::CheckBox2);
    view.Tick(Control::CheckBox3);
    view.Type(Control::Edit2, folder + "/E.bin");
    view.Type(Control::Edit3, folder + "/Ch.bin");
    window.Button5Click();
    ASSERT_TRUE(WaitForJobEnd());
    window.Button4Click();
    ASSERT_FALSE(window.Connected());
  };
  form->Link().TraceTo(std::make_shared<serial::LineTrace>(traceFile));
  session(*form, deco.SlavePath(), dir.File("recorded"));
  form.reset();  // ends the trace
  const std::string trace = testing_support::ReadFile(traceFile);
  for (const char* mark : {"mark job window READ", "mark status Initializing deco ...",
                           "mark status OK", "mark status Exit -SE-"})
    EXPECT_NE(trace.find(mark), std::string::npos) << mark;

  sim::Settings replayed;
  auto replay = std::make_shared<sim::Replay>(traceFile, 1);
  replayed.Replayed = replay;
  sim::PtyDeco replaying(replayed);
  clock.SetBeforePause([&] { replaying.CatchUp(); });
  form = std::make_unique<window::TForm1>(view, view);
  form->Link().UseClock(clock);
  view.Attach(form.get());
  session(*form, replaying.SlavePath(), dir.File("replayed"));
  EXPECT_EQ(replay->Parting(), "");
  EXPECT_TRUE(replay->Finished());
  for (const char* dump : {"/E.bin", "/Ch.bin"})
    EXPECT_EQ(testing_support::ReadFile(dir.File("replayed") + dump),
              testing_support::ReadFile(dir.File("recorded") + dump))
        << dump;
  form.reset();
  view.Attach(nullptr);
}

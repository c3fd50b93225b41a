// The window's behaviour when a job cannot start or ends by an error, without a toolkit: the
// clear message for each bad input file (the same as the command line's, with nothing sent),
// and what the log says a failed job left and how to go on. Through a recording fake view,
// against the simulated deco.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <optional>

#include "cli/capturing_host.h"
#include "cli/cli_job.h"
#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "transfer/connection.h"
#include "window/main_window_fixture.h"

using testing_support::JobTimeoutMs;
using testing_support::MainWindowTest;
using testing_support::QuickTimeOuts;
using testing_support::ReadFile;
using testing_support::ServiceMainWindowTest;
using testing_support::WriteFile;
using window::Control;

namespace {

// Runs as an ordinary user when the tests run as root, who may read and write anything.
class AsOrdinaryUser {
 public:
  AsOrdinaryUser() : switched_(::geteuid() == 0) {
    if (switched_ && ::seteuid(NobodyId) != 0) switched_ = false;
  }
  ~AsOrdinaryUser() {
    if (switched_ && ::seteuid(0) != 0) std::abort();
  }

 private:
  static constexpr uid_t NobodyId = 65534;
  bool switched_;
};

// A limit on the size of the files this process writes, as a full disk would set one.
class FileSizeLimitOf {
 public:
  explicit FileSizeLimitOf(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &before_);
    rlimit limit = before_;
    limit.rlim_cur = bytes;
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimitOf() {
    ::setrlimit(RLIMIT_FSIZE, &before_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit before_{};
  void (*previousHandler_)(int);
};

}  // namespace

// Each bad input through the window's buttons and through the command line: the same clear
// message from both, and not one command line to the deco.
TEST_F(ServiceMainWindowTest, BadInputFilesGetAClearMessageAndNothingIsSent) {
  namespace fs = std::filesystem;
  constexpr int64_t Firmware = protocol::FirmwareImageBytes;
  enum class Setup { None, Size, Sparse, Folder, Unreadable, FileSizeLimit };
  struct Row {
    const char* name;
    bool write;
    const char* method;
    const char* firmware;  // the name in the row's folder
    const char* channel;   // "" = not ticked
    Setup setup;
    int64_t size;
    const char* message;
    // What the window's log says after the box: which file, and what is wrong with it.
    const char* detail = nullptr;
  } rows[] = {
      {"missing", true, "normal", "Fw.bin", "", Setup::None, 0,
       "Fw.bin does not exist or has wrong size. WRITE aborted!", "/Fw.bin does not exist; "},
      {"empty", true, "normal", "Fw.bin", "", Setup::Size, 0,
       "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"one byte short", true, "safe", "Fw.bin", "", Setup::Size, Firmware - 1,
       "Fw.bin does not exist or has wrong size. WRITE aborted!",
       "/Fw.bin has 2097151 bytes; a firmware image has 2097152 bytes"},
      {"one byte long", true, "normal", "Fw.bin", "", Setup::Size, Firmware + 1,
       "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"4 GiB + 2 MiB sparse (2 MiB in 32 bits)", true, "normal", "Fw.bin", "", Setup::Sparse,
       (int64_t{4} << 30) + Firmware, "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"a folder to write", true, "normal", "Fw.bin", "", Setup::Folder, 0,
       "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"unreadable", true, "normal", "Fw.bin", "", Setup::Unreadable, Firmware,
       "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"the same file as firmware and channel", true, "normal", "Fw.bin", "Fw.bin", Setup::Size,
       Firmware, "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"the same file to read into twice", false, "normal", "Same.bin", "Same.bin", Setup::None, 0,
       "Same.bin is named for two memories: each needs its own file. READ ignored!"},
      {"an output folder that does not exist", false, "normal", "missing/Fw.bin", "", Setup::None,
       0, "The folder of Fw.bin does not exist: "},
      {"a folder to read into", false, "normal", "Fw.bin", "", Setup::Folder, 0,
       "Fw.bin is a folder, not a file. READ ignored!"},
      {"an unwritable dump", false, "normal", "Fw.bin", "", Setup::Unreadable, 16,
       "Cannot write Fw.bin: Permission denied. READ ignored!"},
      {"a full disk", false, "normal", "Fw.bin", "", Setup::FileSizeLimit, 0,
       "Fw.bin needs 2048 KB, but this program may write files of 1024 KB only. READ ignored!"},
  };
  Connect();
  fs::permissions(dir.Path(),
                  fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
  int number = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string folder = dir.File("row" + std::to_string(++number));
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::all);
    const std::string firmware = folder + "/" + row.firmware;
    const std::string channel = *row.channel ? folder + "/" + row.channel : "";
    switch (row.setup) {
      case Setup::Size:
        WriteFile(firmware, std::string(static_cast<size_t>(row.size), '\x11'));
        break;
      case Setup::Sparse:
        WriteFile(firmware, "");
        fs::resize_file(firmware, static_cast<uintmax_t>(row.size));
        break;
      case Setup::Folder:
        fs::create_directory(firmware);
        break;
      case Setup::Unreadable:
        WriteFile(firmware, std::string(static_cast<size_t>(row.size), '\x11'));
        fs::permissions(firmware, fs::perms::none);
        break;
      case Setup::None:
      case Setup::FileSizeLimit:
        break;
    }
    AsOrdinaryUser ordinaryUser;
    std::optional<FileSizeLimitOf> limit;
    if (row.setup == Setup::FileSizeLimit) limit.emplace(Firmware / 2);
    const size_t commandsBefore = deco.Model().CommandLog().size();

    const std::string method = row.method;
    view.Choose(method == "safe"   ? Control::RadioButton2
                : method == "diff" ? Control::RadioButton3
                                   : Control::RadioButton1);
    view.Tick(Control::CheckBox1);
    view.Type(Control::Edit1, firmware);
    view.Tick(Control::CheckBox3, !channel.empty());
    view.Type(Control::Edit3, channel);
    view.asked.clear();
    row.write ? form->Button6Click() : form->Button5Click();
    ASSERT_FALSE(view.asked.empty());
    EXPECT_NE(view.asked.back().text.find(row.message), std::string::npos)
        << view.asked.back().text;
    EXPECT_EQ(form->Worker(), nullptr);
    if (row.detail) {
      ASSERT_FALSE(view.log.empty());
      EXPECT_NE(view.log.back().find(row.detail), std::string::npos) << view.log.back();
    }

    cli::JobOptions options;
    options.port = deco.SlavePath();
    options.clock = &clock;
    options.service = true;
    options.write = row.write;
    options.method = row.method;
    options.selection.Firmware = true;
    options.selection.FirmwareFile = firmware;
    options.selection.Channel = !channel.empty();
    options.selection.ChannelFile = channel;
    testing_support::CapturingHost host;
    std::atomic<bool> interrupted{false};
    EXPECT_EQ(cli::RunReadOrWrite(options, host, interrupted), cli::ExitJobFailed);
    EXPECT_NE(host.Err().find(row.message), std::string::npos) << host.Err();
    EXPECT_EQ(deco.Model().CommandLog().size(), commandsBefore);
  }
}

namespace {

enum class Fault { DropReply, Restart, HangUp, WeakWord };
// What a row does once Abort has returned the window to idle: Disconnect (the deco sent to
// standby), Disconnect asked about first (a WRITE left the flash unproven: No keeps the
// connection, Yes sends the exit), WRITE again, stay connected, or Connect shown (the deco
// was lost: the connection ended without a word to it).
enum class ThenDo { Disconnect, DisconnectAsked, WriteAgain, StayConnected, ConnectShown };

// A job that ends by an error: the worker logs "ERROR: ..." and posts no done message, so the
// window waits for Abort.
struct JobErrorRow {
  const char* name;
  const char* ticks;  // F firmware, E EEPROM, C channel
  bool write = false;
  bool safe = false;
  Fault fault;
  int at = 0;  // the job's command that the fault hits, from 1
  unsigned timeoutDivisor = QuickTimeOuts;
  int waitMs = JobTimeoutMs;
  std::vector<std::string> before{};  // lines the job logs before its error line
  std::string error{};                // how its error line begins
  std::vector<std::string> after{};   // the lines right after it
  // Abort comes before the window's watch has looked at the ended job.
  bool abortFirst = false;
  ThenDo then;
};

void PrintTo(const JobErrorRow& row, std::ostream* out) {
  *out << row.name;
}

class JobErrorTest : public MainWindowTest, public ::testing::WithParamInterface<JobErrorRow> {
 protected:
  JobErrorTest() : MainWindowTest(testing_support::InService(), GetParam().timeoutDivisor) {
    view.Choose(Control::RadioButton5);
  }
};

constexpr const char* AbortLine = "Press [Abort] to return to idle.";
constexpr const char* StillInService =
    "The deco is still in Service mode (-SE-) at 115200 baud. Do not switch it off: its memory "
    "may be incomplete.";
constexpr const char* WriteAgain =
    "It can be written again: press [Abort] to return to idle, then [WRITE].";
constexpr const char* TimeoutError = "ERROR: Communication error 9997: Timeout during operation";
// The line that names a WRITE's backup folder, completed by the test.
constexpr const char* BackupNamed = "Backup of the deco before this WRITE: ";
constexpr const char* LostDeco =
    "The deco no longer answers: no answer since command {}: the deco may have restarted; check "
    "its display.";
constexpr const char* ChooseStatus =
    "The connection is ended without a word to the deco. Choose its Status as its display shows "
    "(Standby --:-- or Service -SE-), then [Connect].";
constexpr int EepromReadCommands = 16;
constexpr uint32_t WeakWordInSector3 = 0x7FE10100u;
constexpr uint32_t WeakWordValue = 0x12345678u;

}  // namespace

TEST_P(JobErrorTest, TheLogSaysWhatTheJobLeftAndAbortReturnsToIdle) {
  const JobErrorRow& row = GetParam();
  const std::string ticks = row.ticks;
  Connect();
  if (ticks.find('F') != std::string::npos) Tick(Control::CheckBox1, Control::Edit1, "Fw.bin");
  if (ticks.find('E') != std::string::npos) {
    Tick(Control::CheckBox2, Control::Edit2, "E.bin");
    std::string image(static_cast<size_t>(protocol::EepromImageBytes), '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 5 + 1);
    if (row.write) WriteFile(dir.File("E.bin"), image);
  }
  if (ticks.find('C') != std::string::npos) {
    Tick(Control::CheckBox3, Control::Edit3, "Ch.bin");
    std::vector<uint8_t> flash = deco.Model().Flash();
    std::string image(flash.begin(), flash.begin() + protocol::ChannelImageBytes);
    for (int b = 0; b < 4; ++b)
      image[WeakWordInSector3 - protocol::FlashBase + static_cast<uint32_t>(b)] =
          static_cast<char>(WeakWordValue >> (8 * b));
    // A READ's target from an earlier run, which this one must not call its own.
    WriteFile(dir.File("Ch.bin"), row.write ? image : std::string(image.size(), 'x'));
  }
  if (row.safe) view.Choose(Control::RadioButton2);
  sim::Faults faults;
  const int at = deco.Model().CommandCount() + row.at;
  switch (row.fault) {
    case Fault::DropReply:
      faults.DropReplyAt = at;
      break;
    case Fault::Restart:
      faults.RestartAt = at;
      break;
    case Fault::HangUp:
      faults.HangUpAfter = at;
      break;
    case Fault::WeakWord:
      faults.WeakWordAddress = WeakWordInSector3;
      faults.WeakWordFailures = 2;
      break;
  }
  deco.Model().SetFaults(faults);

  const size_t start = view.log.size();
  view.timerRuns = !row.abortFirst;
  row.write ? form->Button6Click() : form->Button5Click();
  ASSERT_NE(form->Worker(), nullptr);
  ASSERT_TRUE(
      view.PumpUntil([&] { return !form->Worker() || form->Worker()->Finished(); }, row.waitMs));
  // The window notices the end at its watch's next look, and stops looking.
  if (!row.abortFirst) {
    EXPECT_TRUE(view.PumpUntil([&] { return !view.watching; }, 1000));
  }
  ASSERT_NE(form->Worker(), nullptr) << "the job ended as if it had succeeded";

  // Abort: the window idle again, still connected unless the deco was lost.
  const bool lost = row.then == ThenDo::ConnectShown;
  view.asked.clear();
  const size_t beforeAbort = view.log.size();
  form->Button1Click();
  ASSERT_FALSE(view.asked.empty());
  EXPECT_EQ(view.asked.back().text, "Thread Aborted");
  EXPECT_EQ(form->Worker(), nullptr);
  EXPECT_TRUE(view.State(Control::Button5).visible);
  EXPECT_FALSE(view.State(Control::Button1).visible);
  EXPECT_EQ(form->Connected(), !lost);
  EXPECT_EQ(view.Text(Control::Button4), lost ? "Connect" : "Disconnect");
  if (lost) {
    EXPECT_TRUE(view.Usable(Control::RadioButton4));
  }
  if (!lost) {
    EXPECT_TRUE(deco.Model().InService());
  }
  view.timerRuns = true;
  view.Pump();

  // What the job left is told once: at the watch's look, or else by Abort.
  EXPECT_EQ(view.log.size() - beforeAbort, row.abortFirst ? row.after.size() : 0u);
  const std::vector<std::string> lines = LogFrom(start);
  auto error = std::find_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("ERROR: ", 0) == 0; });
  ASSERT_NE(error, lines.end()) << testing::PrintToString(lines);
  EXPECT_EQ(error->rfind(row.error, 0), 0u) << *error;
  for (const std::string& line : row.before)
    EXPECT_NE(std::find(lines.begin(), error, line), error) << line;
  // The backup's name completed; "{}" stands for a command's number, "..." at the end for any
  // rest of the line.
  std::vector<std::string> after = row.after, told(error + 1, lines.end());
  for (std::string& line : told)
    for (size_t at; (at = line.find(dir.Path() + "/")) != std::string::npos;)
      line.erase(at, dir.Path().size() + 1);
  for (size_t i = 0; i < after.size() && i < told.size(); ++i) {
    if (after[i] == BackupNamed) after[i] += form->Names().BackupFolderName + ".";
    const size_t rest = after[i].size() - 3;
    if (after[i].size() > 3 && after[i].compare(rest, 3, "...") == 0 &&
        told[i].compare(0, rest, after[i], 0, rest) == 0)
      after[i] = told[i];
    const size_t number = after[i].find("{}");
    const size_t digits = told[i].find_first_not_of("0123456789", number);
    if (number != std::string::npos && told[i].compare(0, number, after[i], 0, number) == 0 &&
        digits != std::string::npos && digits > number)
      after[i].replace(number, 2, told[i].substr(number, digits - number));
  }
  EXPECT_EQ(told, after);

  // A READ that failed keeps the earlier dump as it was.
  if (!row.write && ticks.find('C') != std::string::npos) {
    EXPECT_EQ(ReadFile(dir.File("Ch.bin")), std::string(protocol::ChannelImageBytes, 'x'));
  }
  deco.Model().SetFaults(sim::Faults());
  const size_t afterAbort = view.log.size();
  switch (row.then) {
    case ThenDo::DisconnectAsked: {
      view.asked.clear();
      form->Button4Click();  // No, the box's default
      ASSERT_EQ(view.asked.size(), 1u);
      EXPECT_EQ(view.asked[0].kind, "RiskWarning");
      EXPECT_NE(view.asked[0].text.find(transfer::HalfWrittenFlashRisk + 1), std::string::npos)
          << view.asked[0].text;
      EXPECT_TRUE(form->Connected());
      EXPECT_TRUE(deco.Model().InService());
      EXPECT_TRUE(view.Usable(Control::Button6));
      view.answers = {true};
      form->Button4Click();
      EXPECT_FALSE(form->Connected());
      EXPECT_FALSE(deco.Model().InService());
      break;
    }
    case ThenDo::ConnectShown: {
      const std::vector<std::string> heard = deco.Model().CommandLog();
      EXPECT_EQ(std::count(heard.begin(), heard.end(), "100"), 0);
      EXPECT_FALSE(form->Link().IsOpen());
      // As the display shows: a restarted deco in standby, connected again from there.
      view.Choose(deco.Model().InService() ? Control::RadioButton5 : Control::RadioButton4);
      if (row.fault == Fault::HangUp) break;  // the line is gone for good
      Connect();
      break;
    }
    case ThenDo::Disconnect: {
      form->Button4Click();
      std::vector<std::string> exit = LogFrom(afterAbort);
      EXPECT_EQ(std::count(exit.begin(), exit.end(), "ERROR when Exit -SE-"), 0);
      EXPECT_EQ(std::count(exit.begin(), exit.end(), "OK : Deco must be Standby now!"), 1);
      EXPECT_FALSE(form->Connected());
      EXPECT_FALSE(deco.Model().InService());
      break;
    }
    case ThenDo::WriteAgain: {
      form->Button6Click();
      ASSERT_TRUE(WaitForJobEnd());
      std::vector<uint8_t> eeprom = deco.Model().Eeprom();
      EXPECT_EQ(std::string(eeprom.begin(), eeprom.end()), ReadFile(dir.File("E.bin")));
      EXPECT_TRUE(form->Connected());
      break;
    }
    case ThenDo::StayConnected:
      EXPECT_TRUE(form->Link().IsOpen());
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JobErrorTest,
    ::testing::Values(
        // The deco restarts at firmware block 50 (a power glitch) and answers no more: the EEPROM
        // read in full is in place, the firmware's part stays apart from any Fw.bin, the earlier
        // Ch.bin is kept, and the connection ends without a word to the deco.
        JobErrorRow{.name = "ReadLosesTheDeco",
                    .ticks = "FEC",
                    .fault = Fault::Restart,
                    .at = EepromReadCommands + 50,
                    .error = "ERROR: ",
                    .after = {"The READ did not finish, but E.bin was read in full and is in place.",
                              "the READ did not finish: Fw.bin was not made; what was read is in Fw.bin.partial",
                              LostDeco, ChooseStatus, AbortLine},
                    .then = ThenDo::ConnectShown},
        JobErrorRow{.name = "ChannelReadLosesTheDeco",
                    .ticks = "C",
                    .fault = Fault::Restart,
                    .at = 100,
                    .error = "ERROR: ",
                    .after = {"the READ did not finish: Ch.bin is unchanged; what was read is in Ch.bin.partial",
                              LostDeco, ChooseStatus, AbortLine},
                    .then = ThenDo::ConnectShown},
        // Abort pressed before the window's watch has looked: Abort tells what the job left,
        // and sends nobody to Abort.
        JobErrorRow{.name = "ReadLosesTheDecoAbortedBeforeTheWatchLooks",
                    .ticks = "F",
                    .fault = Fault::Restart,
                    .at = 50,
                    .error = "ERROR: ",
                    .after = {"the READ did not finish: Fw.bin was not made; what was read is in Fw.bin.partial",
                              LostDeco, ChooseStatus},
                    .abortFirst = true,
                    .then = ThenDo::ConnectShown},
        // One lost reply to an EEPROM line's write (after the backup's reads): asked again, the
        // deco answers in service mode.
        JobErrorRow{.name = "EepromWriteTimesOutAbortedBeforeTheWatchLooks",
                    .ticks = "E",
                    .write = true,
                    .fault = Fault::DropReply,
                    .at = EepromReadCommands + 5,
                    .error = TimeoutError,
                    .after = {BackupNamed, StillInService, "It can be written again with [WRITE]."},
                    .abortFirst = true,
                    .then = ThenDo::WriteAgain},
        JobErrorRow{.name = "EepromWriteTimesOut",
                    .ticks = "E",
                    .write = true,
                    .fault = Fault::DropReply,
                    .at = EepromReadCommands + 5,
                    .error = TimeoutError,
                    .after = {BackupNamed, StillInService, WriteAgain},
                    .then = ThenDo::WriteAgain},
        // A word in sector 3 ignores its programming twice: the Safe method's rewrite does not
        // mend it, and the final check finds it and names it. Disconnect then asks first. No time-out is
        // waited for: real ones.
        JobErrorRow{.name = "SafeChannelWriteFinalCheckFindsAWeakWord",
                    .ticks = "C",
                    .write = true,
                    .safe = true,
                    .fault = Fault::WeakWord,
                    .timeoutDivisor = 1,
                    .waitMs = 5 * JobTimeoutMs,
                    .before = {"Final check FAILED: sector(s) 3 differ from Ch.bin.",
                               "  sector 3: first differing word 7FE10100: deco FFFFFFFF, "
                               "written 12345678"},
                    .error = "ERROR: the final check found",
                    .after = {BackupNamed, StillInService, WriteAgain},
                    .then = ThenDo::DisconnectAsked},
        // The deco restarts in the middle of a channel WRITE: nothing is said of service mode,
        // nothing is sent, and Connect from standby reaches it again.
        JobErrorRow{.name = "ChannelWriteLosesTheDeco",
                    .ticks = "C",
                    .write = true,
                    .fault = Fault::Restart,
                    .at = 3000,
                    .error = "ERROR: ",
                    .after = {BackupNamed,
                              "Do not switch the deco off: its memory may be incomplete. It can be "
                              "written again once it is connected.",
                              LostDeco, ChooseStatus, AbortLine},
                    .then = ThenDo::ConnectShown},
        // The line closes mid-READ: the log says so, and the connection ends.
        JobErrorRow{.name = "ReadLosesTheLine",
                    .ticks = "E",
                    .fault = Fault::HangUp,
                    .at = 5,
                    .error = "ERROR: ",
                    .after = {"the READ did not finish: E.bin was not made; what was read is in E.bin.partial",
                              // The line's end is told as the system reports it.
                              "The deco no longer answers: ...",
                              ChooseStatus, AbortLine},
                    .then = ThenDo::ConnectShown}),
    [](const ::testing::TestParamInfo<JobErrorRow>& info) { return std::string(info.param.name); });

// On a line that loses one reply, a window READ asks again, as the command line does, and ends
// with whole dumps; the reply that came late is never taken for the exit's answer.
class OneLostReplyTest : public MainWindowTest {
 protected:
  OneLostReplyTest() : MainWindowTest(testing_support::InService(), QuickTimeOuts) {
    view.Choose(Control::RadioButton5);
  }
};

TEST_F(OneLostReplyTest, AReadAsksAgainAndEndsWithWholeDumps) {
  struct Row {
    const char* name;
    bool late;  // else lost
    int at;     // the READ's command, from 1
  } rows[] = {
      {"a late reply to a firmware block", true, 20},
      {"a lost reply to a firmware block", false, 300},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    view.Choose(deco.Model().InService() ? Control::RadioButton5 : Control::RadioButton4);
    Connect();
    Tick(Control::CheckBox1, Control::Edit1, "Fw.bin");
    WriteFile(dir.File("Fw.bin"), "an earlier dump");
    sim::Faults faults;
    const int at = deco.Model().CommandCount() + row.at;
    if (row.late) {
      faults.SlowReplyAt = at;
      // Twice the wait for a reply's first byte.
      faults.SlowReplyMs =
          clock.TimeoutMs(2 * protocol::FirstByteTimeoutFactor * protocol::StandardBaseTimeout);
    } else {
      faults.DropReplyAt = at;
    }
    deco.Model().SetFaults(faults);
    const size_t start = view.log.size();
    form->Button5Click();
    ASSERT_TRUE(WaitForJobEnd());
    const std::vector<std::string> lines = LogFrom(start);
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& line) { return line.rfind("Retry 1 of 2", 0) == 0; }),
              lines.end())
        << testing::PrintToString(lines);
    const std::vector<uint8_t> flash = deco.Model().Flash();
    EXPECT_EQ(ReadFile(dir.File("Fw.bin")), std::string(flash.begin(), flash.end()));
    EXPECT_FALSE(std::filesystem::exists(dir.File("Fw.bin.partial")));
    deco.Model().SetFaults(sim::Faults());
    const size_t beforeExit = view.log.size();
    form->Button4Click();
    const std::vector<std::string> exit = LogFrom(beforeExit);
    EXPECT_EQ(std::count(exit.begin(), exit.end(), "OK : Deco must be Standby now!"), 1);
    EXPECT_FALSE(deco.Model().InService());
  }
}

// pyrelink-cli as a user runs it: a subprocess against pyrelink-sim on a pty, on the real clock.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pyrelink_version.h"
#include "sim/deco_model.h"
#include "sim/sim_process.h"
#include "support/files.h"
#include "support/pty_pair.h"

using testing_support::AsText;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

class SimProcess : public sim::SimProcess {
 public:
  explicit SimProcess(const std::string& arguments)
      : sim::SimProcess(PYRELINK_SIM_PATH, "--no-announce " + arguments) {}
};

struct CliRun {
  int exitCode;
  std::string out;
};

CliRun RunCli(const std::string& arguments, const std::string& folder,
              const std::string& runAs = "", const std::string& errFile = "stderr.txt") {
  std::string command = "cd " + folder + " && " + runAs + PYRELINK_CLI_PATH + " " + arguments +
                        " 2>" + folder + "/" + errFile;
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// Runs the CLI with its output on a pipe whose reader has already gone, as when `| tee` ended
// with Ctrl-C; answers its exit status, or 128 + the signal that ended it.
int RunCliIntoClosedPipe(const std::string& arguments, const std::string& folder) {
  const std::string command = "cd " + folder + " && exec " + PYRELINK_CLI_PATH + " " + arguments;
  int ends[2];
  if (::pipe(ends) != 0) return -1;
  ::close(ends[0]);
  pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGPIPE, SIG_DFL);  // as a shell starts it, whatever the test runner ignores
    ::dup2(ends[1], STDOUT_FILENO);
    ::dup2(ends[1], STDERR_FILENO);
    ::close(ends[1]);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(ends[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The CLI runs on the real clock, so a phase's seconds depend on the machine's load.
std::string WithoutSeconds(const std::string& out) {
  static const std::regex seconds(R"(\(\d+ sec\.\))");
  return std::regex_replace(out, seconds, "(N sec.)");
}

}  // namespace

TEST(CliTest, ReadEndToEnd) {
  TempDir dir;
  SimProcess sim("--save-eeprom " + dir.File("sim-eeprom.bin"));
  CliRun run = RunCli("--port " + sim.Port() + " read --eeprom E.bin --channel Ch.bin", dir.Path());
  EXPECT_EQ(run.exitCode, 0) << ReadFile(dir.File("stderr.txt"));
  EXPECT_EQ(WithoutSeconds(run.out),
            "Display of deco must show -SE-\n" + std::string(sim::DefaultModel) +
                "\nSet baudrate 115200 ...\nOK\nInitializing deco ...\nOK\n"
                "Read EEPROM is finished 100% (N sec.)\nRead CHANNEL ...\n"
                "Read CHANNEL ... is finished 100% (N sec.)\nExit -SE-\n"
                "OK : Deco must be Standby now!\n==============================\n");
  // With nobody left to read its output the READ still ends right, its log and report whole.
  EXPECT_EQ(RunCliIntoClosedPipe("--port " + sim.Port() + " --log run.log --report run.json " +
                                     "read --eeprom Again.bin --yes",
                                 dir.Path()),
            0);
  EXPECT_EQ(ReadFile(dir.File("Again.bin")), ReadFile(dir.File("E.bin")));
  EXPECT_NE(ReadFile(dir.File("run.log")).find("OK : Deco must be Standby now!"), std::string::npos);
  EXPECT_NE(ReadFile(dir.File("run.json")).find("\"result\": \"done\""), std::string::npos);
  EXPECT_EQ(sim.Finish(), 0);
  EXPECT_EQ(ReadFile(dir.File("E.bin")), ReadFile(dir.File("sim-eeprom.bin")));
  EXPECT_EQ(ReadFile(dir.File("Ch.bin")), AsText(sim::DecoModel::PatternFlash()).substr(0, 524288));
  EXPECT_NE(ReadFile(dir.File("stderr.txt")).find("progress 100%"), std::string::npos);
}

// A shop starts one run per deco from a script: two runs in one folder, in the same second, each
// merging its own channel list into the same firmware. Each writes its own deco with its own
// merged image and compares with its own read-back.
TEST(CliTest, TwoRunsStartedTogetherKeepTheirOwnFiles) {
  TempDir dir;
  const std::string flash = AsText(sim::DecoModel::PatternFlash());
  testing_support::WriteFile(dir.File("Fw.bin"), flash);
  const char* names[] = {"A", "B"};
  std::vector<std::unique_ptr<SimProcess>> decos;
  std::vector<std::string> expected;
  for (int i = 0; i < 2; ++i) {
    // Each channel list differs from the deco in sector 3 alone, and from the other one.
    std::string channel = flash.substr(0, 524288);
    channel[0x10000 + i] = static_cast<char>(channel[0x10000 + i] ^ 0x5A);
    testing_support::WriteFile(dir.File(std::string("Ch") + names[i] + ".bin"), channel);
    expected.push_back(channel + flash.substr(524288));
    decos.push_back(std::make_unique<SimProcess>("--in-service --save-flash " +
                                                 dir.File(std::string("flash") + names[i])));
  }
  CliRun runs[2];
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      runs[i] = RunCli("--port " + decos[static_cast<size_t>(i)]->Port() +
                           " --service write --firmware Fw.bin --channel Ch" + names[i] +
                           ".bin --method diff --yes",
                       dir.Path(), "", std::string("stderr") + names[i] + ".txt");
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(runs[i].exitCode, 0) << ReadFile(dir.File(std::string("stderr") + names[i] + ".txt"));
    EXPECT_NE(runs[i].out.find("Final check: sector(s) 3 hold what was written."),
              std::string::npos)
        << runs[i].out;
    EXPECT_EQ(decos[static_cast<size_t>(i)]->Finish(), 0);
    EXPECT_TRUE(ReadFile(dir.File(std::string("flash") + names[i])) ==
                expected[static_cast<size_t>(i)]);
  }
  // Two merged images and two read-backs, whatever their stamps.
  size_t merged = 0, readBacks = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    std::string name = entry.path().filename().string();
    merged += name.rfind("_2MB_MERGED_", 0) == 0;
    readBacks += name.rfind("_2MB_", 0) == 0 && name.rfind("_2MB_MERGED_", 0) != 0;
  }
  EXPECT_EQ(merged, 2u);
  EXPECT_EQ(readBacks, 2u);
}

// Ctrl-C at the WRITE's question ends the run at once with 130, before the port is opened.
TEST(CliTest, CtrlCAtTheQuestionEndsTheRunBeforeThePortOpens) {
  constexpr int PollMs = 10;
  constexpr int Polls = 500;  // at most 5 s for each step
  TempDir dir;
  testing_support::WriteFile(dir.File("E.bin"), std::string(2048, '\x5A'));
  testing_support::PtyPair deco;      // nothing may reach it
  testing_support::PtyPair terminal;  // where the user answers
  const std::string command = "cd " + dir.Path() + " && exec " + PYRELINK_CLI_PATH + " --port " +
                              deco.SlavePath() + " write --eeprom E.bin --no-backup 2>stderr.txt";
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(::open(terminal.SlavePath().c_str(), O_RDWR | O_NOCTTY), STDIN_FILENO);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto poll = [&](const std::function<bool()>& done) {
    for (int i = 0; i < Polls; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(PollMs));
    }
    return false;
  };
  EXPECT_TRUE(poll([&] { return ReadFile(dir.File("stderr.txt")).find("[y/N]") != std::string::npos; }));
  ::kill(child, SIGINT);
  int status = 0;
  const bool ended = poll([&] { return ::waitpid(child, &status, WNOHANG) == child; });
  if (!ended) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  EXPECT_TRUE(ended) << "the question stayed open after Ctrl-C";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
  EXPECT_EQ(deco.ReadMaster(PollMs), "");
}

TEST(CliTest, EveryProgramTellsItsVersion) {
  for (const char* program : {PYRELINK_CLI_PATH, PYRELINK_SIM_PATH}) {
    SCOPED_TRACE(program);
    FILE* pipe = ::popen((std::string(program) + " --version").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[256];
    std::string out(buffer, std::fread(buffer, 1, sizeof buffer, pipe));
    int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(out, std::filesystem::path(program).filename().string() + " " + PyrelinkVersion +
                       "\n");
    // The parser's marks of a flag's default are no help to a person.
    pipe = ::popen((std::string(program) + " --help").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string help;
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) help.append(buffer, n);
    ::pclose(pipe);
    EXPECT_EQ(help.find("{false}"), std::string::npos) << help;
  }
}

TEST(CliTest, RefusalsAndFailuresExitNonZero) {
  TempDir dir;
  testing_support::WriteFile(dir.File("E.bin"), "short");
  testing_support::WriteFile(dir.File("Eeprom.bin"), std::string(2048, '\x5A'));
  std::filesystem::create_directory(dir.File("dumps"));
  testing_support::WriteFile(dir.File("dumps/Fw.bin"), "short");
  // A port in use: held with the lock another program of this kind takes (root passes the
  // tty's own exclusive mode).
  SimProcess busy("");
  const int held = ::open(busy.Port().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  // A dump another run is writing: its partial file held with the lock such a run takes.
  const std::string othersDump = dir.File("Busy.bin.partial");
  testing_support::WriteFile(othersDump, "another run's dump");
  const int writing = ::open(othersDump.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(writing, 0);
  ASSERT_EQ(::flock(writing, LOCK_EX | LOCK_NB), 0);
  // Partial dumps to resume: one longer than a channel list, one a READ of the firmware left.
  testing_support::WriteFile(dir.File("Long.bin.partial"), std::string(600 * 1024, '\x11'));
  const std::string keptDump = std::string(3 * 256 + 10, '\x22');
  testing_support::WriteFile(dir.File("Kept.bin.partial"), keptDump);
  struct Row {
    std::string arguments;
    int exitCode;
    std::string reason;  // on stderr
    const char* absent;  // on neither stdout nor stderr: what would show the deco was reached
    const char* shown = "";  // on stdout
  } rows[] = {
      {"--port /dev/null write --eeprom E.bin --yes", 1,
       "E.bin does not exist or has wrong size. WRITE aborted!", ""},
      // The file as the user typed it, what it is and what it must be.
      {"--port /dev/null write --channel dumps/Fw.bin --yes", 1,
       "Fw.bin does not exist or has wrong size. WRITE aborted!\n"
       "pyrelink-cli: dumps/Fw.bin has 5 bytes; a channel list image has 524288 bytes\n",
       ""},
      {"--port /dev/null write --channel dumps/Gone.bin --method diff --yes", 1,
       "pyrelink-cli: dumps/Gone.bin does not exist; the Different blocks method takes any file "
       "of a non-zero multiple of 8 bytes\n",
       ""},
      {"--port /dev/null write --eeprom E.bin < /dev/null", 1, "-> No", ""},
      {"--port /dev/pyrelink-missing read --eeprom New.bin", 1, "No such file or directory", ""},
      // Options of the whole run are taken after the subcommand too.
      {"read --eeprom New.bin --port /dev/pyrelink-missing", 1, "No such file or directory", ""},
      {"-p /dev/pyrelink-missing -b 9600 read --eeprom New.bin", 1, "No such file or directory",
       ""},
      // A port that never opened is not asked to leave service mode.
      {"--port /dev/pyrelink-missing --service read --eeprom New.bin --yes", 1,
       "/dev/pyrelink-missing: no such port: see `pyrelink-cli ports`", "Exit -SE-"},
      // A port number opens the system's device of that number: both names are said.
      {"--port COM200 read --eeprom New.bin --yes", 1,
       "connect failed: COM200 (/dev/ttyS199): Communication error 2: No such file or directory\n"
       "pyrelink-cli: /dev/ttyS199: no such port",
       "Exit -SE-"},
      {"--port " + busy.Port() + " read --eeprom New.bin --yes", 1,
       busy.Port() + " is in use by another program", "Exit -SE-"},
      // Refused before the port is opened, and the other run's dump left alone.
      {"--port /dev/pyrelink-missing read --eeprom Busy.bin --yes", 1,
       "Cannot read into Busy.bin: another run is writing Busy.bin.partial now", "no such port"},
      // A resume without its partial dump, or with one longer than the memory or in use.
      {"--port /dev/pyrelink-missing read --firmware NoDump.bin --resume --yes", 1,
       "Cannot resume NoDump.bin: there is no NoDump.bin.partial (a READ that did not finish "
       "leaves it)",
       "no such port"},
      {"--port /dev/pyrelink-missing read --channel Long.bin --resume --yes", 1,
       "Cannot resume Long.bin: Long.bin.partial holds 614400 bytes, more than a channel list "
       "image (524288)",
       "no such port"},
      {"--port /dev/pyrelink-missing read --firmware Busy.bin --resume --yes", 1,
       "Cannot read into Busy.bin: another run is writing Busy.bin.partial now", "no such port"},
      // Another dump refused: the one to resume stays as it was.
      {"--port /dev/pyrelink-missing read --firmware Kept.bin --eeprom Busy.bin --resume --yes", 1,
       "Cannot read into Busy.bin: another run is writing Busy.bin.partial now", "no such port"},
      {"--port a read --eeprom E.bin --resume", 2,
       "--resume goes on with a flash dump: give --firmware or --channel", ""},
      // Outputs that cannot be written are refused before the port is opened.
      {"--port /dev/pyrelink-missing --report nodir/r.json read --eeprom New.bin --yes", 1,
       "--report nodir/r.json: the folder nodir does not exist", "connect failed"},
      {"--port /dev/pyrelink-missing --report . read --eeprom New.bin --yes", 1,
       "--report .: a folder, not a file", "connect failed"},
      {"--port /dev/pyrelink-missing write --eeprom Eeprom.bin --work-dir nodir --yes", 1,
       "--work-dir nodir: the folder nodir does not exist", "connect failed"},
      {"--port /dev/pyrelink-missing write --eeprom Eeprom.bin --backup-dir nodir --yes", 1,
       "the WRITE's backup: the folder nodir does not exist", "connect failed"},
      {"--port /dev/pyrelink-a --port /dev/pyrelink-b --report nodir/r.json read --eeprom "
       "E_{port}.bin --yes",
       1, "--report nodir/r.json: the folder nodir does not exist", "connect failed"},
      // Usage errors, all exit 2.
      {"read --eeprom x", 2, "--port is required", ""},
      {"", 2, "A subcommand is required", ""},
      {"--port a read --eeprom x --frobnicate", 2, "--frobnicate", ""},
      // A slip of the hand is answered with the word meant, alone: the parser's own line would
      // only mislead ("A subcommand is required" after one was typed).
      {"--port a raed --eeprom x", 2, "pyrelink-cli: raed is no subcommand: did you mean read?",
       "A subcommand is required"},
      {"--port a read --eprom x", 2,
       "pyrelink-cli: --eprom is no option of read: did you mean --eeprom?",
       "were not expected"},
      {"--port a write --eeprom E.bin --no-final-chek", 2,
       "pyrelink-cli: --no-final-chek is no option of write: did you mean --no-final-check?", ""},
      {"--port a --baud 57600 read --eeprom x", 2, "57600", ""},
      {"--port a write --eeprom E.bin --method fast", 2, "fast", ""},
      {"--port a read", 2, "read needs at least one memory: --firmware, --eeprom or --channel", ""},
      {"--port a write --yes", 2, "write needs at least one memory", ""},
      // Options that cannot be served: no comparison after skipping words, one dump for two decos.
      {"--port a write --eeprom E.bin --skip-blank-words --no-final-check --yes", 2,
       "--skip-blank-words needs a comparison", ""},
      {"--port a write --firmware Fw.bin --fast-program --no-final-check --yes", 2,
       "--fast-program needs a comparison", ""},
      {"--port a write --channel Ch.bin --erase-poll --no-final-check --yes", 2,
       "--erase-poll needs a comparison", ""},
      {"--port a write --channel Ch.bin --fast --no-final-check --yes", 2,
       "--fast includes the final check: drop --no-final-check", ""},
      {"--port a write --eeprom Eeprom.bin --no-backup --backup-dir b --yes", 2,
       "--backup-dir excludes --no-backup", ""},
      {"--port a --port b chip", 2, "chip needs one --port", ""},
      {"--port a --port b verify --eeprom E.bin", 2, "verify needs one --port", ""},
      {"--port a verify", 2, "verify needs at least one memory", ""},
      {"--port a --port b read --eeprom E.bin --yes", 2, "every READ file needs {port}", ""},
      {"extract --yes missing.bin Ch.bin", 2, "missing.bin", ""},
      // Help: what to run where, the options of the run each subcommand takes, no parser's marks.
      {"read --help", 0, "", "where the READ ran",
       "sha256sum -c in the dump's folder"},
      {"read --help", 0, "", "", "Options of the whole run, before or after the subcommand:"},
      {"read --help", 0, "", "", "--trace"},
      {"standby --help", 0, "", "", "--trace"},
      {"write --help", 0, "", "{false}", "--no-final-check"},
      {"write --help", 0, "", "", "--report"},
      {"write --help", 0, "", "", "--no-backup"},
      {"write --help", 0, "", "", "--work-dir"},
      {"line-check --help", 0, "", "--report", "--retries"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.arguments);
    CliRun run = RunCli(row.arguments, dir.Path());
    std::string err = ReadFile(dir.File("stderr.txt"));
    EXPECT_EQ(run.exitCode, row.exitCode) << err;
    EXPECT_NE(err.find(row.reason), std::string::npos) << err;
    EXPECT_NE(run.out.find(row.shown), std::string::npos) << run.out;
    // Every message of a usage error is the program's own.
    if (row.exitCode == 2) {
      std::istringstream lines(err);
      for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(line.rfind("pyrelink-cli: ", 0), 0u) << err;
    }
    if (*row.absent) {
      EXPECT_EQ(err.find(row.absent), std::string::npos) << err;
      EXPECT_EQ(run.out.find(row.absent), std::string::npos) << run.out;
    }
  }
  ::close(held);
  EXPECT_EQ(ReadFile(othersDump), "another run's dump");
  EXPECT_EQ(ReadFile(dir.File("Kept.bin.partial")), keptDump.substr(0, 3 * 256));
  ::close(writing);
  // A READ that never reached a deco leaves no partial dump of its own.
  EXPECT_FALSE(std::filesystem::exists(dir.File("New.bin.partial")));

  // A port this user may not open: the system's text, then how to get access. Root may open
  // anything, so the CLI then runs as nobody.
  testing_support::PtyPair pty;
  std::string runAs;
  if (::geteuid() == 0) {
    runAs = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);  // for the dump
  } else {
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0), 0);
  }
  CliRun denied =
      RunCli("--port " + pty.SlavePath() + " read --eeprom New.bin --yes", dir.Path(), runAs);
  std::string err = ReadFile(dir.File("stderr.txt"));
  EXPECT_EQ(denied.exitCode, 1);
  EXPECT_NE(err.find("Communication error 13: Permission denied"), std::string::npos) << err;
  struct stat device {};
  ASSERT_EQ(::stat(pty.SlavePath().c_str(), &device), 0);
  const group* owner = ::getgrgid(device.st_gid);
  ASSERT_NE(owner, nullptr);
  EXPECT_NE(err.find(pty.SlavePath() + " may be opened by the members of group " + owner->gr_name),
            std::string::npos)
      << err;
}

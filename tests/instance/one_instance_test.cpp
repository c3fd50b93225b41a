// The single-instance guard with a recording host, the real lock, and the real program.
#include "instance/one_instance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/sim_session.h"

using instance::TOneInstance;

namespace {

struct RecordingHost : instance::InstanceHost {
  bool hasGuard = false;
  bool terminated = false;
  std::string title = "pyrelink";
  std::vector<std::string> errors, warnings, raised;
  std::string OwnerName() override { return "Form1"; }
  bool OwnerHasGuard() override { return hasGuard; }
  std::string ApplicationTitle() override { return title; }
  void SetApplicationTitle(const std::string& t) override { title = t; }
  void Terminate() override { terminated = true; }
  void ShowErrorReport(const std::string& text) override { errors.push_back(text); }
  void ShowWarning(const std::string& text) override { warnings.push_back(text); }
  bool RaiseWindowTitled(const std::string& t) override {
    raised.push_back(t);
    return true;
  }
};

// Each test gets its own runtime folder, so locks never meet another test's.
class InstanceTest : public ::testing::Test {
 protected:
  InstanceTest() { ::setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1); }
  testing_support::TempDir dir;
};

}  // namespace

TEST_F(InstanceTest, FirstCopyHoldsTheLockAndLaterCopiesEndSilently) {
  RecordingHost first, second;
  auto one = std::make_unique<TOneInstance>(first, instance::MakeInstanceLock(), "prog");
  one->Loaded();
  EXPECT_TRUE(one->OwnsMutex());
  EXPECT_FALSE(first.terminated);

  TOneInstance two(second, instance::MakeInstanceLock(), "prog");
  bool reported = false;
  two.ApplicationExists = [&](TOneInstance* sender) { reported = sender == &two; };
  two.Loaded();
  EXPECT_TRUE(reported);
  EXPECT_FALSE(two.OwnsMutex());
  EXPECT_TRUE(second.terminated);
  EXPECT_TRUE(second.errors.empty());
  EXPECT_TRUE(second.warnings.empty());

  RecordingHost renamed;
  TOneInstance other(renamed, instance::MakeInstanceLock(), "prog-copy");
  other.Loaded();
  EXPECT_TRUE(other.OwnsMutex());

  one.reset();  // the lock goes with the first copy
  RecordingHost later;
  TOneInstance third(later, instance::MakeInstanceLock(), "prog");
  third.Loaded();
  EXPECT_TRUE(third.OwnsMutex());
}

TEST_F(InstanceTest, InformUserVariantsAndRaisePrior) {
  RecordingHost first;
  TOneInstance one(first, instance::MakeInstanceLock(), "prog");
  one.Loaded();

  RecordingHost informed;
  {
    TOneInstance two(informed, instance::MakeInstanceLock(), "prog");
    two.InformUser = true;
    two.RaisePriorInstance = true;
    two.Loaded();
  }
  ASSERT_EQ(informed.errors.size(), 1u);
  EXPECT_EQ(informed.errors[0],
            "Another instance of this application appears to be running. You must \r\n"
            "close any previous instances before continuing. ");  // ends in a blank: no "."
  EXPECT_TRUE(informed.terminated);
  EXPECT_EQ(informed.raised, std::vector<std::string>{"pyrelink"});
  EXPECT_EQ(informed.title, "");

  RecordingHost keepsRunning;
  TOneInstance three(keepsRunning, instance::MakeInstanceLock(), "prog");
  three.InformUser = true;
  three.Terminate = false;
  three.Loaded();
  EXPECT_EQ(keepsRunning.warnings,
            std::vector<std::string>{"Another instance of this application appears to be running!"});
  EXPECT_FALSE(keepsRunning.terminated);
  EXPECT_FALSE(three.OwnsMutex());

  RecordingHost owner;
  owner.hasGuard = true;
  try {
    TOneInstance duplicate(owner);
    FAIL();
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "OneInstance component duplicated in Form1");
  }
}

TEST_F(InstanceTest, FailedLockIsReportedAndCountsAsRunning) {
  ::setenv("XDG_RUNTIME_DIR", "/proc/pyrelink-cannot-create", 1);
  RecordingHost host;
  TOneInstance guard(host, instance::MakeInstanceLock(), "prog");
  guard.Loaded();
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0].rfind("Unable to verify that Mutex already exists! An Exception was "
                                 "raised with the message : ",
                                 0),
            0u);
  EXPECT_TRUE(host.terminated);
}

#ifdef PYRELINK_GUI_PATH
namespace {
pid_t Start(const std::string& program) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// The exit status, or -1 while the process still runs after waitMs.
int ExitWithin(pid_t pid, int waitMs) {
  for (int spent = 0; spent <= waitMs; spent += 20) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

void Stop(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}
}  // namespace

TEST_F(InstanceTest, SecondProgramEndsAtOnceRenamedCopyRuns) {
  pid_t first = Start(PYRELINK_GUI_PATH);
  ASSERT_EQ(ExitWithin(first, 1500), -1);  // the first copy keeps running
  pid_t second = Start(PYRELINK_GUI_PATH);
  EXPECT_EQ(ExitWithin(second, 10000), 0);
  std::string renamed = dir.File("pyrelink-renamed");
  std::filesystem::copy_file(PYRELINK_GUI_PATH, renamed);
  pid_t third = Start(renamed);
  EXPECT_EQ(ExitWithin(third, 1500), -1);
  Stop(third);
  // Ctrl-C in its terminal closes the idle window as its close button does: a clean exit.
  ::kill(first, SIGINT);
  const int closed = ExitWithin(first, 10000);
  if (closed == -1) Stop(first);
  EXPECT_EQ(closed, 0);
}

// Qt alone would end a window started without a display by an abort and a core dump.
TEST_F(InstanceTest, WindowWithoutADisplaySaysWhatWorksInstead) {
  const std::string errFile = dir.File("stderr.txt");
  pid_t pid = ::fork();
  if (pid == 0) {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
      ::unsetenv(variable);
    int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(err, STDERR_FILENO);
    ::execl(PYRELINK_GUI_PATH, PYRELINK_GUI_PATH, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const int status = ExitWithin(pid, 10000);
  if (status == -1) Stop(pid);
  EXPECT_EQ(status, 1);
  const std::string err = testing_support::ReadFile(errFile);
  EXPECT_NE(err.find("pyrelink: the window needs a display"), std::string::npos) << err;
  EXPECT_NE(err.find("use pyrelink-cli, which works without one"), std::string::npos) << err;
}
#endif

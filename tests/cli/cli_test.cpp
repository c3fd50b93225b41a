// pyrelink-cli as a user runs it: a subprocess against pyrelink-sim on a pty (real clock).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "sim/deco_model.h"
#include "sim/sim_process.h"
#include "support/sim_session.h"

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

CliRun RunCli(const std::string& arguments, const std::string& folder) {
  std::string command = "cd " + folder + " && " + PYRELINK_CLI_PATH + " " + arguments +
                        " 2>" + folder + "/stderr.txt";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

}  // namespace

TEST(CliTest, ReadEndToEnd) {
  TempDir dir;
  SimProcess sim("--save-eeprom " + dir.File("sim-eeprom.bin"));
  CliRun run = RunCli("--port " + sim.Port() + " read --eeprom E.bin --channel Ch.bin", dir.Path());
  EXPECT_EQ(run.exitCode, 0) << ReadFile(dir.File("stderr.txt"));
  EXPECT_EQ(run.out,
            "Display of deco must show -SE-\n" + std::string(sim::DefaultModel) +
                "\nSet baudrate 115200 ...\nOK\nInitializing deco ...\nOK\n"
                "Read EEPROM is finished 100% (0 sec.)\nRead CHANNEL ...\n"
                "Read CHANNEL ... is finished 100% (0 sec.)\nExit -SE-\n"
                "OK : Deco must be Standby now!\n==============================\n");
  EXPECT_EQ(sim.Finish(), 0);
  EXPECT_EQ(ReadFile(dir.File("E.bin")), ReadFile(dir.File("sim-eeprom.bin")));
  EXPECT_EQ(ReadFile(dir.File("Ch.bin")), AsText(sim::DecoModel::PatternFlash()).substr(0, 524288));
  EXPECT_NE(ReadFile(dir.File("stderr.txt")).find("progress 100%"), std::string::npos);
}

TEST(CliTest, RefusalsAndFailuresExitNonZero) {
  TempDir dir;
  testing_support::WriteFile(dir.File("E.bin"), "short");
  CliRun wrongSize = RunCli("--port /dev/null write --eeprom E.bin --yes", dir.Path());
  EXPECT_EQ(wrongSize.exitCode, 1);
  EXPECT_NE(ReadFile(dir.File("stderr.txt"))
                .find("E.bin does not exist or has wrong size. WRITE aborted!"),
            std::string::npos);

  CliRun notConfirmed = RunCli("--port /dev/null write --eeprom E.bin < /dev/null", dir.Path());
  EXPECT_EQ(notConfirmed.exitCode, 1);

  CliRun noPort = RunCli("--port /dev/pyrelink-missing read --eeprom New.bin", dir.Path());
  EXPECT_EQ(noPort.exitCode, 1);
  EXPECT_NE(ReadFile(dir.File("stderr.txt")).find("No such file or directory"), std::string::npos);
  EXPECT_EQ(RunCli("read --eeprom x", dir.Path()).exitCode, 2);
}

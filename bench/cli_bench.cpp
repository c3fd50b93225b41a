// Whole jobs through pyrelink-cli against pyrelink-sim: wall and CPU time per command
// transaction, the paced read's wall time against its wire time, and the CLI's peak memory. A
// phase's time is the one the run's report gives.
// Usage: cli_bench read | write | paced-channel
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double BitsPerCharacter = 10.0;
constexpr double FixedWaitsRead = 2 + 1;  // the read job: 2 s after the EEPROM, 1 s at the end
constexpr double ConnectAndDisconnectWaits = 3 + 2 + 2;

struct Result {
  double wall = 0;
  double cpu = 0;
  long maxRssKiB = 0;
};

Result RunCli(const std::string& arguments) {
  auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    std::string command =
        std::string("exec ") + PYRELINK_CLI_PATH + " " + arguments + " >/dev/null 2>/dev/null";
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  Result result;
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  result.wall = std::chrono::duration<double>(Clock::now() - start).count();
  result.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  result.maxRssKiB = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "cli_bench: pyrelink-cli failed\n");
    std::exit(1);
  }
  return result;
}

// The seconds of the phase named by its start line in the report of a run of one deco.
double PhaseSeconds(const std::string& reportFile, const std::string& phase) {
  std::ifstream file(reportFile);
  const nlohmann::json report = nlohmann::json::parse(file, nullptr, false);
  if (!report.is_discarded()) {
    for (const nlohmann::json& entry : report["runs"][0]["phases"])
      if (entry["phase"] == phase) return entry["seconds"].get<double>();
  }
  std::fprintf(stderr, "cli_bench: no phase \"%s\" in %s\n", phase.c_str(), reportFile.c_str());
  std::exit(1);
}

void Report(const char* name, const Result& r, double transactions, double fixedWaits) {
  double busy = r.wall - fixedWaits;
  std::printf("%s\n", name);
  std::printf("  wall %.2f s (of which %.0f s fixed protocol pauses), CPU %.2f s, peak RSS %.1f MiB\n",
              r.wall, fixedWaits, r.cpu, r.maxRssKiB / 1024.0);
  std::printf("  %.0f transactions: %.1f us wall and %.1f us CPU per transaction outside the pauses\n",
              transactions, busy / transactions * 1e6, r.cpu / transactions * 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "read";
  char folder[] = "/tmp/pyrelink-bench-XXXXXX";
  if (!::mkdtemp(folder)) return 1;
  std::string dir = folder;

  if (mode == "read") {
    sim::SimProcess deco(PYRELINK_SIM_PATH, "--no-announce");
    const std::string& port = deco.Port();
    Result r = RunCli("--port " + port + " read --firmware " + dir + "/Fw.bin --eeprom " + dir +
                      "/E.bin --channel " + dir + "/Ch.bin");
    Report("full READ (EEPROM + 2 MB firmware + channel extraction), unpaced", r,
           11 + 16 + 8192 + 1, ConnectAndDisconnectWaits + FixedWaitsRead);
  } else if (mode == "write") {
    sim::SimProcess deco(PYRELINK_SIM_PATH, "--no-announce");
    const std::string& port = deco.Port();
    std::string image = dir + "/Fw.bin";
    RunCli("--port " + port + " read --firmware " + image);
    Result r = RunCli("--port " + port + " write --firmware " + image + " --method normal --yes");
    double words = 507904 + 8;
    Report("full firmware WRITE, Normal method, unpaced", r, 11 + 1 + 19 * 6 + words * 4,
           ConnectAndDisconnectWaits + 19 * 5 + 2);
  } else if (mode == "paced-channel") {
    sim::SimProcess deco(PYRELINK_SIM_PATH, "--no-announce --pace");
    const std::string& port = deco.Port();
    const std::string report = dir + "/paced.json";
    Result r = RunCli("--port " + port + " --report " + report + " read --channel " + dir +
                      "/Ch.bin");
    double phase = PhaseSeconds(report, "Read CHANNEL ...");
    double characters = 2048.0 * ((14 + 2) + (3 + 512 + 1));
    double wire = characters * BitsPerCharacter / 115200.0;
    std::printf("channel READ paced at 115200 baud: %.2f s, wire time %.2f s, ratio %.4f\n",
                phase, wire, phase / wire);
    std::printf("  (the whole run, with connect and disconnect, took %.2f s)\n", r.wall);
  } else if (mode == "double-read") {
    sim::SimProcess deco(PYRELINK_SIM_PATH, "--no-announce");
    const std::string& port = deco.Port();
    const std::string onceReport = dir + "/once.json", twiceReport = dir + "/twice.json";
    std::string read = "read --yes --firmware " + dir + "/Fw.bin";
    Result once = RunCli("--port " + port + " --report " + onceReport + " " + read);
    Result twice =
        RunCli("--port " + port + " --report " + twiceReport + " " + read + " --double-read");
    double single = PhaseSeconds(onceReport, "Read FIRMWARE ...");
    double doubled = PhaseSeconds(twiceReport, "Read FIRMWARE ...");
    std::printf("firmware READ, unpaced: %.2f s; with --double-read %.2f s (%.2f times), CPU "
                "%.2f s against %.2f s\n",
                single, doubled, doubled / single, twice.cpu, once.cpu);
  } else if (mode == "batch") {
    constexpr int Decos = 8;
    std::vector<std::unique_ptr<sim::SimProcess>> decos;
    std::string ports;
    for (int i = 0; i < Decos; ++i) {
      decos.push_back(std::make_unique<sim::SimProcess>(PYRELINK_SIM_PATH, "--no-announce"));
      ports += "--port " + decos.back()->Port() + " ";
    }
    std::string read = " read --yes --eeprom " + dir + "/E_{port}.bin --channel " + dir +
                       "/Ch_{port}.bin";
    Result one = RunCli("--port " + decos.front()->Port() + read);
    Result all = RunCli(ports + read);
    std::printf("READ of EEPROM and channel list, unpaced: one deco %.2f s wall; %d decos at once "
                "%.2f s wall (%.2f times one), CPU %.2f s against %.2f s\n",
                one.wall, Decos, all.wall, all.wall / one.wall, all.cpu, one.cpu);
  } else {
    std::fprintf(stderr, "usage: cli_bench read | write | paced-channel | double-read | batch\n");
    return 2;
  }
  std::string cleanup = "rm -rf " + dir;
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}

// What waiting for paced decos costs the PC: CPU seconds and context switches (getrusage of the
// process doing the work, the simulated decos apart) of a paced channel READ and of 1,000 paced
// flash words of a WRITE against their wire times, and of a batch of 32 paced decos (EEPROM and
// channel list READ) beside one deco's run. With --syscalls each run goes once more under
// `strace -c -f` and its system calls are counted by kind (strace slows the run: its times are
// not shown).
// Usage: wait_cost_bench [--syscalls] [read | words | batch]...
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/deco_link.h"
#include "protocol/flash_chips.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "raw_transactions.h"
#include "sim/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t Baud = 115200;
constexpr double BitsPerCharacter = 10.0;
constexpr int Words = 1000;
constexpr int BatchDecos = 32;
constexpr int ChannelBlocks = 2048;
constexpr int CyclesPerWord = 4;              // two unlock cycles, the set-up, the data
constexpr double ReplyCharacters = 4;          // "022" CR
constexpr double WordCycleCharacters = 22 + ReplyCharacters;  // "0220" + address + data, CR LF
constexpr uint32_t ProgrammedFrom = 0x10000;
constexpr uint8_t ReadArrayCommand = 0xF0;  // the chips' reset to reading: changes nothing
// A channel READ: 2,048 block reads of 14 characters and CR LF, each answered by 516 and CR.
constexpr double ChannelReadCharacters = 2048.0 * ((14 + 2) + (3 + 512 + 1));
constexpr const char* StraceOutput = "strace.txt";

double WireSeconds(double characters) { return characters * BitsPerCharacter / Baud; }

struct Cost {
  double wall = 0;
  double user = 0;
  double system = 0;
  long voluntary = 0;    // context switches while waiting
  long involuntary = 0;  // taken off the processor
  double Cpu() const { return user + system; }
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs command through the shell, under strace when straceTo is given; its cost as wait4 tells.
Cost Run(const std::string& command, const std::string& straceTo = "") {
  const std::string line =
      straceTo.empty() ? "exec " + command
                       : "exec strace -c -f -o " + straceTo + " " + command;
  auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    const std::string quiet = line + " >/dev/null 2>&1";
    ::execl("/bin/sh", "sh", "-c", quiet.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Cost cost;
  cost.wall = std::chrono::duration<double>(Clock::now() - start).count();
  cost.user = Seconds(usage.ru_utime);
  cost.system = Seconds(usage.ru_stime);
  cost.voluntary = usage.ru_nvcsw;
  cost.involuntary = usage.ru_nivcsw;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "wait_cost_bench: failed: %s\n", line.c_str());
    std::exit(1);
  }
  return cost;
}

void PrintCost(const char* what, const Cost& c, double wire) {
  std::printf("%s\n", what);
  std::printf("  wall %.2f s against %.2f s of wire time (%.3f x)\n", c.wall, wire, c.wall / wire);
  std::printf("  CPU %.3f s (user %.3f, system %.3f), %ld voluntary and %ld involuntary "
              "context switches\n",
              c.Cpu(), c.user, c.system, c.voluntary, c.involuntary);
}

// The calls strace counted, most frequent first, as its summary lists them.
void PrintSyscalls(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::vector<std::pair<long, std::string>> counts;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    double percent = 0, seconds = 0;
    long perCall = 0, calls = 0;
    if (!(fields >> percent >> seconds >> perCall >> calls)) continue;
    std::string name, word;
    while (fields >> word) name = word;  // the errors column may be empty
    if (name != "total") counts.emplace_back(calls, name);
  }
  long total = 0;
  std::string top;
  std::sort(counts.begin(), counts.end(), [](const auto& a, const auto& b) { return a > b; });
  for (size_t i = 0; i < counts.size(); ++i) {
    total += counts[i].first;
    if (i < 8) top += " " + counts[i].second + " " + std::to_string(counts[i].first);
  }
  std::printf("  system calls (strace -c -f): %ld;%s\n", total, top.c_str());
}

struct Programs {
  std::string self, cli, sim;
};

// The runs' report: one for all ports.
std::string ReportOf(const std::string& dir) { return dir + "/report.json"; }

std::string CliRead(const Programs& p, const std::string& ports, const std::string& dir,
                    const std::string& what) {
  return p.cli + " " + ports + " --report " + ReportOf(dir) + " read --yes " + what;
}

// The seconds of the channel list's phase in the report of one deco's run.
double ChannelPhaseSeconds(const std::string& dir) {
  std::ifstream file(ReportOf(dir));
  const nlohmann::json report = nlohmann::json::parse(file, nullptr, false);
  if (!report.is_discarded()) {
    for (const nlohmann::json& entry : report["runs"][0]["phases"])
      if (entry["phase"] == "Read CHANNEL ...") return entry["seconds"].get<double>();
  }
  return 0;
}

Cost Since(const Clock::time_point& start, const rusage& before) {
  rusage now{};
  ::getrusage(RUSAGE_SELF, &now);
  Cost cost;
  cost.wall = std::chrono::duration<double>(Clock::now() - start).count();
  cost.user = Seconds(now.ru_utime) - Seconds(before.ru_utime);
  cost.system = Seconds(now.ru_stime) - Seconds(before.ru_stime);
  cost.voluntary = now.ru_nvcsw - before.ru_nvcsw;
  cost.involuntary = now.ru_nivcsw - before.ru_nivcsw;
  return cost;
}

// A child's work on the link alone, without a front end: "words" (after the raw loop's floor,
// unless figures is "-") programs the words, "blocks" reads the channel list's blocks from the
// deco at port. The seconds of a transaction and what the work cost go to figures.
int LinkWork(const std::string& kind, const std::string& port, const std::string& figures) {
  const bool words = kind == "words";
  const bool floor = words && figures != "-";
  // The floor: transactions like a word's cycles (22 characters out, "022" CR back).
  const double raw =
      floor ? bench::RawTransactionsSeconds(
                  port, protocol::ChipCommandLine(protocol::FlashBase, ReadArrayCommand), Words) /
                  Words
            : 0;
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  const auto start = Clock::now();
  protocol::DecoLink link;
  link.Open(port, static_cast<int32_t>(Baud));
  std::array<uint8_t, protocol::ReadBlockBytes> block{};
  const int transactions = words ? Words * CyclesPerWord : ChannelBlocks;
  for (int i = 0; i < (words ? Words : ChannelBlocks); ++i) {
    const uint32_t at = static_cast<uint32_t>(i) * (words ? 4 : protocol::ReadBlockBytes);
    if (words)
      protocol::ProgramWord(link, protocol::FlashBase + ProgrammedFrom + at, 0);
    else
      protocol::ReadFlashBlock(link, protocol::FlashBase + at, block.data());
  }
  const Cost cost = Since(start, before);
  if (figures != "-")
    std::ofstream(figures) << raw << " " << cost.wall / transactions << " " << cost.wall << " "
                           << cost.user << " " << cost.system << " " << cost.voluntary << " "
                           << cost.involuntary << "\n";
  return 0;
}

// What LinkWork wrote to figures: the floor's and the work's seconds a transaction, its cost.
Cost ReadFigures(const std::string& figures, double& raw, double& perTransaction) {
  Cost cost;
  std::ifstream(figures) >> raw >> perTransaction >> cost.wall >> cost.user >> cost.system >>
      cost.voluntary >> cost.involuntary;
  return cost;
}

void ChannelRead(const Programs& p, const std::string& dir, bool syscalls) {
  sim::SimProcess deco(p.sim, "--no-announce --pace");
  const std::string command =
      CliRead(p, "--port " + deco.Port(), dir, "--channel " + dir + "/Ch.bin");
  if (syscalls) {
    Run(command, dir + "/" + StraceOutput);
    std::printf("paced channel READ (connect and disconnect included)\n");
    PrintSyscalls(dir + "/" + StraceOutput);
    return;
  }
  const double wire = WireSeconds(ChannelReadCharacters);
  PrintCost("paced channel READ at 115200 baud (connect and disconnect included)", Run(command),
            wire);
  const double phase = ChannelPhaseSeconds(dir);
  std::printf("  its phase \"Read CHANNEL ...\" %.2f s, %.3f x its wire time\n", phase,
              phase / wire);
  // The same block reads on a link alone: what the waiting itself costs, without the front
  // end's threads.
  sim::SimProcess again(p.sim, "--no-announce --pace --in-service --service-baud 115200");
  const std::string figures = dir + "/blocks.txt";
  Run(p.self + " link-work blocks " + again.Port() + " " + figures);
  double raw = 0, perBlock = 0;
  PrintCost("the same 2,048 block reads on a link alone (no front end)",
            ReadFigures(figures, raw, perBlock), wire);
}

void PacedWords(const Programs& p, const std::string& dir, bool syscalls) {
  sim::SimProcess deco(p.sim, "--no-announce --pace --in-service --service-baud 115200");
  const std::string figures = dir + "/words.txt";
  const std::string command = p.self + " link-work words " + deco.Port() + " ";
  if (syscalls) {
    Run(command + "-", dir + "/" + StraceOutput);
    std::printf("%d paced flash words of a WRITE\n", Words);
    PrintSyscalls(dir + "/" + StraceOutput);
    return;
  }
  Run(command + figures);
  double raw = 0, ours = 0;
  const Cost words = ReadFigures(figures, raw, ours);
  PrintCost("1,000 paced flash words of a WRITE at 115200 baud (the port's opening included)",
            words, WireSeconds(Words * CyclesPerWord * WordCycleCharacters));
  const double send = WireSeconds(WordCycleCharacters - ReplyCharacters);
  const double receive = WireSeconds(ReplyCharacters);
  std::printf("  a transaction of a word (a quarter of it): %.1f us = wire %.1f us (sending %.1f, "
              "receiving %.1f) + the simulated deco's turn-around and pacing beyond the wire and "
              "the system's wake-ups %.1f us (a minimal write/poll/read loop takes %.1f us) + our "
              "own work %.1f us\n",
              ours * 1e6, (send + receive) * 1e6, send * 1e6, receive * 1e6,
              (raw - send - receive) * 1e6, raw * 1e6, (ours - raw) * 1e6);
  std::printf("  a word: %.3f x its wire time; the minimal loop's %.3f x\n",
              ours / (send + receive), raw / (send + receive));
}

void Batch(const Programs& p, const std::string& dir, bool syscalls) {
  std::vector<std::unique_ptr<sim::SimProcess>> decos;
  std::string ports;
  for (int i = 0; i < BatchDecos; ++i) {
    decos.push_back(std::make_unique<sim::SimProcess>(p.sim, "--no-announce --pace"));
    ports += "--port " + decos.back()->Port() + " ";
  }
  const std::string what = "--eeprom " + dir + "/E_{port}.bin --channel " + dir + "/Ch_{port}.bin";
  const std::string one = CliRead(p, "--port " + decos.front()->Port(), dir, what);
  const std::string all = CliRead(p, ports, dir, what);
  if (syscalls) {
    Run(all, dir + "/" + StraceOutput);
    std::printf("%d paced decos at once, EEPROM and channel list READ\n", BatchDecos);
    PrintSyscalls(dir + "/" + StraceOutput);
    return;
  }
  const Cost single = Run(one);
  const Cost batch = Run(all);
  const double wire = WireSeconds(ChannelReadCharacters);
  PrintCost("one paced deco, EEPROM and channel list READ", single, wire);
  PrintCost("32 paced decos at once, EEPROM and channel list READ", batch, wire);
  std::printf("  the batch took %.3f x one deco's wall time; %.2f s CPU, %.3f s a deco\n",
              batch.wall / single.wall, batch.Cpu(), batch.Cpu() / BatchDecos);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "link-work") == 0) return LinkWork(argv[2], argv[3], argv[4]);
  const Programs programs{argv[0], PYRELINK_CLI_PATH, PYRELINK_SIM_PATH};
  bool syscalls = false;
  std::vector<std::string> runs;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--syscalls") == 0)
      syscalls = true;
    else
      runs.emplace_back(argv[i]);
  }
  if (runs.empty()) runs = {"read", "words", "batch"};
  char folder[] = "/tmp/pyrelink-wait-bench-XXXXXX";
  if (!::mkdtemp(folder)) return 1;
  const std::string dir = folder;
  for (const std::string& run : runs) {
    if (run == "read") {
      ChannelRead(programs, dir, syscalls);
    } else if (run == "words") {
      PacedWords(programs, dir, syscalls);
    } else if (run == "batch") {
      Batch(programs, dir, syscalls);
    } else {
      std::fprintf(stderr, "usage: wait_cost_bench [--syscalls] [read | words | batch]...\n");
      return 2;
    }
    std::fflush(stdout);
  }
  const std::string cleanup = "rm -rf " + dir;
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}

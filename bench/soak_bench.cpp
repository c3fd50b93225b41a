// Soak: full service cycles (connect, READ all three memories, WRITE the EEPROM and the channel
// list by the Safe method, disconnect) through the command line's job code against one
// simulated deco that gets a random fault in most runs, at a fixed seed. Prints the faults
// injected and detected, data losses and hangs (both must be 0), and the memory at the first
// and the last cycle. Waits run on a fast clock; the line is a real pty.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "cli/cli_job.h"
#include "protocol/clock.h"
#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "sim/pty_deco.h"

namespace {

constexpr uint32_t ErasedStartBytes = 0x10000;  // sectors 0..2
constexpr uint32_t ZeroBytesAtStart = 4 * protocol::ZeroWordsAtStart;
constexpr unsigned WaitDivisor = 100;    // a 5-second pause lasts 50 ms
constexpr unsigned TimeoutDivisor = 10;  // a missing reply costs 200 ms
constexpr int SlowReplyMs = 1600;        // beyond every first-byte time-out on this clock
constexpr int HangSeconds = 120;         // a run this long is a hang
constexpr int GiveUpSeconds = 600;       // ... and one this long ends the soak
constexpr double FaultShare = 0.7;       // of the runs that get a fault

enum Kind { Drop, Garbage, Short, LowerCase, Slow, Trickle, HangUp, WeakWord, KindCount };
const char* const KindNames[] = {"dropped reply", "garbage reply", "short reply", "lower-case reply",
                                 "slow reply", "trickle", "hang-up", "weak word"};

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

long CurrentRssKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// The peak resident memory since the last ResetPeak (Linux keeps it as VmHWM).
long PeakRssKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmHWM:") {
      status >> value;
      return value;
    }
  }
  return 0;
}

// Lets the next PeakRssKiB tell the peak of one cycle alone.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Tally {
  int injected[KindCount] = {};
  int detected[KindCount] = {};
  int tolerated[KindCount] = {};
  int losses = 0;
  int hangs = 0;
  int runsFailed = 0;
};

class Soak {
 public:
  Soak(unsigned seed, const std::string& folder, protocol::Clock& clock)
      : random_(seed), folder_(folder), clock_(clock) {
    NewDeco();
  }

  void CatchUp() { deco_->CatchUp(); }

  // One cycle: a READ run and a WRITE run; each may carry one fault.
  void Cycle(Tally& tally) {
    Run(false, tally);
    Run(true, tally);
  }

 private:
  void NewDeco() {
    sim::Settings settings;
    settings.KeepCommandLog = false;
    if (deco_) {
      // A deco whose line was pulled keeps its memories and its mode.
      settings.StartInService = deco_->Model().InService();
      settings.ServiceBaud = deco_->Model().ListenBaud();
      auto flash = deco_->Model().Flash();
      auto eeprom = deco_->Model().Eeprom();
      deco_.reset();
      deco_ = std::make_unique<sim::PtyDeco>(settings);
      deco_->Model().SetFlash(flash);
      deco_->Model().SetEeprom(eeprom);
      return;
    }
    deco_ = std::make_unique<sim::PtyDeco>(settings);
  }

  std::string File(const char* name) const { return folder_ + "/" + name; }

  void Run(bool write, Tally& tally) {
    sim::DecoModel& model = deco_->Model();
    // Commands of a clean run of this kind, measured on the first cycle.
    int& span = write ? writeSpan_ : readSpan_;
    int kind = -1;
    int at = 0;
    sim::Faults faults;
    if (span > 0 && std::uniform_real_distribution<>(0, 1)(random_) < FaultShare) {
      kind = std::uniform_int_distribution<>(0, write ? KindCount - 1 : WeakWord - 1)(random_);
      at = model.CommandCount() + std::uniform_int_distribution<>(1, span)(random_);
      switch (kind) {
        case Drop: faults.DropReplyAt = at; break;
        case Garbage: faults.GarbageReplyAt = at; break;
        case Short: faults.ShortReplyAt = at; break;
        case LowerCase: faults.LowerCaseReplyAt = at; break;
        case Slow:
          faults.SlowReplyAt = at;
          faults.SlowReplyMs = SlowReplyMs;
          break;
        case Trickle: faults.TrickleAt = at; break;
        case HangUp: faults.HangUpAfter = at - 1; break;
        case WeakWord:
          faults.WeakWordAddress = sim::FlashBase + ErasedStartBytes +
                                   4 * std::uniform_int_distribution<uint32_t>(
                                           0, (protocol::ChannelImageBytes - ErasedStartBytes) / 4 - 1)(random_);
          break;
      }
    }
    model.SetFaults(faults);

    const std::string flashBefore = Text(model.Flash());
    const std::string eepromBefore = Text(model.Eeprom());
    cli::JobOptions options;
    options.port = deco_->SlavePath();
    options.clock = &clock_;
    options.service = model.InService();
    options.write = write;
    options.method = "safe";
    transfer::JobSelection& s = options.selection;
    s.Eeprom = s.Channel = true;
    s.Firmware = !write;
    s.FirmwareFile = File("Fw.bin");
    s.EepromFile = File(write ? "NewE.bin" : "E.bin");
    s.ChannelFile = File(write ? "NewCh.bin" : "Ch.bin");
    std::string newEeprom, promised;
    if (write) {
      newEeprom.resize(protocol::EepromImageBytes);
      for (auto& c : newEeprom) c = static_cast<char>(random_());
      std::string image(protocol::ChannelImageBytes, '\0');
      for (auto& c : image) c = static_cast<char>(random_());
      Write(s.EepromFile, newEeprom);
      Write(s.ChannelFile, image);
      promised = image;
      for (uint32_t i = 0; i < ErasedStartBytes; ++i)
        promised[i] = static_cast<char>(i < ZeroBytesAtStart ? 0 : 0xFF);
    }
    const std::string dumpsBefore[] = {Read(s.FirmwareFile), Read(s.EepromFile), Read(s.ChannelFile)};

    int commandsBefore = model.CommandCount();
    std::FILE* sink = std::fopen("/dev/null", "w");
    cli::ConsoleHost host(true, sink, sink);
    std::atomic<bool> interrupted{false};
    std::atomic<bool> finished{false};
    std::thread watchdog([&] {
      for (int i = 0; i < GiveUpSeconds * 10 && !finished; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (!finished) {
        std::printf("HANG: a %s run did not end within %d s\n", write ? "WRITE" : "READ", GiveUpSeconds);
        std::fflush(stdout);
        std::_Exit(1);
      }
    });
    auto started = std::chrono::steady_clock::now();
    int exitCode = cli::RunReadOrWrite(options, host, interrupted);
    finished = true;
    if (std::chrono::steady_clock::now() - started > std::chrono::seconds(HangSeconds)) {
      ++tally.hangs;
      std::printf("HANG: a %s run took over %d s\n", write ? "WRITE" : "READ", HangSeconds);
    }
    watchdog.join();
    std::fclose(sink);
    if (span == 0) span = model.CommandCount() - commandsBefore;
    if (exitCode != 0) ++tally.runsFailed;

    // What the technician relies on, whatever happened.
    const std::string flash = Text(model.Flash());
    const std::string eeprom = Text(model.Eeprom());
    bool lost = false;
    if (!write) {
      const std::string memories[] = {flash, eeprom, flash.substr(0, protocol::ChannelImageBytes)};
      const std::string files[] = {s.FirmwareFile, s.EepromFile, s.ChannelFile};
      for (int i = 0; i < 3; ++i) {
        std::string dump = Read(files[i]);
        if (exitCode == 0 ? dump != memories[i] : dump != memories[i] && dump != dumpsBefore[i])
          lost = true;
      }
      if (flash != flashBefore || eeprom != eepromBefore) lost = true;
    } else {
      if (flash.substr(protocol::ChannelImageBytes) != flashBefore.substr(protocol::ChannelImageBytes)) lost = true;
      if (exitCode == 0 && (eeprom != newEeprom || flash.substr(0, protocol::ChannelImageBytes) != promised))
        lost = true;
    }
    if (lost) {
      ++tally.losses;
      std::printf("DATA LOSS: %s run, fault %s at command %d, exit %d\n", write ? "WRITE" : "READ",
                  kind >= 0 ? KindNames[kind] : "none", at, exitCode);
    }

    if (kind >= 0) {
      bool fired = kind == WeakWord ? model.WeakWordFailuresLeft() == 0
                                    : model.CommandCount() >= at || deco_->HungUp();
      if (fired) {
        ++tally.injected[kind];
        // A weak word is found by Safe's comparison and written again: the run still succeeds.
        bool repaired = kind == WeakWord && exitCode == 0;
        if (exitCode != 0 || repaired) ++tally.detected[kind];
        else ++tally.tolerated[kind];
      }
    }
    model.SetFaults(sim::Faults());
    if (kind == Slow) std::this_thread::sleep_for(std::chrono::milliseconds(SlowReplyMs + 100));
    if (deco_->HungUp()) NewDeco();
  }

  std::mt19937 random_;
  std::string folder_;
  protocol::Clock& clock_;
  std::unique_ptr<sim::PtyDeco> deco_;
  int readSpan_ = 0;
  int writeSpan_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Soak: service cycles against a simulated deco with random faults"};
  int cycles = 50;
  unsigned seed = 6072;
  app.add_option("--cycles", cycles, "Number of cycles")->check(CLI::PositiveNumber);
  app.add_option("--seed", seed, "Seed of the fault choice");
  CLI11_PARSE(app, argc, argv);

  char folder[] = "/tmp/pyrelink-soak-XXXXXX";
  if (!::mkdtemp(folder)) return 1;
  // The Safe method keeps its time-stamped read-back in the working folder.
  const std::filesystem::path caller = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  protocol::FastClock clock(WaitDivisor, TimeoutDivisor);

  Tally tally;
  long rssFirst = 0, peakFirst = 0, peakLast = 0, peakMost = 0;
  auto start = std::chrono::steady_clock::now();
  {
    Soak soak(seed, folder, clock);
    clock.SetBeforePause([&soak] { soak.CatchUp(); });
    for (int cycle = 1; cycle <= cycles; ++cycle) {
      ResetPeak();
      soak.Cycle(tally);
      peakLast = PeakRssKiB();
      peakMost = std::max(peakMost, peakLast);
      if (cycle == 1) {
        rssFirst = CurrentRssKiB();
        peakFirst = peakLast;
      }
      std::fprintf(stderr, "cycle %d of %d done\n", cycle, cycles);
    }
    clock.SetBeforePause(nullptr);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  long rssLast = CurrentRssKiB();

  int injected = 0, detected = 0, tolerated = 0;
  std::printf("soak: %d cycles (READ all three, WRITE EEPROM and channel by Safe), seed %u, %.0f s\n",
              cycles, seed, seconds);
  std::printf("  %-18s %8s %8s %9s\n", "fault", "injected", "detected", "tolerated");
  for (int k = 0; k < KindCount; ++k) {
    std::printf("  %-18s %8d %8d %9d\n", KindNames[k], tally.injected[k], tally.detected[k],
                tally.tolerated[k]);
    injected += tally.injected[k];
    detected += tally.detected[k];
    tolerated += tally.tolerated[k];
  }
  std::printf("  %-18s %8d %8d %9d\n", "all", injected, detected, tolerated);
  std::printf("  runs that failed (and said so): %d of %d\n", tally.runsFailed, 2 * cycles);
  std::printf("  data losses: %d (must be 0)\n", tally.losses);
  std::printf("  hangs: %d (must be 0)\n", tally.hangs);
  std::printf("  resident memory after cycle 1: %ld KiB, after cycle %d: %ld KiB\n", rssFirst, cycles,
              rssLast);
  std::printf("  peak memory in cycle 1: %ld KiB, in cycle %d: %ld KiB, in the largest cycle: %ld KiB\n",
              peakFirst, cycles, peakLast, peakMost);
  std::filesystem::current_path(caller);
  std::filesystem::remove_all(folder);
  return tally.losses == 0 && tally.hangs == 0 ? 0 : 1;
}

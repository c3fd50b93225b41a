// The time of a flash word and of a flash block read on a line paced at 115200 baud, on an ideal
// line and behind a USB adapter whose latency timer is 1 ms or 16 ms, with the delay the tool
// itself measures there; and what that makes of a channel READ and of a full firmware WRITE of
// a typical image (code, then FF padding), with and without leaving the blank words out.
// The same for programming in unlock bypass (two cycles a word), and, with --full-write, a whole
// firmware WRITE end to end with --erase-poll --fast-program --skip-blank-words against the
// projection of the usual sequence. Prints figures and ratios; the full WRITE runs for about 20
// minutes, the usual sequence's would run for more than an hour.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "cli/cli_job.h"
#include "cli/console_host.h"
#include "protocol/flash_chips.h"
#include "protocol/deco_link.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "sim/pty_deco.h"
#include "transfer/adapter_delay.h"
#include "transfer/io_thread.h"

namespace {

constexpr uint32_t Baud = 115200;
constexpr double BitsPerCharacter = 10;
constexpr double CommandCharacters = 20 + 2;  // "0220" + address + data, CR LF
constexpr double ReplyCharacters = 3 + 1;     // "022" CR
constexpr int CyclesPerWord = 4;              // two unlock cycles, the set-up, the data
constexpr int BypassCyclesPerWord = 2;        // the set-up, the data
constexpr uint32_t EraseTimeMs = 700;         // a typical sector erase of such NOR chips
constexpr uint32_t ProgrammedFrom = 0x10000;  // sectors 0..2 are only erased
constexpr double CodeShare = 0.35;            // of a typical firmware; the rest is FF padding

double SecondsPerWord(int latencyMs, int words, bool bypass = false) {
  sim::Settings settings;
  settings.StartInService = true;
  settings.ServiceBaud = Baud;
  settings.Fault.Pace = true;
  settings.AdapterLatencyMs = latencyMs;
  settings.KeepCommandLog = false;
  sim::PtyDeco deco(settings);
  protocol::DecoLink link;
  link.Open(deco.SlavePath(), Baud);
  if (bypass) protocol::EnterUnlockBypass(link);
  auto start = std::chrono::steady_clock::now();
  for (int w = 0; w < words; ++w) {
    const uint32_t address = protocol::FlashBase + ProgrammedFrom + 4 * static_cast<uint32_t>(w);
    if (bypass) {
      protocol::BypassProgramWord(link, address, 0);
    } else {
      protocol::ProgramWord(link, address, 0);
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return seconds / words;
}

// The seconds of one block read, paced at Baud behind an adapter of latencyMs; toldMs gets what
// the link measured as each reply's delay beyond the wire.
double SecondsPerBlock(int latencyMs, int blocks, double& toldMs) {
  sim::Settings settings;
  settings.StartInService = true;
  settings.ServiceBaud = Baud;
  settings.Fault.Pace = true;
  settings.AdapterLatencyMs = latencyMs;
  settings.KeepCommandLog = false;
  sim::PtyDeco deco(settings);
  protocol::DecoLink link;
  link.Open(deco.SlavePath(), Baud);
  uint8_t block[protocol::ReadBlockBytes];
  auto start = std::chrono::steady_clock::now();
  for (int b = 0; b < blocks; ++b)
    protocol::ReadFlashBlock(link, protocol::FlashBase + static_cast<uint32_t>(b) * sizeof block,
                             block);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  toldMs = link.ReplyDelayMs();
  return seconds / blocks;
}

// The typical image: code (no word of it blank) at the start, FF padding behind it.
std::vector<uint8_t> TypicalImage(uint32_t codeBytes) {
  std::vector<uint8_t> image(protocol::FirmwareImageBytes, 0xFF);
  uint32_t state = 0x6072u;
  for (uint32_t i = 0; i < codeBytes; ++i) {
    state = state * 1664525u + 1013904223u;
    image[i] = static_cast<uint8_t>(state >> 24);
    if (i % 4 == 3 && image[i] == 0xFF) image[i] = 0x7F;
  }
  return image;
}

// A firmware WRITE as the command line runs it, paced at Baud on an ideal line; answers its
// seconds, or a negative number when it failed.
double FullWriteSeconds(const std::vector<uint8_t>& image, uint64_t& fastWords) {
  sim::Settings settings;
  settings.StartInService = true;
  settings.ServiceBaud = Baud;
  settings.Fault.Pace = true;
  settings.KeepCommandLog = false;
  settings.EraseTimeMs = EraseTimeMs;
  sim::PtyDeco deco(settings);
  char folder[] = "/tmp/pyrelink-write-bench-XXXXXX";
  if (!mkdtemp(folder)) return -1;
  const std::filesystem::path dir(folder);
  const std::string file = (dir / "Fw.bin").string();
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  cli::JobOptions options;
  options.port = deco.SlavePath();
  options.service = true;
  options.write = true;
  options.erasePoll = options.fastProgram = options.skipBlankWords = true;
  options.selection.Firmware = true;
  options.selection.FirmwareFile = file;
  options.reportFile = (dir / "report.json").string();
  std::FILE* log = std::fopen((dir / "log.txt").string().c_str(), "w");
  cli::ConsoleHost host(true, log, log);
  std::atomic<bool> interrupted{false};
  auto start = std::chrono::steady_clock::now();
  cli::RunEnd end;
  int exitCode = cli::RunReadOrWrite(options, host, interrupted, &end);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fclose(log);
  const nlohmann::json& words = end.Report["fast_program"]["words"];
  fastWords = words.is_number() ? words.get<uint64_t>() : 0;
  const std::string error = end.Error;
  if (exitCode != cli::ExitDone) {
    std::printf("  the WRITE failed (%s); its log and report are in %s\n", error.c_str(), folder);
    return -1;
  }
  std::filesystem::remove_all(dir);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const bool fullWrite = argc > 1 && std::strcmp(argv[1], "--full-write") == 0;
  const double wire =
      CyclesPerWord * (CommandCharacters + ReplyCharacters) * BitsPerCharacter / Baud;
  const double ideal = SecondsPerWord(0, 300);
  const double fast = SecondsPerWord(1, 200);
  const double slow = SecondsPerWord(16, 40);
  const double bypassWire =
      BypassCyclesPerWord * (CommandCharacters + ReplyCharacters) * BitsPerCharacter / Baud;
  const double bypass = SecondsPerWord(0, 300, true);
  std::printf("one flash word, paced at %u baud (wire time %.2f ms):\n", Baud, wire * 1e3);
  std::printf("  ideal line            %6.2f ms  (%.2f x wire)\n", ideal * 1e3, ideal / wire);
  std::printf("  adapter latency  1 ms %6.2f ms  (%.2f x wire)\n", fast * 1e3, fast / wire);
  std::printf("  adapter latency 16 ms %6.2f ms  (%.2f x wire)\n", slow * 1e3, slow / wire);
  // A block read: "0221FF" and the address, CR LF; "021", 512 digits, CR.
  const double blockWire = (14 + 2 + 516) * BitsPerCharacter / Baud;
  std::printf("one flash block read, and a channel READ (%d blocks; wire time %.2f ms, %.1f s):\n",
              transfer::ChannelBlocks, blockWire * 1e3, blockWire * transfer::ChannelBlocks);
  for (int latency : {0, 1, 16}) {
    double toldMs = 0;
    const double block = SecondsPerBlock(latency, 60, toldMs);
    std::printf("  adapter latency %2d ms %6.2f ms  (%.2f x wire), channel READ %5.1f s; the tool "
                "measures replies %.1f ms late%s\n",
                latency, block * 1e3, block / blockWire, block * transfer::ChannelBlocks, toldMs,
                toldMs >= transfer::HeldBackThresholdMs ? " and says so" : "");
  }
  std::printf("one flash word in unlock bypass (wire time %.2f ms):\n", bypassWire * 1e3);
  std::printf("  ideal line            %6.2f ms  (%.2f x wire, %.2f of the usual word)\n",
              bypass * 1e3, bypass / bypassWire, bypass / ideal);

  // A typical image: code at the start, FF padding behind it.
  const uint32_t words = static_cast<uint32_t>((protocol::FirmwareImageBytes - ProgrammedFrom) / 4);
  const uint32_t codeWords =
      static_cast<uint32_t>(protocol::FirmwareImageBytes * CodeShare / 4) - ProgrammedFrom / 4;
  const double pauses = protocol::SectorCount * transfer::EraseWaitSeconds;
  auto minutes = [&](double perWord, uint32_t programmed) {
    return (pauses + perWord * programmed) / 60;
  };
  std::printf(
      "full firmware WRITE (Normal), %u words from sector 3, %u of them code (%.0f%% of the "
      "image), the rest FFFFFFFF:\n",
      words, codeWords, CodeShare * 100);
  std::printf("  wire time                       %7.1f min\n", minutes(wire, words));
  std::printf("  ideal line                      %7.1f min, with --skip-blank-words %6.1f min\n",
              minutes(ideal, words), minutes(ideal, codeWords));
  std::printf("  adapter latency 1 ms            %7.1f min, with --skip-blank-words %6.1f min\n",
              minutes(fast, words), minutes(fast, codeWords));
  std::printf("  adapter latency 16 ms           %7.1f min, with --skip-blank-words %6.1f min\n",
              minutes(slow, words), minutes(slow, codeWords));
  std::printf("  (per-word times measured above; %.0f s of erase pauses included)\n", pauses);
  const double usualWire = minutes(wire, words);
  // Reading back: the final check reads every written sector, 8192 blocks.
  const double readWire = 8192 * (14 + 2 + 516) * BitsPerCharacter / Baud;
  const double fastProjected =
      (protocol::SectorCount * EraseTimeMs / 1e3 + bypass * codeWords + readWire) / 60;
  std::printf(
      "  with --erase-poll --fast-program --skip-blank-words (erase %u ms a sector, final check "
      "%.1f min of reading): projected %.1f min, %.2f of the usual wire time\n",
      EraseTimeMs, readWire / 60, fastProjected, fastProjected / usualWire);
  if (!fullWrite) {
    std::printf("(build/bench/write_time_bench --full-write runs that WRITE end to end)\n");
    return 0;
  }
  uint64_t fastWords = 0;
  const auto codeBytes = static_cast<uint32_t>(protocol::FirmwareImageBytes * CodeShare);
  double seconds = FullWriteSeconds(TypicalImage(codeBytes), fastWords);
  if (seconds < 0) return 1;
  std::printf(
      "full firmware WRITE end to end, paced at %u baud on an ideal line, --erase-poll "
      "--fast-program --skip-blank-words, final check included:\n",
      Baud);
  std::printf("  %7.1f min (%llu words in unlock bypass); the usual sequence's wire time %.1f "
              "min, its ideal line %.1f min\n",
              seconds / 60, static_cast<unsigned long long>(fastWords), usualWire,
              minutes(ideal, words));
  std::printf("  ratio to the usual wire time %.3f, to the usual ideal line %.3f\n",
              seconds / 60 / usualWire, seconds / 60 / minutes(ideal, words));
  return 0;
}

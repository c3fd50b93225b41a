// The time of a flash word on a line paced at 115200 baud, on an ideal line and behind a USB
// adapter whose latency timer is 1 ms or 16 ms; and what that makes of a full firmware WRITE of
// a typical image (code, then FF padding), with and without leaving the blank words out.
// Prints figures and ratios; a full paced firmware WRITE itself runs for more than an hour.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "protocol/deco_link.h"
#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "sim/pty_deco.h"
#include "transfer/io_thread.h"

namespace {

constexpr uint32_t Baud = 115200;
constexpr double BitsPerCharacter = 10;
constexpr double CommandCharacters = 20 + 2;  // "0220" + address + data, CR LF
constexpr double ReplyCharacters = 3 + 1;     // "022" CR
constexpr int CyclesPerWord = 4;              // two unlock cycles, the set-up, the data
constexpr uint32_t ProgrammedFrom = 0x10000;  // sectors 0..2 are only erased
constexpr double CodeShare = 0.35;            // of a typical firmware; the rest is FF padding

double SecondsPerWord(int latencyMs, int words) {
  sim::Settings settings;
  settings.StartInService = true;
  settings.ServiceBaud = Baud;
  settings.Fault.Pace = true;
  settings.AdapterLatencyMs = latencyMs;
  settings.KeepCommandLog = false;
  sim::PtyDeco deco(settings);
  protocol::DecoLink link;
  link.SerialLink = std::make_unique<serial::TBlockSerial>();
  link.SerialLink->RaiseExcept = true;
  link.SerialLink->OpenPort(deco.SlavePath());
  link.SerialLink->ConfigureLine(Baud, 7, 'E', 0, false, false);
  auto start = std::chrono::steady_clock::now();
  for (int w = 0; w < words; ++w)
    protocol::ProgramWord(link, protocol::FlashBase + ProgrammedFrom + 4 * static_cast<uint32_t>(w),
                          0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return seconds / words;
}

}  // namespace

int main() {
  const double wire =
      CyclesPerWord * (CommandCharacters + ReplyCharacters) * BitsPerCharacter / Baud;
  const double ideal = SecondsPerWord(0, 300);
  const double fast = SecondsPerWord(1, 200);
  const double slow = SecondsPerWord(16, 40);
  std::printf("one flash word, paced at %u baud (wire time %.2f ms):\n", Baud, wire * 1e3);
  std::printf("  ideal line            %6.2f ms  (%.2f x wire)\n", ideal * 1e3, ideal / wire);
  std::printf("  adapter latency  1 ms %6.2f ms  (%.2f x wire)\n", fast * 1e3, fast / wire);
  std::printf("  adapter latency 16 ms %6.2f ms  (%.2f x wire)\n", slow * 1e3, slow / wire);

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
  return 0;
}

#include "cli/line_check.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "cli/cli_connect.h"
#include "protocol/eeprom_transfer.h"
#include "protocol/hex_codec.h"
#include "protocol/protocol_error.h"
#include "protocol/resync.h"
#include "serial/serial_util.h"
#include "transfer/adapter_delay.h"

namespace cli {

namespace {

// A line that fails this often in a row is gone, not noisy: the check stops there.
constexpr int MaxFailuresInARow = 3;

std::string Figure(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

constexpr int ShownDifferences = 8;

// Every read of the EEPROM compared, byte by byte, with what most reads hold there: a digit
// changed with its parity kept passes every check of the line, and a READ would store it as
// good. Against the majority, a damaged first read is named as the one that differs.
class MajorityComparison {
 public:
  using Line = std::array<uint8_t, protocol::EepromLineBytes>;

  // Keeps the data of one line of a read (counted from 1).
  void Take(int read, int line, const Line& data) {
    reads_[static_cast<size_t>(line)].push_back({read, data});
  }

  // Shows the first few bytes that differ from the majority and counts them all.
  void Compare(ConsoleHost& host) {
    std::vector<int> differingReads;
    for (int line = 0; line < protocol::EepromLines; ++line) {
      const std::vector<LineRead>& reads = reads_[static_cast<size_t>(line)];
      if (reads.empty()) continue;  // the line went dead before this line was read
      for (size_t at = 0; at < protocol::EepromLineBytes; ++at) {
        const uint8_t held = MostHeld(reads, at);
        for (const LineRead& lineRead : reads) {
          if (lineRead.data[at] == held) continue;
          if (bytes_ < ShownDifferences) {
            const uint32_t address = static_cast<uint32_t>(line * protocol::EepromLineBytes + at);
            host.AddLogLine("  read " + std::to_string(lineRead.read) + ", EEPROM " +
                            protocol::ToHex(address, 3) + ": " +
                            protocol::ToHex(lineRead.data[at], 2) + ", most reads " +
                            protocol::ToHex(held, 2));
          }
          ++bytes_;
          if (std::find(differingReads.begin(), differingReads.end(), lineRead.read) ==
              differingReads.end())
            differingReads.push_back(lineRead.read);
        }
      }
    }
    differingReads_ = static_cast<int>(differingReads.size());
  }
  int Bytes() const { return bytes_; }
  int Reads() const { return differingReads_; }

 private:
  struct LineRead {
    int read;
    Line data;
  };

  // The value most reads hold at byte at; on a tie, the earliest read's of the tied values.
  static uint8_t MostHeld(const std::vector<LineRead>& reads, size_t at) {
    std::array<int, 256> counts{};
    for (const LineRead& lineRead : reads) ++counts[lineRead.data[at]];
    uint8_t held = reads.front().data[at];
    for (const LineRead& lineRead : reads)
      if (counts[lineRead.data[at]] > counts[held]) held = lineRead.data[at];
    return held;
  }

  std::array<std::vector<LineRead>, protocol::EepromLines> reads_;
  int bytes_ = 0;
  int differingReads_ = 0;
};

}  // namespace

int LineCheck(const JobOptions& options, int reads, ConsoleHost& host,
              protocol::StopToken stop) {
  protocol::DecoLink link(&host, RunClock(options));
  JobOptions run;  // as the connect found the deco
  protocol::DecoFacts deco;
  if (!ConnectOneDeco(link, options, host, stop, run, deco)) return ExitJobFailed;
  uint64_t characters = 0;
  link.CountCharacters([&characters](uint64_t count) { characters += count; });

  std::vector<double> replyMs;
  int failed = 0;
  int failuresInARow = 0;
  int read = 0;
  MajorityComparison comparison;
  uint64_t startMs = serial::MonotonicMs();
  for (; read < reads && failuresInARow < MaxFailuresInARow && !stop.Requested(); ++read) {
    for (int line = 0; line < protocol::EepromLines && failuresInARow < MaxFailuresInARow &&
                       !stop.Requested();
         ++line) {
      uint64_t sentMs = serial::MonotonicMs();
      try {
        const protocol::EepromLine data = protocol::ReadEepromLine(link, line);
        replyMs.push_back(static_cast<double>(serial::MonotonicMs() - sentMs));
        failuresInARow = 0;
        comparison.Take(read + 1, line, data);
      } catch (const std::exception& failure) {
        ++failed;
        ++failuresInARow;
        host.Tell("read failed: " + std::string(failure.what()));
        try {
          // A late reply must not be taken for the next line's.
          protocol::ResyncResult resync = protocol::Resynchronise(link);
          if (!resync.InStep) {
            host.Tell("the line did not come back in step: " + resync.Why);
            failuresInARow = MaxFailuresInARow;
          }
        } catch (const std::exception&) {
          failuresInARow = MaxFailuresInARow;  // the port itself is gone
        }
      }
    }
  }
  double seconds = static_cast<double>(serial::MonotonicMs() - startMs) / 1000.0;
  comparison.Compare(host);
  link.CountCharacters(nullptr);
  const uint32_t baud = link.Speed();
  const size_t replies = replyMs.size() + static_cast<size_t>(failed);

  host.AddLogLine("Line check: " + std::to_string(read) + " read(s) of the EEPROM, " +
                  std::to_string(replies) + " replies, at " + std::to_string(baud) +
                  " baud through " + link.DevicePath());
  if (!replyMs.empty()) {
    std::sort(replyMs.begin(), replyMs.end());
    double perTransaction = static_cast<double>(characters) / static_cast<double>(replies);
    double wireMs = perTransaction * serial::BitsPerCharacter * 1000.0 / baud;
    host.AddLogLine("Reply time: median" + Figure(" %.1f ms", replyMs[replyMs.size() / 2]) +
                    ", worst" + Figure(" %.1f ms", replyMs.back()) + " (the wire alone needs" +
                    Figure(" %.1f ms", wireMs) + ")");
    const std::string held = transfer::HeldBackReplyText(link);
    if (!held.empty()) host.AddLogLine("Replies held back: " + held);
  }
  const double wireRate = static_cast<double>(baud) / serial::BitsPerCharacter;
  double rate = seconds > 0 ? static_cast<double>(characters) / seconds : 0.0;
  host.AddLogLine("Characters per second:" + Figure(" %.0f", rate) + ", the wire carries" +
                  Figure(" %.0f", wireRate) + Figure(" (%.0f %%)", 100.0 * rate / wireRate));
  const uint64_t repeated = link.Counts().Retries;
  host.AddLogLine("Reads repeated: " + std::to_string(repeated) +
                  ", reads failed: " + std::to_string(failed));
  if (comparison.Bytes() > ShownDifferences)
    host.AddLogLine("  ... and " + std::to_string(comparison.Bytes() - ShownDifferences) +
                    " more differing byte(s)");
  host.AddLogLine("Differences from what most reads hold: " + std::to_string(comparison.Bytes()) +
                  " byte(s) in " + std::to_string(comparison.Reads()) + " read(s)");

  int result = ExitDone;
  if (stop.Requested()) {
    host.Tell("line check interrupted");
    result = ExitAborted;
  } else if (failuresInARow >= MaxFailuresInARow) {
    host.Tell("the line stopped answering: check the cable and the adapter");
    link.Record().Lost("the line stopped answering the line check");
    result = ExitJobFailed;
  } else if (failed > 0 || repeated > 0) {
    host.Tell("the line lost or garbled replies: check the cable and the adapter before a WRITE");
    result = ExitJobFailed;
  }
  if (comparison.Bytes() > 0) {
    host.Tell(
        "the EEPROM read differently from read to read: the line changes data that "
        "parity does not catch; check the cable and the adapter (--double-read guards a "
        "READ on such a line)");
    if (result == ExitDone) result = ExitJobFailed;
  }
  return DisconnectFromCli(link, run, host, result);
}

}  // namespace cli

#include "protocol/resync.h"

#include <algorithm>
#include <vector>

#include "protocol/clock.h"
#include "protocol/eeprom_transfer.h"
#include "protocol/hex_codec.h"
#include "protocol/transaction.h"
#include "serial/serial_error.h"

namespace protocol {

namespace {

// The command and the first character of the line's data field: "0610" + offset + "0".
constexpr size_t EchoLength = 7;
// A probe unanswered for this many first-byte waits is sent again under another offset: the
// first may have been lost on the line.
constexpr int ProbeGapFactor = 2;

}  // namespace

bool DamagedReply(int32_t code) {
  switch (code) {
    case serial::ErrTimeout:
    case serial::ErrMaxBuffer:
    case serial::ErrFrame:
    case serial::ErrOverrun:
    case serial::ErrRxOver:
    case serial::ErrRxParity:
      return true;
    default:
      return false;
  }
}

std::string EepromLineCommand(int line) {
  return "0610" + ToHex(static_cast<uint32_t>(8 * line), 2) + "080";
}

std::string NextProbe(DecoLink& link) {
  return EepromLineCommand(link.TakeProbeLine() % EepromLines);
}

bool EchoesEepromRead(const std::string& reply, const std::string& command) {
  return reply.size() >= EchoLength && reply.compare(0, EchoLength, command, 0, EchoLength) == 0;
}

std::string DiscardedNote(const ResyncResult& result) {
  if (result.Discarded == 0) return "";
  return "Line back in step: " + std::to_string(result.Discarded) +
         " late reply line(s) thrown away.";
}

ResyncResult Resynchronise(DecoLink& link, const std::string& failedCommand) {
  const ReplyBudget reply = ReplyBudgetOf(link, 1);
  const int32_t gapMs = ProbeGapFactor * reply.FirstByteMs;
  const Deadline limit(link.Time(), ReplyTimeoutMs(link, ResyncTimeoutFactor));
  ResyncResult result;
  std::vector<std::string> sent;
  std::string probe;
  auto sendProbe = [&] {
    // Each probe of one resynchronisation asks for another line, so that an earlier probe's
    // late echo is never taken for the last one's.
    for (int tries = 0; tries < EepromLines; ++tries) {
      probe = NextProbe(link);
      if (probe != failedCommand && std::find(sent.begin(), sent.end(), probe) == sent.end()) break;
    }
    sent.push_back(probe);
    link.SendLine(probe);
  };

  link.Mark("resync", failedCommand.empty() ? "" : "after " + failedCommand);
  link.DiscardStaleInput();
  sendProbe();
  for (;;) {
    if (limit.Passed()) break;
    std::string line;
    bool began = false;
    try {
      began = link.ReceiveReply(std::min(gapMs, limit.LeftMs()), reply.WholeMs, line);
    } catch (const serial::ESerialError& failure) {
      if (!DamagedReply(failure.Code)) throw;
      link.DropHeldInput();
      ++result.Discarded;
      continue;
    }
    if (!began) {
      if (limit.Passed() || sent.size() >= static_cast<size_t>(EepromLines) - 1) break;
      sendProbe();
      continue;
    }
    if (EchoesEepromRead(line, probe)) {
      result.InStep = true;
      return result;
    }
    ++result.Discarded;
  }
  const int32_t seconds = ResyncTimeoutFactor * link.BaseTimeout() / 1000;
  result.Why = "no reply to " + std::to_string(sent.size()) + " EEPROM line read(s) within " +
               std::to_string(seconds) + " s (" + std::to_string(result.Discarded) +
               " other reply line(s) thrown away)";
  return result;
}

}  // namespace protocol

#include "protocol/block_read.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "protocol/clock.h"
#include "protocol/protocol_error.h"
#include "protocol/transaction.h"
#include "serial/serial_error.h"
#include "serial/serial_util.h"

namespace protocol {

namespace {

// The serial errors a repeated read can cure: a reply that did not come, came too long, or
// came damaged on the line. A port that failed or went away is not among them.
bool Repeatable(int32_t code) {
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

// Empties the line once it has been quiet for a first-byte wait, so that a late reply to the
// failed read cannot stand in for the next one. False when it still talks after the longest
// reply's time: then a retry is not safe.
bool SettleLine(DecoLink& link) {
  if (!link.SerialLink) return false;
  serial::TBlockSerial& port = *link.SerialLink;
  int32_t quietMs = ActiveClock().TimeoutMs(FirstByteTimeoutFactor * link.BaseTimeout.load());
  serial::Deadline talking(
      quietMs +
      static_cast<int32_t>(serial::WireTimeMs(MaxReplyLength, port.LineSettings.BaudRate)));
  port.DiscardBuffers();
  while (port.WaitReadable(quietMs)) {
    if (talking.Passed()) return false;
    port.DiscardBuffers();
  }
  return true;
}

}  // namespace

void ReadBlock(DecoLink& link, const std::string& command,
               const std::function<std::string()>& blockName, uint8_t* block, size_t size,
               const std::function<void(uint8_t*)>& readOnce) {
  const int allowed = link.ReadRetries;
  int made = 0;
  auto retry = [&](const std::exception& failure) {
    if (made >= allowed || !SettleLine(link)) return false;
    ++made;
    ++link.Retries;
    PostStatus(link, "Retry " + std::to_string(made) + " of " + std::to_string(allowed) + ": " +
                         blockName() + " (" + failure.what() + ")");
    return true;
  };
  auto read = [&](uint8_t* destination) {
    for (;;) {
      try {
        readOnce(destination);
        return;
      } catch (const EBadReply& failure) {
        if (!retry(failure)) throw;
      } catch (const serial::ESerialError& failure) {
        if (!Repeatable(failure.Code) || !retry(failure)) throw;
      }
    }
  };

  read(block);
  if (!link.DoubleRead) return;
  std::vector<std::vector<uint8_t>> reads{std::vector<uint8_t>(block, block + size)};
  std::vector<uint8_t> again(size);
  const size_t mostReads = 2 + DoubleReadExtraReads;
  while (reads.size() < mostReads) {
    if (reads.size() >= 2) ++link.Rereads;
    read(again.data());
    if (std::find(reads.begin(), reads.end(), again) != reads.end()) {
      std::memcpy(block, again.data(), size);
      return;
    }
    reads.push_back(again);
  }
  throw EBadReply(command,
                  std::to_string(mostReads) + " reads of " + blockName() + " never agreed");
}

}  // namespace protocol

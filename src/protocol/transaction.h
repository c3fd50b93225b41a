// One command transaction with the deco, the status line to the window, and the whole-second
// pauses between protocol steps.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/deco_link.h"

namespace protocol {

// A reply must begin within this many reply time-outs; a deco that never answers must not
// hold the caller for ever.
inline constexpr int32_t FirstByteTimeoutFactor = 4;
inline constexpr int32_t ModelQueryTimeoutFactor = 5;
// The longest reply line the deco sends is 515 characters; anything far beyond is garbage.
inline constexpr int32_t MaxReplyLength = 1024;

// Sends command and answers the deco's reply line, waiting timeoutFactor reply time-outs.
std::string SendCommand(DecoLink& link, const std::string& command, int timeoutFactor);
// The reply time-out of timeoutFactor base time-outs, on the link's clock.
int32_t ReplyTimeoutMs(const DecoLink& link, int timeoutFactor);

// How long a reply may take: to begin, and as a whole once begun.
struct ReplyBudget {
  int32_t FirstByteMs;
  int32_t WholeMs;
};
// The budget of a reply that may take timeoutFactor reply time-outs: FirstByteTimeoutFactor of
// them to begin, then the time-out plus the longest reply's wire time at the link's speed, so
// that a deco that trickles bytes without a CR cannot hold the caller.
ReplyBudget ReplyBudgetOf(const DecoLink& link, int timeoutFactor);

// The wire time of one character at the link's speed, in ms.
double CharacterMs(const DecoLink& link);

// A log line for the deco's owner.
void PostStatus(DecoLink& link, const std::string& text);
// A pause of whole seconds on the link's clock.
void WaitSeconds(DecoLink& link, unsigned seconds);
// Whole seconds between two readings of ClockReading().
int64_t ElapsedSeconds(uint64_t start, uint64_t end);
uint64_t ClockReading(const DecoLink& link);

}  // namespace protocol

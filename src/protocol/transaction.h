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

// Sends command and answers the deco's reply line, waiting timeoutFactor reply time-outs.
std::string SendCommand(DecoLink& link, const std::string& command, int timeoutFactor);
// The reply time-out of timeoutFactor base time-outs, on the active clock.
int32_t ReplyTimeoutMs(const DecoLink& link, int timeoutFactor);
// A log line for the deco's owner.
void PostStatus(DecoLink& link, const std::string& text);
void WaitSeconds(unsigned seconds);
// Whole seconds between two readings of ClockReading().
int64_t ElapsedSeconds(uint64_t start, uint64_t end);
uint64_t ClockReading();

}  // namespace protocol

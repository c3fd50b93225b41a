// One command transaction with the deco, the status line to the window, and the whole-second
// pauses between protocol steps.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/block_serial.h"

namespace protocol {

inline constexpr int32_t StandardBaseTimeout = 500;
// A reply must begin within this many reply time-outs; a deco that never answers must not
// hold the caller for ever.
inline constexpr int32_t FirstByteTimeoutFactor = 4;
// The longest reply line the deco sends is 515 characters; anything far beyond is garbage.
inline constexpr int32_t MaxReplyLength = 1024;
inline constexpr int32_t ModelQueryTimeoutFactor = 5;

// Base reply time-out in milliseconds; set to 500 at start-up, every Connect and every job.
std::atomic<int32_t>& BaseTimeout();
// The one open connection, null while disconnected.
std::unique_ptr<serial::TBlockSerial>& SerialLink();

// The window side of status lines: takes one line over, synchronously, on its own thread.
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  // Called by PostStatus; returns when the line has been taken over. Empty lines add nothing.
  virtual void ShowStatusText(const std::string& line) = 0;
};

// Where PostStatus delivers; null drops the lines.
std::atomic<StatusSink*>& MainWindowHandle();

// The last line handed to PostStatus.
std::string StatusText();

std::string SendCommand(const std::string& command, int timeoutFactor);
void PostStatus(const std::string& text);
void WaitSeconds(unsigned seconds);
// Whole seconds between two readings of ClockReading().
int64_t ElapsedSeconds(uint64_t start, uint64_t end);
uint64_t ClockReading();

}  // namespace protocol

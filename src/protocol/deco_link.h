// One deco and the line to it: the port, the reply time-out, where its status lines go, what
// Connect learned and how blocks are read. Every protocol operation takes it first, as a device
// handle: who talks to which deco is visible at every call, and two decos never share state. The
// window owns one; the command line serving several decos owns one per port.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "protocol/hex_codec.h"
#include "serial/block_serial.h"

namespace protocol {

inline constexpr int32_t StandardBaseTimeout = 500;

// The owner's side of status lines: takes one line over, synchronously, on its own thread.
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  // Called by PostStatus; returns when the line has been taken over. Empty lines add nothing.
  virtual void ShowStatusText(const std::string& line) = 0;
};

class DecoLink {
 public:
  explicit DecoLink(StatusSink* sink = nullptr) : MainWindowHandle(sink) {}
  DecoLink(const DecoLink&) = delete;
  DecoLink& operator=(const DecoLink&) = delete;

  // The open connection, null while disconnected.
  std::unique_ptr<serial::TBlockSerial> SerialLink;
  // Base reply time-out in milliseconds; set to 500 at every Connect and every job.
  std::atomic<int32_t> BaseTimeout{StandardBaseTimeout};
  // Where PostStatus delivers; null drops the lines.
  std::atomic<StatusSink*> MainWindowHandle;
  // True: the deco shows standby and is first reached at 9600 baud.
  std::atomic<bool> DecoInStandby{true};
  // What Connect learned: the model text, and whether that model protects flash sector 18.
  std::atomic<bool> Block18Protected{false};
  std::string Model;
  // How the deco answered the speed switch: not at all, as expected from standby, or otherwise
  // (a deco already in service mode at the chosen speed answers plainly, which reads as wrong).
  enum class SwitchAnswer { None, Right, Wrong };
  std::atomic<SwitchAnswer> SpeedSwitchAnswer{SwitchAnswer::None};
  // Every block is read until two reads agree; Rereads counts the reads beyond the second.
  std::atomic<bool> DoubleRead{false};
  std::atomic<uint64_t> Rereads{0};
  // A block read that fails by a time-out, a bad reply or a line error is sent again, at most
  // ReadRetries times per block (0: never, as the window does); Retries counts the repeats.
  std::atomic<int> ReadRetries{0};
  std::atomic<uint64_t> Retries{0};
  // Which EEPROM line the next resynchronisation probe reads; each probe takes the next.
  int NextProbeLine = 0;
  // The line buffer of the EEPROM transfer.
  std::array<uint8_t, EepromLineBytes> EepromBuffer{};

  // The last line handed to PostStatus.
  std::string StatusText() const;
  void SetStatusText(const std::string& text);

 private:
  mutable std::mutex statusMutex_;
  std::string statusText_;
};

}  // namespace protocol

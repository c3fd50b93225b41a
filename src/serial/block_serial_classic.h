// TClassicSerial: the port with the classic operations that the program never calls but a
// general serial component offers: counted and stream transfers, exact-length and line receives,
// modem (AT) commands, break, RTS toggling, rate limits and queue resizing. They rest only on the
// core of TBlockSerial and follow its recording and raising rules; the engine's path never
// comes here.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "serial/block_serial.h"

namespace serial {

class TClassicSerial : public TBlockSerial {
 public:
  static constexpr int32_t DefaultAtTimeout = 1000;

  using TBlockSerial::TBlockSerial;

  static std::string VersionText();

  // Line control.
  bool TransmitterIdle();
  void ResizeInputQueue(int32_t size);
  void FetchLineSettings();
  bool CarrierState();
  bool RingState();
  void SetRtsToggle(bool on);
  void SendBreak(int32_t ms);
  void SetRateLimit(int32_t limit);
  // The open and each write and read fail while DSR or CTS is low.
  void TestDeviceLines(bool dsr, bool cts);

  // Sending.
  void WriteOneByte(uint8_t value);
  void WriteInt32(int32_t value);
  void WriteCountedText(const std::string& text);
  void WriteStreamRaw(std::istream& stream);
  void WriteStreamCounted(std::istream& stream);
  void WriteStreamCountedBE(std::istream& stream);

  // Receiving; with totalTimeout the time-out bounds the whole receive, not each silence.
  int32_t ReadExact(void* buffer, int32_t count, int32_t timeout, bool totalTimeout = false);
  std::string ReceiveCount(int32_t count, int32_t timeout, bool totalTimeout = false);
  // With anyLineEnd, as a modem's replies need, any line end ends the line.
  std::string ReceiveLine(int32_t timeout, bool anyLineEnd = false);
  int32_t ReadInt32(int32_t timeout);
  std::string ReceiveCountedText(int32_t timeout);
  void ReadStreamUntilIdle(std::ostream& stream, int32_t timeout);
  void ReadStreamCount(std::ostream& stream, int32_t count, int32_t timeout);
  void ReadStreamCounted(std::ostream& stream, int32_t timeout);
  void ReadStreamCountedBE(std::ostream& stream, int32_t timeout);

  // Modem commands; ModemReplyOk tells whether the last one ended in OK (or CONNECT).
  void SetAtTimeout(int32_t ms) { atTimeout_ = ms; }
  std::string ModemCommand(const std::string& command);
  std::string ModemDial(const std::string& number);
  bool ModemReplyOk() const { return modemReplyOk_; }

 private:
  std::string ModemExchange(const std::string& command, int32_t timeout, bool dial);

  int32_t atTimeout_ = DefaultAtTimeout;
  bool modemReplyOk_ = false;
};

}  // namespace serial

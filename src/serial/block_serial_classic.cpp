// TClassicSerial: the classic operations of the port that the program never calls.
#include "serial/block_serial_classic.h"

#include <cstring>
#include <istream>
#include <ostream>
#include <vector>

#include "serial/serial_util.h"

namespace serial {

namespace {
constexpr int32_t StreamPieceSize = 8192;
constexpr int32_t ModemDialFactor = 90;

int32_t RemainingSize(std::istream& stream) {
  std::streampos here = stream.tellg();
  stream.seekg(0, std::ios::end);
  std::streampos end = stream.tellg();
  stream.seekg(here);
  return static_cast<int32_t>(end - here);
}
}  // namespace

// ---- line control ------------------------------------------------------------------------------

// Only an old UART read directly could tell; every system now reports the output drained when the
// line is idle, so nobody needs to ask.
bool TClassicSerial::TransmitterIdle() {
  return true;
}

void TClassicSerial::ResizeInputQueue(int32_t size) {
  RecordError(ErrOk);
  int error = backend_->SetQueueSizes(size);
  if (error != 0) {
    RecordError(error);
    RaiseOnError();
    return;
  }
  FetchLineSettings();
  lineSettings_.XonLimit = static_cast<uint16_t>(size / 4);
  lineSettings_.XoffLimit = static_cast<uint16_t>(size / 4);
  ApplyLineSettings();
  inputQueueSize_ = size;
}

void TClassicSerial::FetchLineSettings() {
  RecordError(ErrOk);
  int error = backend_->Fetch(lineSettings_);
  if (error != 0) RecordError(error);
  RaiseOnError();
}

bool TClassicSerial::CarrierState() {
  return ReadModemStatus() & ModemCarrier;
}
bool TClassicSerial::RingState() {
  return ReadModemStatus() & ModemRing;
}

void TClassicSerial::SetRtsToggle(bool on) {
  // Without a driver-side toggle mode the component raises and drops RTS around each write.
  rtsToggle_ = on;
  if (on) SetRtsLine(false);
}

void TClassicSerial::SendBreak(int32_t ms) {
  RecordError(ErrOk);
  int error = backend_->SetBreak(true);
  if (error == 0) {
    SleepMs(static_cast<uint32_t>(ms < 0 ? 0 : ms));
    error = backend_->SetBreak(false);
  }
  if (error != 0) RecordError(error);
  RaiseOnError();
}

void TClassicSerial::TestDeviceLines(bool dsr, bool cts) {
  testDsr_ = dsr;
  testCts_ = cts;
}

void TClassicSerial::SetRateLimit(int32_t limit) {
  sendRateLimit_ = limit;
  receiveRateLimit_ = limit;
}

std::string TClassicSerial::VersionText() {
  return "Pyrelink serial port 1.0";
}

// ---- sending -----------------------------------------------------------------------------------

void TClassicSerial::WriteOneByte(uint8_t value) {
  WriteBytes(&value, 1);
}

void TClassicSerial::WriteInt32(int32_t value) {
  uint8_t bytes[4];
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
  WriteBytes(bytes, 4);
}

void TClassicSerial::WriteCountedText(const std::string& text) {
  WriteInt32(static_cast<int32_t>(text.size()));
  SendText(text);
}

void TClassicSerial::WriteStreamRaw(std::istream& stream) {
  std::vector<char> piece(StreamPieceSize);
  for (;;) {
    stream.read(piece.data(), StreamPieceSize);
    std::streamsize got = stream.gcount();
    if (got <= 0) break;
    WriteBytes(piece.data(), static_cast<int32_t>(got));
  }
}

void TClassicSerial::WriteStreamCounted(std::istream& stream) {
  WriteInt32(RemainingSize(stream));
  WriteStreamRaw(stream);
}

void TClassicSerial::WriteStreamCountedBE(std::istream& stream) {
  WriteInt32(static_cast<int32_t>(ReverseBytes32(static_cast<uint32_t>(RemainingSize(stream)))));
  WriteStreamRaw(stream);
}

// ---- receiving ---------------------------------------------------------------------------------

int32_t TClassicSerial::ReadExact(void* buffer, int32_t count, int32_t timeout,
                                  bool totalTimeout) {
  auto* out = static_cast<char*>(buffer);
  int32_t have = 0;
  // The total time-out, as in ReceiveUntil: a negative one is spent by its first wait.
  const Deadline total = Deadline::StartingAt(timeout, NowMs());
  ArrivalMark last{0, MonotonicUs()};
  RecordError(ErrOk);
  while (have < count) {
    if (totalTimeout && have > 0)
      AwaitArrival(static_cast<size_t>(count), static_cast<size_t>(have), last,
                   total.LeftMs(NowMs()));
    std::string chunk = ReceiveAvailable(totalTimeout ? total.LeftMs(NowMs()) : timeout);
    if (lastErrorCode_ != ErrOk) break;
    int32_t take = static_cast<int32_t>(chunk.size());
    if (take > count - have) {
      lineBuffer_ = chunk.substr(static_cast<size_t>(count - have)) + lineBuffer_;
      take = count - have;
    }
    std::memcpy(out + have, chunk.data(), static_cast<size_t>(take));
    have += take;
    if (totalTimeout && have < count && (timeout < 0 || total.Passed(NowMs()))) {
      RecordError(ErrTimeout);
      break;
    }
  }
  RaiseOnError();
  return have;
}

std::string TClassicSerial::ReceiveCount(int32_t count, int32_t timeout, bool totalTimeout) {
  if (count < 1) return "";
  std::string result(static_cast<size_t>(count), '\0');
  int32_t got = ReadExact(result.data(), count, timeout, totalTimeout);
  if (lastErrorCode_ != ErrOk) return "";
  result.resize(static_cast<size_t>(got));
  return result;
}

std::string TClassicSerial::ReceiveLine(int32_t timeout, bool anyLineEnd) {
  std::string line = ReceiveUntil(timeout, "\r\n", ReceiveLimits{0, false, anyLineEnd});
  return lastErrorCode_ == ErrOk ? line : "";
}

int32_t TClassicSerial::ReadInt32(int32_t timeout) {
  std::string bytes = ReceiveCount(4, timeout);
  if (bytes.size() != 4) return 0;
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return static_cast<int32_t>(value);
}

std::string TClassicSerial::ReceiveCountedText(int32_t timeout) {
  int32_t length = ReadInt32(timeout);
  if (lastErrorCode_ != ErrOk) return "";
  return ReceiveCount(length, timeout);
}

void TClassicSerial::ReadStreamUntilIdle(std::ostream& stream, int32_t timeout) {
  for (;;) {
    std::string chunk = ReceiveAvailable(timeout);
    if (lastErrorCode_ != ErrOk) break;
    stream.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
}

void TClassicSerial::ReadStreamCount(std::ostream& stream, int32_t count, int32_t timeout) {
  int32_t left = count;
  while (left > 0) {
    int32_t piece = left > StreamPieceSize ? StreamPieceSize : left;
    std::string chunk = ReceiveCount(piece, timeout);
    if (lastErrorCode_ != ErrOk) break;
    stream.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    left -= piece;
  }
}

void TClassicSerial::ReadStreamCounted(std::ostream& stream, int32_t timeout) {
  int32_t length = ReadInt32(timeout);
  if (lastErrorCode_ != ErrOk) return;
  ReadStreamCount(stream, length, timeout);
}

void TClassicSerial::ReadStreamCountedBE(std::ostream& stream, int32_t timeout) {
  int32_t length = static_cast<int32_t>(ReverseBytes32(static_cast<uint32_t>(ReadInt32(timeout))));
  if (lastErrorCode_ != ErrOk) return;
  ReadStreamCount(stream, length, timeout);
}

// ---- modem commands ----------------------------------------------------------------------------

std::string TClassicSerial::ModemExchange(const std::string& command, int32_t timeout, bool dial) {
  modemReplyOk_ = false;
  std::string joined;
  SendText(command + "\r");
  for (;;) {
    std::string line = ReceiveLine(timeout, true);
    if (lastErrorCode_ != ErrOk) break;
    if (line == command) continue;  // the modem's echo
    if (!joined.empty()) joined += "\r\n";
    joined += line;
    if (!dial) {
      if (line == "OK") {
        modemReplyOk_ = true;
        break;
      }
      if (line == "ERROR") break;
    } else {
      if (line.rfind("CONNECT", 0) == 0) {
        modemReplyOk_ = true;
        break;
      }
      if (line == "NO CARRIER" || line == "ERROR" || line == "BUSY" || line == "NO DIALTONE") break;
    }
  }
  return joined;
}

std::string TClassicSerial::ModemCommand(const std::string& command) {
  return ModemExchange(command, atTimeout_, false);
}

std::string TClassicSerial::ModemDial(const std::string& number) {
  return ModemExchange(number, atTimeout_ * ModemDialFactor, true);
}

}  // namespace serial

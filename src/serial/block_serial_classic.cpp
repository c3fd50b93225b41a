// TBlockSerial, the classic operations that the program never calls but a general serial
// component offers: counted and stream transfers, exact-length and line receives, modem (AT)
// commands, break, RTS toggling, rate limits and queue resizing. They rest only on the core in
// block_serial.cpp and follow its recording and raising rules.
#include <cstring>
#include <istream>
#include <ostream>
#include <vector>

#include "serial/block_serial.h"
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
bool TBlockSerial::TransmitterIdle(uint16_t) {
  return true;
}

void TBlockSerial::ResizeInputQueue(int32_t size) {
  RecordError(ErrOk);
  int error = backend_->SetQueueSizes(size);
  if (error != 0) {
    RecordError(error);
    RaiseOnError();
    return;
  }
  FetchLineSettings();
  LineSettings.XonLimit = static_cast<uint16_t>(size / 4);
  LineSettings.XoffLimit = static_cast<uint16_t>(size / 4);
  ApplyLineSettings();
  InputQueueSize = size;
}

void TBlockSerial::FetchLineSettings() {
  RecordError(ErrOk);
  int error = backend_->Fetch(LineSettings);
  if (error != 0) RecordError(error);
  RaiseOnError();
}

bool TBlockSerial::CarrierState() {
  return ReadModemStatus() & ModemCarrier;
}
bool TBlockSerial::RingState() {
  return ReadModemStatus() & ModemRing;
}

void TBlockSerial::SetRtsToggle(bool on) {
  // Without a driver-side toggle mode the component raises and drops RTS around each write.
  RtsToggle = on;
  if (on) SetRtsLine(false);
}

void TBlockSerial::SendBreak(int32_t ms) {
  RecordError(ErrOk);
  int error = backend_->SetBreak(true);
  if (error == 0) {
    SleepMs(static_cast<uint32_t>(ms < 0 ? 0 : ms));
    error = backend_->SetBreak(false);
  }
  if (error != 0) RecordError(error);
  RaiseOnError();
}

void TBlockSerial::SetRateLimit(int32_t limit) {
  SendRateLimit = limit;
  ReceiveRateLimit = limit;
}

std::string TBlockSerial::VersionText() {
  return "Pyrelink serial port 1.0";
}

// ---- sending -----------------------------------------------------------------------------------

void TBlockSerial::WriteOneByte(uint8_t value) {
  WriteBytes(&value, 1);
}

void TBlockSerial::WriteInt32(int32_t value) {
  uint8_t bytes[4];
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
  WriteBytes(bytes, 4);
}

void TBlockSerial::WriteCountedText(const std::string& text) {
  WriteInt32(static_cast<int32_t>(text.size()));
  SendText(text);
}

void TBlockSerial::WriteStreamRaw(std::istream& stream) {
  std::vector<char> piece(StreamPieceSize);
  for (;;) {
    stream.read(piece.data(), StreamPieceSize);
    std::streamsize got = stream.gcount();
    if (got <= 0) break;
    WriteBytes(piece.data(), static_cast<int32_t>(got));
  }
}

void TBlockSerial::WriteStreamCounted(std::istream& stream) {
  WriteInt32(RemainingSize(stream));
  WriteStreamRaw(stream);
}

void TBlockSerial::WriteStreamCountedBE(std::istream& stream) {
  WriteInt32(static_cast<int32_t>(ReverseBytes32(static_cast<uint32_t>(RemainingSize(stream)))));
  WriteStreamRaw(stream);
}

// ---- receiving ---------------------------------------------------------------------------------

int32_t TBlockSerial::PendingCountAll() {
  if (!LineBuffer.empty()) return static_cast<int32_t>(LineBuffer.size());
  return PendingCount();
}

int32_t TBlockSerial::ReadExact(void* buffer, int32_t count, int32_t timeout) {
  auto* out = static_cast<char*>(buffer);
  int32_t have = 0;
  // The total time-out, as in ReceiveUntil: a negative one is spent by its first wait.
  Deadline total(timeout);
  RecordError(ErrOk);
  while (have < count) {
    std::string chunk = ReceiveAvailable(InterPacketTimeout ? timeout : total.LeftMs());
    if (LastErrorCode != ErrOk) break;
    int32_t take = static_cast<int32_t>(chunk.size());
    if (take > count - have) {
      LineBuffer = chunk.substr(static_cast<size_t>(count - have)) + LineBuffer;
      take = count - have;
    }
    std::memcpy(out + have, chunk.data(), static_cast<size_t>(take));
    have += take;
    if (!InterPacketTimeout && have < count && (timeout < 0 || total.Passed())) {
      RecordError(ErrTimeout);
      break;
    }
  }
  RaiseOnError();
  return have;
}

std::string TBlockSerial::ReceiveCount(int32_t count, int32_t timeout) {
  if (count < 1) return "";
  std::string result(static_cast<size_t>(count), '\0');
  int32_t got = ReadExact(result.data(), count, timeout);
  if (LastErrorCode != ErrOk) return "";
  result.resize(static_cast<size_t>(got));
  return result;
}

std::string TBlockSerial::ReceiveLine(int32_t timeout) {
  std::string line = ReceiveUntil(timeout, "\r\n");
  return LastErrorCode == ErrOk ? line : "";
}

int32_t TBlockSerial::ReadInt32(int32_t timeout) {
  std::string bytes = ReceiveCount(4, timeout);
  if (bytes.size() != 4) return 0;
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return static_cast<int32_t>(value);
}

std::string TBlockSerial::ReceiveCountedText(int32_t timeout) {
  int32_t length = ReadInt32(timeout);
  if (LastErrorCode != ErrOk) return "";
  return ReceiveCount(length, timeout);
}

void TBlockSerial::ReadStreamUntilIdle(std::ostream& stream, int32_t timeout) {
  for (;;) {
    std::string chunk = ReceiveAvailable(timeout);
    if (LastErrorCode != ErrOk) break;
    stream.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
}

void TBlockSerial::ReadStreamCount(std::ostream& stream, int32_t count, int32_t timeout) {
  int32_t left = count;
  while (left > 0) {
    int32_t piece = left > StreamPieceSize ? StreamPieceSize : left;
    std::string chunk = ReceiveCount(piece, timeout);
    if (LastErrorCode != ErrOk) break;
    stream.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    left -= piece;
  }
}

void TBlockSerial::ReadStreamCounted(std::ostream& stream, int32_t timeout) {
  int32_t length = ReadInt32(timeout);
  if (LastErrorCode != ErrOk) return;
  ReadStreamCount(stream, length, timeout);
}

void TBlockSerial::ReadStreamCountedBE(std::ostream& stream, int32_t timeout) {
  int32_t length = static_cast<int32_t>(ReverseBytes32(static_cast<uint32_t>(ReadInt32(timeout))));
  if (LastErrorCode != ErrOk) return;
  ReadStreamCount(stream, length, timeout);
}

// ---- modem commands ----------------------------------------------------------------------------

std::string TBlockSerial::ModemExchange(const std::string& command, int32_t timeout, bool dial) {
  bool savedConvert = ConvertLineEnd;
  ConvertLineEnd = true;
  ModemReplyOk = false;
  std::string joined;
  try {
    SendText(command + "\r");
    for (;;) {
      std::string line = ReceiveLine(timeout);
      if (LastErrorCode != ErrOk) break;
      if (line == command) continue;  // the modem's echo
      if (!joined.empty()) joined += "\r\n";
      joined += line;
      if (!dial) {
        if (line == "OK") {
          ModemReplyOk = true;
          break;
        }
        if (line == "ERROR") break;
      } else {
        if (line.rfind("CONNECT", 0) == 0) {
          ModemReplyOk = true;
          break;
        }
        if (line == "NO CARRIER" || line == "ERROR" || line == "BUSY" || line == "NO DIALTONE")
          break;
      }
    }
  } catch (...) {
    ConvertLineEnd = savedConvert;
    throw;
  }
  ConvertLineEnd = savedConvert;
  return joined;
}

std::string TBlockSerial::ModemCommand(const std::string& command) {
  return ModemExchange(command, AtTimeout, false);
}

std::string TBlockSerial::ModemDial(const std::string& number) {
  return ModemExchange(number, AtTimeout * ModemDialFactor, true);
}

}  // namespace serial

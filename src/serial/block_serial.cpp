// TBlockSerial, the part the deco protocol uses and what it rests on: lifecycle, line format,
// error recording, the core read and write, queue counts, waits and the receives with time-outs.
// The classic operations that the program never calls are in block_serial_classic.cpp.
#include "serial/block_serial.h"

#include <cerrno>

#include "serial/serial_util.h"

namespace serial {

namespace {
constexpr int32_t RtsToggleDrainMs = 255;
constexpr const char* ComPrefix = "COM";
constexpr const char* TtySPrefix = "/DEV/TTYS";

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Decimal number or fallback, like the classic string-to-integer with default.
int32_t ToIntDefault(const std::string& text, int32_t fallback) {
  if (text.empty()) return fallback;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i >= text.size()) return fallback;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return fallback;
    value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) return fallback;
  }
  return static_cast<int32_t>(negative ? -value : value);
}
}  // namespace

TBlockSerial::TBlockSerial() : TBlockSerial(MakePortBackend()) {}

TBlockSerial::TBlockSerial(std::unique_ptr<PortBackend> backend) : backend_(std::move(backend)) {
  RecordError(ErrOk);
}

TBlockSerial::~TBlockSerial() {
  // A destructor must not throw: closing records 0 and raises nothing.
  ClosePort();
}

// ---- error recording -------------------------------------------------------------------------

void TBlockSerial::RecordError(int32_t code) {
  LastErrorCode = code;
  LastErrorText = GetErrorDesc(code);
}

void TBlockSerial::RecordSystemError(intptr_t result) {
  RecordError(result == -1 ? errno : ErrOk);
}

void TBlockSerial::RaiseOnError() {
  if (RaiseExcept && LastErrorCode != ErrOk) throw ESerialError(LastErrorCode);
}

void TBlockSerial::RecordAndRaise(int32_t code) {
  RecordError(code);
  RaiseOnError();
}

void TBlockSerial::MapLineErrors(uint32_t flags) {
  if (flags & LineErrFrame) LastErrorCode = ErrFrame;
  if (flags & LineErrOverrun) LastErrorCode = ErrOverrun;
  if (flags & LineErrRxOver) LastErrorCode = ErrRxOver;
  if (flags & LineErrParity) LastErrorCode = ErrRxParity;
  if (flags & LineErrTxFull) LastErrorCode = ErrTxFull;
}

// ---- line control ------------------------------------------------------------------------------

uint16_t TBlockSerial::QueryPortAddress() {
  return 0;
}

bool TBlockSerial::DsrState() {
  return ReadModemStatus() & ModemDsr;
}
bool TBlockSerial::CtsState() {
  return ReadModemStatus() & ModemCts;
}
void TBlockSerial::SetDtrLine(bool on) {
  backend_->SetDtr(on);
}
void TBlockSerial::SetRtsLine(bool on) {
  backend_->SetRts(on);
}

uint32_t TBlockSerial::ReadModemStatus() {
  RecordError(ErrOk);
  uint32_t status = 0;
  int error = backend_->ModemStatus(status);
  if (error != 0) RecordError(error);
  RaiseOnError();
  ModemStatusWord = status;
  return status;
}

void TBlockSerial::ReportStatus(THookSerialReason reason, const std::string& value) {
  if (OnStatus) OnStatus(this, reason, value);
}

void TBlockSerial::ParsePortNumber(const std::string& name) {
  PortIndex = -1;
  std::string upper = Upper(name);
  if (upper.rfind(ComPrefix, 0) == 0) {
    PortIndex = ToIntDefault(name.substr(3), 0) - 1;
  }
  if (upper.rfind(TtySPrefix, 0) == 0) {
    PortIndex = ToIntDefault(name.substr(9), -2);
  }
}

bool TBlockSerial::DeviceAnswering() {
  if (TestDSR && !DsrState()) return false;
  if (TestCTS && !CtsState()) return false;
  return true;
}

bool TBlockSerial::PortNotReady() {
  if (!PortOpen) {
    RecordAndRaise(ErrNotConnected);
    return true;
  }
  if (!DeviceAnswering()) {
    RecordAndRaise(ErrNoDeviceAnswer);
    return true;
  }
  return false;
}

void TBlockSerial::PaceTransfer(int32_t count, int32_t limit, uint32_t& next) {
  if (limit <= 0) return;
  uint32_t now = CurrentTick();
  if (now < next) {
    uint32_t wait = next - now;
    ReportStatus(HR_Wait, std::to_string(wait));
    SleepMs(wait);
  }
  next = CurrentTick() +
         static_cast<uint32_t>(static_cast<double>(count) / static_cast<double>(limit) * 1000.0);
}

// ---- lifecycle and line format ------------------------------------------------------------------

void TBlockSerial::ClosePort() {
  if (Handle != -1) {
    // DiscardBuffers without its raise: closing runs from the destructor too.
    backend_->Purge(PurgeAll);
    LineBuffer.clear();
    SetRtsLine(false);
    SetDtrLine(false);
    backend_->Close();
  }
  PortOpen = false;
  Handle = -1;
  PortIndex = -1;
  RecordError(ErrOk);
  ReportStatus(HR_SerialClose, DevicePath);
}

void TBlockSerial::OpenPort(const std::string& name) {
  if (PortOpen) {
    RecordAndRaise(ErrAlreadyOpen);
    return;
  }
  LineBuffer.clear();
  DevicePath = name;
  ParsePortNumber(name);
  // Only a real port number (COM3, /dev/ttyS2) names a numbered device; /dev/ttySC0 and the
  // like parse to no number and open as given.
  if (PortIndex >= 0) DevicePath = DevicePathForPortIndex(PortIndex);
  int error = backend_->Open(DevicePath);
  Handle = error == 0 ? backend_->NativeHandle() : -1;
  RecordError(error);
  RaiseOnError();
  if (error != 0) return;

  backend_->SetQueueSizes(InputQueueSize);
  PortAddress = QueryPortAddress();
  RecordError(ErrOk);

  if (DeviceAnswering()) {
    PortOpen = true;
    SetRtsLine(true);
    SetDtrLine(true);
    DiscardBuffers();
  } else {
    RecordError(ErrNoDeviceAnswer);
    backend_->Close();
    Handle = -1;
    PortIndex = -1;
  }
  RaiseOnError();
  ReportStatus(HR_Connect, DevicePath);
}

void TBlockSerial::ConfigureLine(int32_t baud, int32_t dataBits, char parity, int32_t stopBits,
                                 bool softwareFlow, bool hardwareFlow) {
  LineSettings = LineSettingsRecord{};
  LineSettings.Length = sizeof(LineSettingsRecord);
  LineSettings.BaudRate = static_cast<uint32_t>(baud);
  LineSettings.DataBits = static_cast<uint8_t>(dataBits);
  switch (parity) {
    case 'N':
    case 'n':
      LineSettings.Parity = 0;
      break;
    case 'O':
    case 'o':
      LineSettings.Parity = 1;
      break;
    case 'E':
    case 'e':
      LineSettings.Parity = 2;
      break;
    case 'M':
    case 'm':
      LineSettings.Parity = 3;
      break;
    case 'S':
    case 's':
      LineSettings.Parity = 4;
      break;
    default:
      LineSettings.Parity = 0;
      break;
  }
  LineSettings.StopBits = static_cast<uint8_t>(stopBits);
  LineSettings.XonChar = 17;
  LineSettings.XoffChar = 19;
  LineSettings.XonLimit = static_cast<uint16_t>(InputQueueSize / 4);
  LineSettings.XoffLimit = static_cast<uint16_t>(InputQueueSize / 4);
  uint32_t flags = FlagBinary;
  if (softwareFlow) flags |= FlagXonXoffOut | FlagXonXoffIn;
  if (hardwareFlow)
    flags |= FlagCtsOutFlow | FlagRtsHandshake;
  else
    flags |= FlagRtsEnable;
  flags |= FlagDtrEnable;
  if (LineSettings.Parity != 0) flags |= FlagParityCheck;
  LineSettings.Flags = flags;
  ApplyLineSettings();
}

void TBlockSerial::ApplyLineSettings() {
  RecordError(ErrOk);
  int error = backend_->Apply(LineSettings);
  if (error != 0) RecordError(error);
  RaiseOnError();
}

// ---- core transfer -----------------------------------------------------------------------------

int32_t TBlockSerial::WriteBytes(const void* buffer, int32_t count) {
  int32_t written = 0;
  if (PortNotReady()) return 0;
  PaceTransfer(count, SendRateLimit, NextSendTick);
  if (RtsToggle) {
    DrainOutput();
    SetRtsLine(true);
  }
  RecordError(ErrOk);
  int error = backend_->Write(static_cast<const uint8_t*>(buffer), count, DeadlockTimeout, written);
  if (error != 0) RecordError(error);
  uint32_t in = 0, out = 0, flags = 0;
  if (backend_->QueueCounts(in, out, flags) == 0 && flags != 0) MapLineErrors(flags);
  if (RtsToggle) {
    DrainOutput();
    WaitWritable(RtsToggleDrainMs);
    SetRtsLine(false);
  }
  RaiseOnError();
  ReportStatus(HR_WriteCount, std::to_string(written));
  if (OnCharacters) OnCharacters(written);
  return written;
}

int32_t TBlockSerial::ReadBytes(void* buffer, int32_t count) {
  int32_t got = 0;
  if (PortNotReady()) return 0;
  PaceTransfer(count, ReceiveRateLimit, NextReceiveTick);
  RecordError(ErrOk);
  int error = backend_->Read(static_cast<uint8_t*>(buffer), count, DeadlockTimeout, got);
  if (error != 0) RecordError(error);
  uint32_t in = 0, out = 0, flags = 0;
  if (backend_->QueueCounts(in, out, flags) == 0 && flags != 0) MapLineErrors(flags);
  RaiseOnError();
  ReportStatus(HR_ReadCount, std::to_string(got));
  if (OnCharacters) OnCharacters(got);
  return got;
}

void TBlockSerial::SendText(const std::string& text) {
  WriteBytes(text.data(), static_cast<int32_t>(text.size()));
}

// ---- queues and waits --------------------------------------------------------------------------

int32_t TBlockSerial::PendingCount() {
  uint32_t in = 0, out = 0, flags = 0;
  int error = backend_->QueueCounts(in, out, flags);
  int32_t result = 0;
  if (error == 0) {
    RecordError(ErrOk);
    result = static_cast<int32_t>(in);
  } else {
    RecordError(error);
  }
  RaiseOnError();
  return result;
}

int32_t TBlockSerial::OutputPendingCount() {
  RecordError(ErrOk);
  uint32_t in = 0, out = 0, flags = 0;
  int error = backend_->QueueCounts(in, out, flags);
  if (error != 0) {
    RecordError(error);
    out = 0;
  }
  RaiseOnError();
  return static_cast<int32_t>(out);
}

bool TBlockSerial::WaitLineEvent(uint32_t mask, int32_t timeout) {
  RecordError(ErrOk);
  if (mask == EventRxChar && PendingCount() > 0) return true;
  bool happened = false;
  int error = backend_->WaitEvent(mask, timeout, happened);
  if (error != 0) {
    // A device that went away is an error at once, never a silent false to spin on.
    RecordError(error);
    RaiseOnError();
    return false;
  }
  return happened;
}

bool TBlockSerial::WaitReadable(int32_t timeout) {
  bool ready = PendingCount() > 0 || WaitLineEvent(EventRxChar, timeout);
  if (ready) ReportStatus(HR_CanRead, "");
  return ready;
}

bool TBlockSerial::WaitWritable(int32_t timeout) {
  bool ready = OutputPendingCount() == 0 || WaitLineEvent(EventTxEmpty, timeout);
  if (ready) ReportStatus(HR_CanWrite, "");
  return ready;
}

bool TBlockSerial::WaitReadableBuffered(int32_t timeout) {
  if (!LineBuffer.empty()) return true;
  return WaitReadable(timeout);
}

void TBlockSerial::DiscardBuffers() {
  RecordError(ErrOk);
  int error = backend_->Purge(PurgeAll);
  if (error != 0) RecordError(error);
  LineBuffer.clear();
  RaiseOnError();
}

void TBlockSerial::DrainOutput() {
  RecordError(ErrOk);
  int error = backend_->Drain(DeadlockTimeout);
  if (error != 0) RecordError(error);
  RaiseOnError();
}

// ---- receiving ---------------------------------------------------------------------------------

std::string TBlockSerial::ReceiveAvailable(int32_t timeout) {
  std::string result;
  if (PortNotReady()) return result;
  RecordError(ErrOk);
  if (!LineBuffer.empty()) {
    result.swap(LineBuffer);
    return result;
  }
  int32_t n = PendingCount();
  if (n == 0) {
    if (WaitReadable(timeout)) {
      n = PendingCount();
      if (n == 0) RecordError(ErrTimeout);
    } else if (LastErrorCode == ErrOk) {
      RecordError(ErrTimeout);
    }
  }
  if (n > 0) {
    result.resize(static_cast<size_t>(n));
    // A line error found with the bytes is raised only once they are kept in the line buffer.
    bool raise = RaiseExcept;
    RaiseExcept = false;
    int32_t got = ReadBytes(result.data(), n);
    RaiseExcept = raise;
    result.resize(static_cast<size_t>(got));
    if (LastErrorCode != ErrOk) {
      LineBuffer = result;
      result.clear();
    }
  }
  RaiseOnError();
  return result;
}

uint8_t TBlockSerial::ReceiveByte(int32_t timeout) {
  if (PortNotReady()) return 0;
  RecordError(ErrOk);
  if (LineBuffer.empty()) {
    std::string chunk = ReceiveAvailable(timeout);  // after a line error its bytes are kept
    LineBuffer += chunk;
  }
  uint8_t result = 0;
  if (LastErrorCode == ErrOk && !LineBuffer.empty()) {
    result = static_cast<uint8_t>(LineBuffer[0]);
    LineBuffer.erase(0, 1);
  }
  RaiseOnError();
  return result;
}

std::string TBlockSerial::ReceiveUntil(int32_t timeout, const std::string& terminator) {
  std::string result;
  if (PortNotReady()) return result;
  RecordError(ErrOk);
  if (terminator.empty()) return result;
  bool convert = ConvertLineEnd && terminator == "\r\n";
  size_t matchLength = terminator.size();
  std::string collected;
  // The total time-out, for InterPacketTimeout off. A negative one lets the first wait go
  // without limit and allows no second, as counting the time left down from it would.
  Deadline total(timeout);
  size_t pos = 0;
  // The line buffer belongs to the collected text from the start, so that a failure (which
  // puts everything collected back) never loses a byte, even if it raises mid-loop.
  try {
    for (;;) {
      collected += ReceiveAvailable(InterPacketTimeout ? timeout : total.LeftMs());
      if (LastErrorCode != ErrOk) break;
      pos = 0;
      if (!collected.empty()) {
        if (!convert) {
          size_t at = collected.find(terminator);
          pos = at == std::string::npos ? 0 : at + 1;
          matchLength = terminator.size();
        } else {
          if (TrailingCR && collected[0] == '\n') collected.erase(0, 1);
          if (TrailingLF && !collected.empty() && collected[0] == '\r') collected.erase(0, 1);
          TrailingCR = false;
          TrailingLF = false;
          LineEnd end = FindLineEnd(collected);
          pos = end.Position;
          matchLength = end.Form.size();
          TrailingCR = end.Form == "\r";
          TrailingLF = end.Form == "\n";
        }
      }
      // Only the line itself counts against the limit, not the next reply's first bytes behind
      // it; a line too long is handed over to nobody and stays whole in the line buffer.
      size_t lineLength = pos > 0 ? pos - 1 : collected.size();
      if (MaxLineLength > 0 && lineLength > static_cast<size_t>(MaxLineLength)) {
        RecordError(ErrMaxBuffer);
        pos = 0;
        break;
      }
      if (pos > 0) break;
      if (!InterPacketTimeout && (timeout < 0 || total.Passed())) {
        RecordError(ErrTimeout);
        break;
      }
    }
  } catch (...) {
    LineBuffer = collected + LineBuffer;
    throw;
  }
  if (pos > 0) {
    result = collected.substr(0, pos - 1);
    collected.erase(0, pos + matchLength - 1);
  }
  LineBuffer = collected + LineBuffer;
  RaiseOnError();
  return result;
}

}  // namespace serial

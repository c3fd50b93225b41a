// TBlockSerial, the part the deco protocol uses and what it rests on: lifecycle, error
// recording, the core read and write, queue counts, waits and the receives with time-outs. The
// line format is in block_serial_line.cpp.
// The classic operations that the program never calls are TClassicSerial's
// (block_serial_classic.*).
#include "serial/block_serial.h"

#include <algorithm>
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

TBlockSerial::TBlockSerial(std::unique_ptr<PortBackend> backend)
    : backend_(std::move(backend)), nowMs_(MonotonicMs) {
  RecordError(ErrOk);
}

void TBlockSerial::SetTimeSource(std::function<uint64_t()> nowMs) {
  nowMs_ = nowMs ? std::move(nowMs) : MonotonicMs;
}

uint64_t TBlockSerial::NowMs() const {
  return nowMs_();
}

TBlockSerial::~TBlockSerial() {
  // A destructor must not throw: closing records 0 and raises nothing.
  ClosePort();
}

// ---- error recording -------------------------------------------------------------------------

void TBlockSerial::RecordError(int32_t code) {
  lastErrorCode_ = code;
  lastErrorText_ = GetErrorDesc(code);
}

void TBlockSerial::RecordSystemError(intptr_t result) {
  RecordError(result == -1 ? errno : ErrOk);
}

void TBlockSerial::RaiseOnError() {
  if (raiseExcept_ && lastErrorCode_ != ErrOk) throw ESerialError(lastErrorCode_);
}

void TBlockSerial::RecordAndRaise(int32_t code) {
  RecordError(code);
  RaiseOnError();
}

int32_t TBlockSerial::LineErrorCode(uint32_t flags) {
  int32_t code = ErrOk;
  if (flags & LineErrFrame) code = ErrFrame;
  if (flags & LineErrOverrun) code = ErrOverrun;
  if (flags & LineErrRxOver) code = ErrRxOver;
  if (flags & LineErrParity) code = ErrRxParity;
  if (flags & LineErrTxFull) code = ErrTxFull;
  return code;
}

void TBlockSerial::MapLineErrors(uint32_t flags) {
  if (int32_t code = LineErrorCode(flags)) lastErrorCode_ = code;
}

// ---- line control ------------------------------------------------------------------------------

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
  return status;
}

void TBlockSerial::ReportStatus(THookSerialReason reason, const std::string& value) {
  if (onStatus_) onStatus_(this, reason, value);
}

int32_t TBlockSerial::PortNumberOf(const std::string& name) {
  int32_t index = -1;
  std::string upper = Upper(name);
  if (upper.rfind(ComPrefix, 0) == 0) index = ToIntDefault(name.substr(3), 0) - 1;
  if (upper.rfind(TtySPrefix, 0) == 0) index = ToIntDefault(name.substr(9), -2);
  return index;
}

bool TBlockSerial::DeviceAnswering() {
  if (testDsr_ && !DsrState()) return false;
  if (testCts_ && !CtsState()) return false;
  return true;
}

bool TBlockSerial::PortNotReady() {
  if (!portOpen_) {
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
  uint32_t now = static_cast<uint32_t>(NowMs());
  if (now < next) {
    uint32_t wait = next - now;
    ReportStatus(HR_Wait, std::to_string(wait));
    SleepMs(wait);
  }
  next = static_cast<uint32_t>(NowMs()) +
         static_cast<uint32_t>(static_cast<double>(count) / static_cast<double>(limit) * 1000.0);
}

// ---- lifecycle ---------------------------------------------------------------------------------

void TBlockSerial::ClosePort() {
  if (handle_ != -1) {
    // DiscardBuffers without its raise: closing runs from the destructor too.
    backend_->Purge(PurgeAll);
    lineBuffer_.clear();
    SetRtsLine(false);
    SetDtrLine(false);
    backend_->Close();
  }
  portOpen_ = false;
  handle_ = -1;
  portIndex_ = -1;
  RecordError(ErrOk);
  ReportStatus(HR_SerialClose, devicePath_);
}

void TBlockSerial::OpenPort(const std::string& name) {
  if (portOpen_) {
    RecordAndRaise(ErrAlreadyOpen);
    return;
  }
  lineBuffer_.clear();
  lastLineLength_ = 0;
  devicePath_ = name;
  portIndex_ = PortNumberOf(name);
  // Only a real port number (COM3, /dev/ttyS2) names a numbered device; /dev/ttySC0 and the
  // like parse to no number and open as given.
  if (portIndex_ >= 0) devicePath_ = DevicePathForPortIndex(portIndex_);
  int error = backend_->Open(devicePath_);
  handle_ = error == 0 ? backend_->NativeHandle() : -1;
  RecordError(error);
  RaiseOnError();
  if (error != 0) return;

  backend_->SetQueueSizes(inputQueueSize_);
  RecordError(ErrOk);

  if (DeviceAnswering()) {
    portOpen_ = true;
    SetRtsLine(true);
    SetDtrLine(true);
    DiscardBuffers();
  } else {
    RecordError(ErrNoDeviceAnswer);
    backend_->Close();
    handle_ = -1;
    portIndex_ = -1;
  }
  RaiseOnError();
  ReportStatus(HR_Connect, devicePath_);
}

// ---- core transfer -----------------------------------------------------------------------------

int32_t TBlockSerial::WriteBytes(const void* buffer, int32_t count) {
  int32_t written = 0;
  if (PortNotReady()) return 0;
  PaceTransfer(count, sendRateLimit_, nextSendTick_);
  if (rtsToggle_) {
    DrainOutput();
    SetRtsLine(true);
  }
  RecordError(ErrOk);
  int error = backend_->Write(static_cast<const uint8_t*>(buffer), count, deadlockTimeout_, written);
  if (error != 0) RecordError(error);
  uint32_t flags = 0;
  if (backend_->TakeLineErrors(flags) == 0 && flags != 0) MapLineErrors(flags);
  if (rtsToggle_) {
    DrainOutput();
    WaitWritable(RtsToggleDrainMs);
    SetRtsLine(false);
  }
  RaiseOnError();
  ReportStatus(HR_WriteCount, std::to_string(written));
  if (onCharacters_) onCharacters_(written);
  return written;
}

int32_t TBlockSerial::ReadBytes(void* buffer, int32_t count) {
  int32_t got = 0;
  if (PortNotReady()) return 0;
  PaceTransfer(count, receiveRateLimit_, nextReceiveTick_);
  RecordError(ErrOk);
  int error = backend_->Read(static_cast<uint8_t*>(buffer), count, deadlockTimeout_, got);
  if (error != 0) RecordError(error);
  uint32_t flags = 0;
  if (backend_->TakeLineErrors(flags) == 0 && flags != 0) MapLineErrors(flags);
  RaiseOnError();
  ReportStatus(HR_ReadCount, std::to_string(got));
  if (onCharacters_) onCharacters_(got);
  return got;
}

int32_t TBlockSerial::PendingCountAll() {
  if (!lineBuffer_.empty()) return static_cast<int32_t>(lineBuffer_.size());
  return PendingCount();
}

void TBlockSerial::SendText(const std::string& text) {
  WriteBytes(text.data(), static_cast<int32_t>(text.size()));
}

// ---- queues and waits --------------------------------------------------------------------------

int32_t TBlockSerial::PendingCount() {
  uint32_t in = 0;
  int error = backend_->InputCount(in);
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
  uint32_t out = 0;
  int error = backend_->OutputCount(out);
  if (error != 0) {
    RecordError(error);
    out = 0;
  }
  RaiseOnError();
  return static_cast<int32_t>(out);
}

// The callers have looked at the queue just before.
bool TBlockSerial::WaitLineEvent(uint32_t mask, int32_t timeout) {
  RecordError(ErrOk);
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
  return PendingCount() > 0 ? ReportReadable(true) : AwaitInput(timeout);
}

bool TBlockSerial::AwaitInput(int32_t timeout) {
  return ReportReadable(WaitLineEvent(EventRxChar, timeout));
}

bool TBlockSerial::ReportReadable(bool ready) {
  if (ready) ReportStatus(HR_CanRead, "");
  return ready;
}

bool TBlockSerial::WaitWritable(int32_t timeout) {
  bool ready = OutputPendingCount() == 0 || WaitLineEvent(EventTxEmpty, timeout);
  if (ready) ReportStatus(HR_CanWrite, "");
  return ready;
}

bool TBlockSerial::WaitReadableBuffered(int32_t timeout) {
  if (!lineBuffer_.empty()) return true;
  return WaitReadable(timeout);
}

void TBlockSerial::DiscardBuffers() {
  RecordError(ErrOk);
  int error = backend_->Purge(PurgeAll);
  if (error != 0) RecordError(error);
  lineBuffer_.clear();
  RaiseOnError();
}

void TBlockSerial::DrainOutput() {
  RecordError(ErrOk);
  int error = backend_->Drain(deadlockTimeout_);
  if (error != 0) RecordError(error);
  RaiseOnError();
}

// ---- receiving ---------------------------------------------------------------------------------

void TBlockSerial::AwaitArrival(size_t expected, size_t have, ArrivalMark& last,
                               int32_t leftMs) {
  // The sleep lasts until the last character can be there and may end late by the system's
  // timer slack (50 us on Linux): against the wire time of this many characters that is little;
  // fewer are waited for character by character.
  constexpr int64_t FewestWorthASleep = 32;
  // What may come at once on a line at its speed: a USB adapter's packet (62 bytes), or what
  // gathered while the wake-up was late.
  constexpr int64_t AtOnce = 64;
  const uint32_t baud = lineSettings_.BaudRate;
  const uint64_t nowUs = MonotonicUs();
  const int64_t grown = static_cast<int64_t>(have) - static_cast<int64_t>(last.have);
  const int64_t sinceUs = static_cast<int64_t>(nowUs - last.atUs);
  last = {have, nowUs};
  const int64_t missing = static_cast<int64_t>(expected) - static_cast<int64_t>(have);
  if (missing < FewestWorthASleep || leftMs == 0) return;
  // Bytes that came faster than the line carries them since the last look came from a source
  // faster than the line (a pseudo-terminal written at once), or were waiting for a receiver
  // that came late. Either way the next piece is waited for as it comes, and the look after it
  // tells the two apart: only on a line at its speed is the rest slept for.
  if (WireTimeUs(grown - AtOnce, baud) > sinceUs) return;
  int64_t us = WireTimeUs(missing, baud);
  if (leftMs > 0) us = std::min(us, static_cast<int64_t>(leftMs) * 1000);
  backend_->AwaitArrival(us);
}

std::string TBlockSerial::ReceiveAvailable(int32_t timeout) {
  std::string result;
  if (PortNotReady()) return result;
  RecordError(ErrOk);
  if (!lineBuffer_.empty()) {
    result.swap(lineBuffer_);
    return result;
  }
  int32_t n = PendingCount();
  if (n == 0) {
    if (AwaitInput(timeout)) {
      n = PendingCount();
      if (n == 0) RecordError(ErrTimeout);
    } else if (lastErrorCode_ == ErrOk) {
      RecordError(ErrTimeout);
    }
  }
  if (n > 0) {
    result.resize(static_cast<size_t>(n));
    // A line error found with the bytes is raised only once they are kept in the line buffer.
    bool raise = raiseExcept_;
    raiseExcept_ = false;
    int32_t got = ReadBytes(result.data(), n);
    raiseExcept_ = raise;
    result.resize(static_cast<size_t>(got));
    if (lastErrorCode_ != ErrOk) {
      lineBuffer_ = result;
      result.clear();
    }
  }
  RaiseOnError();
  return result;
}

uint8_t TBlockSerial::ReceiveByte(int32_t timeout) {
  if (PortNotReady()) return 0;
  RecordError(ErrOk);
  if (lineBuffer_.empty()) {
    std::string chunk = ReceiveAvailable(timeout);  // after a line error its bytes are kept
    lineBuffer_ += chunk;
  }
  uint8_t result = 0;
  if (lastErrorCode_ == ErrOk && !lineBuffer_.empty()) {
    result = static_cast<uint8_t>(lineBuffer_[0]);
    lineBuffer_.erase(0, 1);
  }
  RaiseOnError();
  return result;
}

bool TBlockSerial::WaitCharacter(int32_t timeout, bool skipLineFeed) {
  const Deadline deadline = Deadline::StartingAt(timeout, NowMs());
  bool lineFeedDropped = !skipLineFeed;
  while (WaitReadableBuffered(deadline.LeftMs(NowMs()))) {
    if (lineBuffer_.empty()) lineBuffer_ = ReceiveAvailable(0);
    if (lineFeedDropped || lineBuffer_.empty() || lineBuffer_[0] != '\n') return true;
    lineBuffer_.erase(0, 1);
    lineFeedDropped = true;
    if (!lineBuffer_.empty()) return true;
    if (deadline.Passed(NowMs())) return false;
  }
  return false;
}

std::string TBlockSerial::ReceiveUntil(int32_t timeout, const std::string& terminator,
                                       const ReceiveLimits& limits) {
  std::string result;
  if (PortNotReady()) return result;
  RecordError(ErrOk);
  if (terminator.empty()) return result;
  bool convert = limits.AnyLineEnd && terminator == "\r\n";
  size_t matchLength = terminator.size();
  std::string collected;
  // The total time-out, when the limits ask for one. A negative one lets the first wait go
  // without limit and allows no second, as counting the time left down from it would.
  const Deadline total = Deadline::StartingAt(timeout, NowMs());
  ArrivalMark last{0, MonotonicUs()};
  size_t pos = 0;
  // The line buffer belongs to the collected text from the start, so that a failure (which
  // puts everything collected back) never loses a byte, even if it raises mid-loop.
  try {
    for (;;) {
      // A line as long as the last one is expected: nothing ends this one before its rest can
      // be here.
      if (limits.TotalTimeout && !collected.empty())
        AwaitArrival(lastLineLength_, collected.size(), last, total.LeftMs(NowMs()));
      collected += ReceiveAvailable(limits.TotalTimeout ? total.LeftMs(NowMs()) : timeout);
      if (lastErrorCode_ != ErrOk) break;
      pos = 0;
      if (!collected.empty()) {
        if (!convert) {
          size_t at = collected.find(terminator);
          pos = at == std::string::npos ? 0 : at + 1;
          matchLength = terminator.size();
        } else {
          if (trailingCr_ && collected[0] == '\n') collected.erase(0, 1);
          if (trailingLf_ && !collected.empty() && collected[0] == '\r') collected.erase(0, 1);
          trailingCr_ = false;
          trailingLf_ = false;
          LineEnd end = FindLineEnd(collected);
          pos = end.Position;
          matchLength = end.Form.size();
          trailingCr_ = end.Form == "\r";
          trailingLf_ = end.Form == "\n";
        }
      }
      // Only the line itself counts against the limit, not the next reply's first bytes behind
      // it; a line too long is handed over to nobody and stays whole in the line buffer.
      size_t lineLength = pos > 0 ? pos - 1 : collected.size();
      if (limits.MaxLength > 0 && lineLength > static_cast<size_t>(limits.MaxLength)) {
        RecordError(ErrMaxBuffer);
        pos = 0;
        break;
      }
      if (pos > 0) break;
      if (limits.TotalTimeout && (timeout < 0 || total.Passed(NowMs()))) {
        RecordError(ErrTimeout);
        break;
      }
    }
  } catch (...) {
    lineBuffer_ = collected + lineBuffer_;
    throw;
  }
  if (pos > 0) {
    result = collected.substr(0, pos - 1);
    collected.erase(0, pos + matchLength - 1);
    lastLineLength_ = pos + matchLength - 1;
  }
  lineBuffer_ = collected + lineBuffer_;
  RaiseOnError();
  return result;
}

}  // namespace serial

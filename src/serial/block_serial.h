// TBlockSerial: one RS-232 port, opened by name, with millisecond time-outs, a receive-side
// line buffer and numeric error codes that can be raised as ESerialError. Its state is its own:
// callers set a few things before use and give each receive its limits as arguments.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/port_backend.h"
#include "serial/serial_error.h"

namespace serial {

enum THookSerialReason {
  HR_SerialClose,
  HR_Connect,
  HR_CanRead,
  HR_CanWrite,
  HR_ReadCount,
  HR_WriteCount,
  HR_Wait,
};

class TBlockSerial;
using THookSerialStatus =
    std::function<void(TBlockSerial* Sender, THookSerialReason Reason, const std::string& Value)>;

// How one receive ends besides its terminator.
struct ReceiveLimits {
  // The longest line taken (0: any); a longer one fails with ErrMaxBuffer and stays held whole.
  int32_t MaxLength = 0;
  // The time-out bounds the whole receive instead of each silence within it.
  bool TotalTimeout = false;
  // For a "\r\n" terminator: any line end (CR LF, LF CR, CR or LF) ends the line, and the LF
  // or CR that completes a pair split across two receives is dropped.
  bool AnyLineEnd = false;
};

class TBlockSerial {
 public:
  static constexpr int32_t DefaultInputQueueSize = 4096;
  static constexpr int32_t DefaultDeadlockTimeout = 30000;

  TBlockSerial();
  explicit TBlockSerial(std::unique_ptr<PortBackend> backend);
  ~TBlockSerial();
  TBlockSerial(const TBlockSerial&) = delete;
  TBlockSerial& operator=(const TBlockSerial&) = delete;

  // ---- set before use ----------------------------------------------------------------------------
  // Failures raise ESerialError besides being recorded (off: only recorded).
  void RaiseErrors(bool on) { raiseExcept_ = on; }
  // Told of each event of the classic status hook.
  void SetStatusHook(THookSerialStatus hook) { onStatus_ = std::move(hook); }
  // Told the number of characters of every write and read.
  void SetCharacterCounter(std::function<void(int32_t)> counter) { onCharacters_ = std::move(counter); }
  // How long one write or read of the system may take.
  void SetDeadlockTimeout(int32_t ms) { deadlockTimeout_ = ms; }
  int32_t DeadlockTimeout() const { return deadlockTimeout_; }
  // The milliseconds the receives' total time-outs are measured in; the monotonic clock unless
  // given another.
  void SetTimeSource(std::function<uint64_t()> nowMs);

  // ---- what it is --------------------------------------------------------------------------------
  bool IsOpen() const { return portOpen_; }
  intptr_t Handle() const { return handle_; }
  // The device the last port name stood for.
  const std::string& DevicePath() const { return devicePath_; }
  int32_t LastError() const { return lastErrorCode_; }
  const std::string& LastErrorText() const { return lastErrorText_; }
  const LineSettingsRecord& LineSettings() const { return lineSettings_; }
  // Received and not yet taken by a receive.
  const std::string& Held() const { return lineBuffer_; }
  // What was done at the open to make the line answer quickly ("" when nothing applies).
  std::string LatencyNote() const { return backend_ ? backend_->LatencyNote() : ""; }
  static std::string GetErrorDesc(int32_t code) { return serial::GetErrorDesc(code); }

  // ---- lifecycle and line format -----------------------------------------------------------------
  void OpenPort(const std::string& name);
  void ClosePort();
  void ConfigureLine(int32_t baud, int32_t dataBits, char parity, int32_t stopBits,
                     bool softwareFlow, bool hardwareFlow);

  // ---- sending -----------------------------------------------------------------------------------
  int32_t WriteBytes(const void* buffer, int32_t count);
  void SendText(const std::string& text);

  // ---- receiving ---------------------------------------------------------------------------------
  int32_t ReadBytes(void* buffer, int32_t count);
  // What is held or waiting, after a wait of up to timeout for the first of it.
  std::string ReceiveAvailable(int32_t timeout);
  uint8_t ReceiveByte(int32_t timeout);
  // The characters before terminator, which is taken away; what follows it stays held.
  std::string ReceiveUntil(int32_t timeout, const std::string& terminator,
                           const ReceiveLimits& limits = {});
  // Waits up to timeout for a character to take. With skipLineFeed a line feed first in line
  // (the tail of a CR LF before it) is dropped, once, and the wait goes on.
  bool WaitCharacter(int32_t timeout, bool skipLineFeed);
  // Forgets what is held: the rest of a receive that failed.
  void DropHeld() { lineBuffer_.clear(); }

  // ---- queues and waits --------------------------------------------------------------------------
  int32_t PendingCount();
  // Held or, when nothing is held, waiting in the system's queue.
  int32_t PendingCountAll();
  int32_t OutputPendingCount();
  bool WaitReadable(int32_t timeout);
  bool WaitWritable(int32_t timeout);
  bool WaitReadableBuffered(int32_t timeout);
  void DiscardBuffers();
  void DrainOutput();

  // ---- line control and errors -------------------------------------------------------------------
  bool DsrState();
  bool CtsState();
  void SetDtrLine(bool on);
  void SetRtsLine(bool on);
  uint32_t ReadModemStatus();
  // The port number a name gives (COM3: 2, /dev/ttyS2: 2), -1 for none.
  static int32_t PortNumberOf(const std::string& name);
  // The error code line error flags stand for, the last matching flag winning; 0 for none.
  static int32_t LineErrorCode(uint32_t flags);
  void RecordAndRaise(int32_t code);

 private:
  friend class TClassicSerial;

  void MapLineErrors(uint32_t flags);
  uint64_t NowMs() const;
  void ReportStatus(THookSerialReason reason, const std::string& value);
  bool PortNotReady();
  bool DeviceAnswering();
  void PaceTransfer(int32_t count, int32_t limit, uint32_t& next);
  void ApplyLineSettings();
  bool WaitLineEvent(uint32_t mask, int32_t timeout);
  // WaitReadable once the queue was found empty.
  bool AwaitInput(int32_t timeout);
  bool ReportReadable(bool ready);
  // How much a receive had at its last look, and when (MonotonicUs).
  struct ArrivalMark {
    size_t have;
    uint64_t atUs;
  };
  // Sleeps, within leftMs (-1: no limit), while the expected characters of a receive that has
  // some cannot all have arrived; last is the receive's previous look, and becomes this one.
  void AwaitArrival(size_t expected, size_t have, ArrivalMark& last, int32_t leftMs);
  void RecordSystemError(intptr_t result);
  void RaiseOnError();
  void RecordError(int32_t code);

  std::unique_ptr<PortBackend> backend_;
  std::function<uint64_t()> nowMs_;
  THookSerialStatus onStatus_;
  std::function<void(int32_t)> onCharacters_;
  intptr_t handle_ = -1;
  std::string devicePath_;
  int32_t lastErrorCode_ = 0;
  std::string lastErrorText_ = "OK";
  std::string lineBuffer_;
  bool raiseExcept_ = false;
  int32_t inputQueueSize_ = DefaultInputQueueSize;
  bool rtsToggle_ = false;
  int32_t deadlockTimeout_ = DefaultDeadlockTimeout;
  bool portOpen_ = false;
  bool testDsr_ = false;
  bool testCts_ = false;
  // The line end found last was a lone CR or LF, whose partner may begin the next receive.
  bool trailingCr_ = false;
  bool trailingLf_ = false;
  // The length of the last line taken, its line end included: what the next one is expected to
  // be, as a deco's replies to a run of the same command are.
  size_t lastLineLength_ = 0;
  int32_t sendRateLimit_ = 0;
  uint32_t nextSendTick_ = 0;
  int32_t receiveRateLimit_ = 0;
  uint32_t nextReceiveTick_ = 0;
  int32_t portIndex_ = -1;
  LineSettingsRecord lineSettings_{};
};

}  // namespace serial

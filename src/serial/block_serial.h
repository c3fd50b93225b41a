// TBlockSerial: one RS-232 port, opened by name, with millisecond time-outs, a receive-side
// line buffer and numeric error codes that can be raised as ESerialError.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
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

class TBlockSerial {
 public:
  static constexpr int32_t DefaultInputQueueSize = 4096;
  static constexpr int32_t DefaultDeadlockTimeout = 30000;
  static constexpr int32_t DefaultAtTimeout = 1000;

  TBlockSerial();
  explicit TBlockSerial(std::unique_ptr<PortBackend> backend);
  ~TBlockSerial();
  TBlockSerial(const TBlockSerial&) = delete;
  TBlockSerial& operator=(const TBlockSerial&) = delete;

  // State, in the order of the classic component; the published ones are free for the owner.
  THookSerialStatus OnStatus;
  // The number of characters of every write and read, as a number.
  std::function<void(int32_t)> OnCharacters;
  intptr_t Handle = -1;
  int32_t Tag = 0;
  std::string DevicePath;
  // What was done at the open to make the line answer quickly ("" when nothing applies).
  std::string LatencyNote() const { return backend_ ? backend_->LatencyNote() : ""; }
  int32_t LastErrorCode = 0;
  std::string LastErrorText = "OK";
  std::string LineBuffer;
  bool RaiseExcept = false;
  int32_t InputQueueSize = DefaultInputQueueSize;
  uint32_t ModemStatusWord = 0;
  bool RtsToggle = false;
  int32_t DeadlockTimeout = DefaultDeadlockTimeout;
  bool PortOpen = false;
  bool TestDSR = false;
  bool TestCTS = false;
  bool TrailingCR = false;
  bool TrailingLF = false;
  int32_t MaxLineLength = 0;
  bool LinuxLock = true;
  int32_t SendRateLimit = 0;
  uint32_t NextSendTick = 0;
  int32_t ReceiveRateLimit = 0;
  uint32_t NextReceiveTick = 0;
  bool ConvertLineEnd = false;
  bool ModemReplyOk = false;
  int32_t AtTimeout = DefaultAtTimeout;
  bool InterPacketTimeout = true;
  int32_t PortIndex = -1;
  uint16_t PortAddress = 0;
  LineSettingsRecord LineSettings{};

  static std::string GetErrorDesc(int32_t code) { return serial::GetErrorDesc(code); }

  // Error and line-control machinery.
  void MapLineErrors(uint32_t flags);
  uint16_t QueryPortAddress();
  bool TransmitterIdle(uint16_t address);
  void ResizeInputQueue(int32_t size);
  bool DsrState();
  void SetDtrLine(bool on);
  bool CtsState();
  void SetRtsLine(bool on);
  bool CarrierState();
  bool RingState();
  void ReportStatus(THookSerialReason reason, const std::string& value);
  void ParsePortNumber(const std::string& name);
  bool PortNotReady();
  bool DeviceAnswering();
  void PaceTransfer(int32_t count, int32_t limit, uint32_t& next);
  void SetRateLimit(int32_t limit);
  static std::string VersionText();

  // Lifecycle and line format.
  void ClosePort();
  void ConfigureLine(int32_t baud, int32_t dataBits, char parity, int32_t stopBits,
                     bool softwareFlow, bool hardwareFlow);
  void OpenPort(const std::string& name);
  void ApplyLineSettings();
  void FetchLineSettings();

  // Sending.
  int32_t WriteBytes(const void* buffer, int32_t count);
  void WriteOneByte(uint8_t value);
  void SendText(const std::string& text);
  void WriteInt32(int32_t value);
  void WriteCountedText(const std::string& text);
  void WriteStreamRaw(std::istream& stream);
  void WriteStreamCounted(std::istream& stream);
  void WriteStreamCountedBE(std::istream& stream);

  // Receiving.
  int32_t ReadBytes(void* buffer, int32_t count);
  std::string ReceiveAvailable(int32_t timeout);
  int32_t ReadExact(void* buffer, int32_t count, int32_t timeout);
  uint8_t ReceiveByte(int32_t timeout);
  std::string ReceiveUntil(int32_t timeout, const std::string& terminator);
  std::string ReceiveLine(int32_t timeout);
  std::string ReceiveCount(int32_t count, int32_t timeout);
  int32_t ReadInt32(int32_t timeout);
  std::string ReceiveCountedText(int32_t timeout);
  void ReadStreamUntilIdle(std::ostream& stream, int32_t timeout);
  void ReadStreamCount(std::ostream& stream, int32_t count, int32_t timeout);
  void ReadStreamCounted(std::ostream& stream, int32_t timeout);
  void ReadStreamCountedBE(std::ostream& stream, int32_t timeout);

  // Queues and waits.
  int32_t PendingCount();
  int32_t PendingCountAll();
  int32_t OutputPendingCount();
  void SetRtsToggle(bool on);
  void DrainOutput();
  void DiscardBuffers();
  bool WaitReadable(int32_t timeout);
  bool WaitWritable(int32_t timeout);
  bool WaitReadableBuffered(int32_t timeout);
  uint32_t ReadModemStatus();
  void SendBreak(int32_t ms);
  std::string ModemCommand(const std::string& command);
  std::string ModemDial(const std::string& number);

  // Recording.
  void RecordSystemError(intptr_t result);
  void RaiseOnError();
  void RecordError(int32_t code);
  void RecordAndRaise(int32_t code);

 private:
  bool WaitLineEvent(uint32_t mask, int32_t timeout);
  std::string ModemExchange(const std::string& command, int32_t timeout, bool dial);

  std::unique_ptr<PortBackend> backend_;
};

}  // namespace serial

// The one interface between the serial port object and the operating system. Each OS has its
// own implementation file; the build picks one. Every call answers 0 or a system error code and
// never throws: recording and raising is the port object's business.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace serial {

// The 28-byte device-control record of the line format, kept in its classic layout so that
// both backends read the same fields.
struct LineSettingsRecord {
  uint32_t Length = 0;
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;
  uint16_t Reserved = 0;
  uint16_t XonLimit = 0;
  uint16_t XoffLimit = 0;
  uint8_t DataBits = 0;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EventChar = 0;
  uint16_t Reserved1 = 0;
};
static_assert(sizeof(LineSettingsRecord) == 28, "device-control record must stay 28 bytes");

// Flag bits of LineSettingsRecord::Flags.
inline constexpr uint32_t FlagBinary = 0x0001;
inline constexpr uint32_t FlagParityCheck = 0x0002;
inline constexpr uint32_t FlagCtsOutFlow = 0x0004;
inline constexpr uint32_t FlagDtrEnable = 0x0010;
inline constexpr uint32_t FlagXonXoffOut = 0x0100;
inline constexpr uint32_t FlagXonXoffIn = 0x0200;
inline constexpr uint32_t FlagRtsEnable = 0x1000;
inline constexpr uint32_t FlagRtsHandshake = 0x2000;
inline constexpr uint32_t FlagRtsToggle = 0x3000;
inline constexpr uint32_t FlagRtsMask = 0x3000;

// Line error flags as the queue query reports them.
inline constexpr uint32_t LineErrRxOver = 0x0001;
inline constexpr uint32_t LineErrOverrun = 0x0002;
inline constexpr uint32_t LineErrParity = 0x0004;
inline constexpr uint32_t LineErrFrame = 0x0008;
inline constexpr uint32_t LineErrTxFull = 0x0100;

// Event masks of WaitEvent.
inline constexpr uint32_t EventRxChar = 0x0001;
inline constexpr uint32_t EventTxEmpty = 0x0004;

// Purge flags.
inline constexpr uint32_t PurgeTxAbort = 0x0001;
inline constexpr uint32_t PurgeRxAbort = 0x0002;
inline constexpr uint32_t PurgeTxClear = 0x0004;
inline constexpr uint32_t PurgeRxClear = 0x0008;
inline constexpr uint32_t PurgeAll = 0x000F;

// Modem status bits.
inline constexpr uint32_t ModemCts = 0x0010;
inline constexpr uint32_t ModemDsr = 0x0020;
inline constexpr uint32_t ModemRing = 0x0040;
inline constexpr uint32_t ModemCarrier = 0x0080;

// Line errors of a system that reports them with its queue counts, to whichever query comes
// first, rather than with the read of the bytes they came with. They are kept until the query
// that follows the next read (receive errors) or write (a full output queue) hands them over, so
// that they fail that transfer, as a backend that finds them in the read itself does; a count
// query made meanwhile (the port object discards what those report) would lose them.
class LineErrorLatch {
 public:
  static constexpr uint32_t ReceiveErrors =
      LineErrRxOver | LineErrOverrun | LineErrParity | LineErrFrame;

  void Clear() {
    held_ = 0;
    after_ = 0;
  }
  void Seen(uint32_t flags) { held_ |= flags; }
  void Read() { after_ = ReceiveErrors; }
  void Wrote() { after_ = LineErrTxFull; }
  // What the latest read or write is to report; nothing for a query without one just before.
  uint32_t HandOver() {
    uint32_t due = held_ & after_;
    held_ &= ~due;
    after_ = 0;
    return due;
  }
  // Bytes purged take their errors with them.
  void Purged(uint32_t purgeFlags) {
    if (purgeFlags & (PurgeRxAbort | PurgeRxClear)) held_ &= ~ReceiveErrors;
    if (purgeFlags & (PurgeTxAbort | PurgeTxClear)) held_ &= ~LineErrTxFull;
  }

 private:
  uint32_t held_ = 0;
  uint32_t after_ = 0;  // the errors the next query reports
};

class PortBackend {
 public:
  virtual ~PortBackend() = default;

  // Opens the device exclusively; answers 0 or the system's code.
  virtual int Open(const std::string& path) = 0;
  virtual void Close() = 0;
  virtual intptr_t NativeHandle() const = 0;

  virtual int SetQueueSizes(int32_t inputSize) = 0;
  virtual int Apply(const LineSettingsRecord& settings) = 0;
  virtual int Fetch(LineSettingsRecord& settings) = 0;

  // Byte counts of both queues; hands over the line error flags due: those found since the last
  // hand-over, or (LineErrorLatch) those that the read or write just before is to report.
  virtual int QueueCounts(uint32_t& inputCount, uint32_t& outputCount, uint32_t& lineErrors) = 0;
  // Each part of QueueCounts alone, for a caller that needs only that part: on a system that
  // answers each with a call of its own, a receive asks only what it uses.
  virtual int InputCount(uint32_t& inputCount) {
    uint32_t output = 0, errors = 0;
    return QueueCounts(inputCount, output, errors);
  }
  virtual int OutputCount(uint32_t& outputCount) {
    uint32_t input = 0, errors = 0;
    return QueueCounts(input, outputCount, errors);
  }
  virtual int TakeLineErrors(uint32_t& lineErrors) {
    uint32_t input = 0, output = 0;
    return QueueCounts(input, output, lineErrors);
  }
  // Sleeps up to us microseconds while the bytes a receive waits for cannot all have arrived,
  // so that it takes them in one read instead of waking for each; ends early when the device
  // goes away. A system whose waits already wake once for a burst needs none.
  virtual void AwaitArrival(int64_t us) { (void)us; }
  // Reads at most count bytes, waiting at most timeoutMs for the first; answers ErrTimeout on
  // expiry. Only a device that went away is a hang-up, never an empty queue.
  virtual int Read(uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) = 0;
  // Writes all bytes, waiting at most timeoutMs; answers ErrTimeout (after aborting) on expiry.
  virtual int Write(const uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) = 0;
  // Waits until the event of mask happens (EventRxChar or EventTxEmpty); -1 = no limit.
  virtual int WaitEvent(uint32_t mask, int32_t timeoutMs, bool& happened) = 0;
  virtual int Purge(uint32_t flags) = 0;
  virtual int Drain(int32_t timeoutMs) = 0;

  virtual void SetDtr(bool on) = 0;
  virtual void SetRts(bool on) = 0;
  virtual int ModemStatus(uint32_t& status) = 0;
  virtual int SetBreak(bool on) = 0;
  // What the backend did at Open to make the line answer quickly, or a line format it had to
  // change, for the user; "" when nothing applies.
  virtual std::string LatencyNote() const { return ""; }
};

std::unique_ptr<PortBackend> MakePortBackend();
#ifdef _WIN32
// The Windows backend, told whether it runs on Wine (MakePortBackend finds out by itself); only
// there may a refused 7E1 become 8N1.
std::unique_ptr<PortBackend> MakeWindowsPortBackend(bool onWine);
#endif

// The device that the zero-based port number index stands for on this system.
std::string DevicePathForPortIndex(int32_t index);

// The system's own message for an error code, as it comes.
std::string SystemErrorMessage(int code);

void SleepMs(uint32_t ms);

}  // namespace serial

// Windows serial backend: an overlapped port handle, the device-control block, and waits on
// communication events, as the classic component does it.
#include <windows.h>

#include <cstring>
#include <string>

#include "serial/port_backend.h"
#include "serial/serial_error.h"
#include "serial/serial_util.h"

namespace serial {

namespace {

static_assert(sizeof(DCB) == sizeof(LineSettingsRecord), "the record is the system's DCB");

// Reads only ever ask for what the input queue holds, so no read needs a total time-out; the
// interval keeps a read from ending between two bytes of one burst.
constexpr DWORD ReadIntervalTimeoutMs = 0xFFFF;
// Wine cancels an event wait on a pseudo-terminal at once with an empty event set (its modem
// status query fails there). An empty set before the deadline is therefore not trusted; once the
// system has done this, the wait asks the queue instead, sleeping this long between looks, until
// the deadline. Real Windows never ends a wait early and never takes this path.
constexpr DWORD EmptyEventRetryMs = 1;
// A reply usually follows its command within a fraction of a millisecond: for this long the
// looks only yield the processor, so that a transaction does not wait out a whole sleep; a
// longer wait sleeps between looks and costs no processor time.
constexpr uint64_t YieldingLooksMs = 2;

// Wine, not Windows: its ntdll has an export of its own.
bool RunningOnWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// "7E1" and the like, for the note of a line format that had to change.
std::string FormatText(const DCB& dcb) {
  static const char* const parities = "NOEMS";
  static const char* const stopBits[] = {"1", "1.5", "2"};
  std::string text = std::to_string(dcb.ByteSize);
  text += dcb.Parity < 5 ? parities[dcb.Parity] : '?';
  text += dcb.StopBits < 3 ? stopBits[dcb.StopBits] : "?";
  return text;
}

// The completion record of one kind of overlapped operation, with its manual-reset event made
// once for the life of the open port.
class Overlapped {
 public:
  Overlapped() { event_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Overlapped() {
    if (event_) ::CloseHandle(event_);
  }
  Overlapped(const Overlapped&) = delete;
  Overlapped& operator=(const Overlapped&) = delete;
  // A fresh record for the next operation.
  OVERLAPPED* Start() {
    op_ = OVERLAPPED{};
    op_.hEvent = event_;
    ::ResetEvent(event_);
    return &op_;
  }
  OVERLAPPED* get() { return &op_; }
  HANDLE event() const { return event_; }
  bool valid() const { return event_ != nullptr; }

 private:
  HANDLE event_ = nullptr;
  OVERLAPPED op_{};
};

DWORD WaitMs(int32_t timeoutMs) {
  return timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
}

class WindowsPortBackend : public PortBackend {
 public:
  explicit WindowsPortBackend(bool onWine) : onWine_(onWine) {}
  ~WindowsPortBackend() override { Close(); }

  int Open(const std::string& path) override {
    Close();
    HANDLE handle =
        ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    ::SetCommMask(handle, 0);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = ReadIntervalTimeoutMs;
    ::SetCommTimeouts(handle, &timeouts);
    handle_ = handle;
    eventWaitsCancelled_ = false;
    lineErrors_.Clear();
    note_.clear();
    return 0;
  }

  void Close() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  intptr_t NativeHandle() const override { return reinterpret_cast<intptr_t>(handle_); }
  // Shown where the low-latency steps of other systems are: a line format that had to change.
  std::string LatencyNote() const override { return note_; }

  int SetQueueSizes(int32_t inputSize) override {
    return ::SetupComm(handle_, static_cast<DWORD>(inputSize), 0) ? 0 : LastError();
  }

  int Apply(const LineSettingsRecord& settings) override {
    DCB dcb;
    std::memcpy(&dcb, &settings, sizeof dcb);
    if (::SetCommState(handle_, &dcb)) return 0;
    int error = LastError();
    // Wine on a pseudo-terminal: the kernel forces 8N1 there and the C library then reports the
    // whole setting as invalid, so the speed and flow settings after it are never applied.
    // Such a line carries 7-bit text unchanged at 8N1. On a real line 8N1 would hand every
    // parity bit over as data bit 7, so anywhere but Wine the refusal stands.
    if (!onWine_ || error != ERROR_INVALID_PARAMETER || dcb.ByteSize == 8) return error;
    std::string asked = FormatText(dcb);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    if (!::SetCommState(handle_, &dcb)) return error;
    note_ = "line set to " + FormatText(dcb) + ": Wine on a pseudo-terminal refused " + asked;
    return 0;
  }

  int Fetch(LineSettingsRecord& settings) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb)) return LastError();
    std::memcpy(static_cast<void*>(&settings), &dcb, sizeof dcb);
    return 0;
  }

  // The system reports line errors to whichever query comes first, often the port object's
  // look at the queue before the read of the bytes they came with; they are held for that read.
  int QueueCounts(uint32_t& inputCount, uint32_t& outputCount, uint32_t& lineErrors) override {
    int error = Counts(inputCount, outputCount);
    lineErrors = lineErrors_.HandOver();
    return error;
  }

  int Read(uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) override {
    int error = Transfer(false, buffer, count, timeoutMs, done);
    lineErrors_.Read();
    return error;
  }

  int Write(const uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) override {
    int error = Transfer(true, const_cast<uint8_t*>(buffer), count, timeoutMs, done);
    lineErrors_.Wrote();
    return error;
  }

  int WaitEvent(uint32_t mask, int32_t timeoutMs, bool& happened) override {
    happened = false;
    Deadline deadline(timeoutMs);
    const uint64_t startMs = MonotonicMs();
    for (;;) {
      if (!eventWaitsCancelled_) {
        WaitEnd end = WaitEnd::EndedEarly;
        int error = WaitOnce(mask, timeoutMs, end);
        if (error != 0) return error;
        if (end == WaitEnd::Happened) {
          happened = true;
          return 0;
        }
        // Its whole time-out is over: one last look, no second wait of that length.
        if (end == WaitEnd::TimedOut) return QueueShows(mask, happened);
        eventWaitsCancelled_ = true;
      }
      // The system cancelled the wait early (see above).
      int error = QueueShows(mask, happened);
      if (error != 0 || happened) return error;
      if (deadline.Passed()) return 0;
      ::Sleep(MonotonicMs() - startMs < YieldingLooksMs ? 0 : EmptyEventRetryMs);
    }
  }

  // Only once the event waits were found cancelled (Wine) do they look at the queue in short
  // intervals; there a sleep until the rest of a reply can be here saves those looks. Elsewhere
  // the event wait already sleeps until bytes come.
  void AwaitArrival(int64_t us) override {
    if (eventWaitsCancelled_ && us >= 1000) ::Sleep(static_cast<DWORD>(us / 1000));
  }
  int Purge(uint32_t flags) override {
    // The flags go with the purged bytes. Taken before the purge: an error that comes between
    // the two then fails the next reply rather than passing with a byte that stayed.
    uint32_t input = 0, output = 0;
    Counts(input, output);
    lineErrors_.Purged(flags);
    return ::PurgeComm(handle_, flags) ? 0 : LastError();
  }

  int Drain(int32_t) override { return ::FlushFileBuffers(handle_) ? 0 : LastError(); }

  void SetDtr(bool on) override { ::EscapeCommFunction(handle_, on ? SETDTR : CLRDTR); }
  void SetRts(bool on) override { ::EscapeCommFunction(handle_, on ? SETRTS : CLRRTS); }

  int ModemStatus(uint32_t& status) override {
    DWORD lines = 0;
    if (!::GetCommModemStatus(handle_, &lines)) return LastError();
    status = lines;  // the MS_ bits are the modem status bits
    return 0;
  }

  int SetBreak(bool on) override {
    BOOL done = on ? ::SetCommBreak(handle_) : ::ClearCommBreak(handle_);
    return done ? 0 : LastError();
  }

 private:
  static int LastError() { return static_cast<int>(::GetLastError()); }

  // Both queue counts; the line error flags that the query clears are kept for QueueCounts.
  int Counts(uint32_t& inputCount, uint32_t& outputCount) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle_, &errors, &status)) return LastError();
    inputCount = status.cbInQue;
    outputCount = status.cbOutQue;
    lineErrors_.Seen(errors);  // the CE_ flags are the line error flags
    return 0;
  }

  // Whether the queues already show what the event of mask would tell.
  int QueueShows(uint32_t mask, bool& shows) {
    uint32_t input = 0, output = 0;
    int error = Counts(input, output);
    shows =
        error == 0 && ((mask == EventRxChar && input > 0) || (mask == EventTxEmpty && output == 0));
    return error;
  }

  // One overlapped read or write, bounded by timeoutMs; on expiry the pending operation is
  // aborted and the answer is a time-out.
  int Transfer(bool write, uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) {
    done = 0;
    if (count <= 0) return 0;
    Overlapped& op = write ? writing_ : reading_;
    if (!op.valid()) return LastError();
    DWORD moved = 0;
    BOOL finished =
        write ? ::WriteFile(handle_, buffer, static_cast<DWORD>(count), &moved, op.Start())
              : ::ReadFile(handle_, buffer, static_cast<DWORD>(count), &moved, op.Start());
    int error = 0;
    if (!finished) {
      DWORD started = ::GetLastError();
      if (started != ERROR_IO_PENDING) return static_cast<int>(started);
      if (::WaitForSingleObject(op.event(), WaitMs(timeoutMs)) != WAIT_OBJECT_0) {
        ::PurgeComm(handle_, write ? PURGE_TXABORT : PURGE_RXABORT);
        ::CancelIoEx(handle_, op.get());  // where the purge does not end it (Wine)
        error = ErrTimeout;
      }
      // Waits for the end of an aborted operation too: the buffer must not be written later.
      if (!::GetOverlappedResult(handle_, op.get(), &moved, TRUE) && error == 0)
        error = LastError();
    }
    done = static_cast<int32_t>(moved);
    if (error == 0 && !write && done == 0) error = ErrTimeout;
    return error;
  }

  enum class WaitEnd {
    Happened,
    TimedOut,
    EndedEarly,  // by the system, before the time-out and without the event
  };

  // One WaitCommEvent for mask, ended after timeoutMs by clearing the mask.
  int WaitOnce(uint32_t mask, int32_t timeoutMs, WaitEnd& end) {
    end = WaitEnd::EndedEarly;
    Overlapped& op = waiting_;
    if (!op.valid()) return LastError();
    if (!::SetCommMask(handle_, mask)) return LastError();
    DWORD events = 0;
    int error = 0;
    if (!::WaitCommEvent(handle_, &events, op.Start())) {
      DWORD started = ::GetLastError();
      if (started == ERROR_IO_PENDING) {
        // Armed: from here on a byte (or the output running empty) raises the event. Only now
        // can the queues be asked without missing what lands between the look and the wait.
        bool shows = false;
        error = QueueShows(mask, shows);
        if (shows)
          end = WaitEnd::Happened;
        else if (error == 0 &&
                 ::WaitForSingleObject(op.event(), WaitMs(timeoutMs)) != WAIT_OBJECT_0)
          end = WaitEnd::TimedOut;
        ::SetCommMask(handle_, 0);  // ends a wait still pending, with an empty set
        DWORD ignored = 0;
        ::GetOverlappedResult(handle_, op.get(), &ignored, TRUE);
      } else if (started != ERROR_OPERATION_ABORTED) {
        error = static_cast<int>(started);
      }
    }
    ::SetCommMask(handle_, 0);
    if ((events & mask) == mask) end = WaitEnd::Happened;
    return error;
  }

  const bool onWine_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  LineErrorLatch lineErrors_;
  bool eventWaitsCancelled_ = false;
  std::string note_;
  Overlapped reading_, writing_, waiting_;
};

}  // namespace

std::unique_ptr<PortBackend> MakePortBackend() {
  return MakeWindowsPortBackend(RunningOnWine());
}

std::unique_ptr<PortBackend> MakeWindowsPortBackend(bool onWine) {
  return std::make_unique<WindowsPortBackend>(onWine);
}

std::string DevicePathForPortIndex(int32_t index) {
  return "\\\\.\\COM" + std::to_string(index + 1);
}

std::string SystemErrorMessage(int code) {
  char text[256] = {0};
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  if (length == 0) return "System error " + std::to_string(code);
  return std::string(text, length);
}

void SleepMs(uint32_t ms) {
  ::Sleep(ms);
}

}  // namespace serial

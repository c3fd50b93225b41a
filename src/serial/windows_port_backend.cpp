// Windows serial backend: an overlapped port handle, the device-control block, and waits on
// communication events, as the classic component does it.
#include <windows.h>

#include <cstring>
#include <string>

#include "serial/port_backend.h"
#include "serial/serial_error.h"

namespace serial {

namespace {

static_assert(sizeof(DCB) == sizeof(LineSettingsRecord), "the record is the system's DCB");

// Reads only ever ask for what the input queue holds, so no read needs a total time-out; the
// interval keeps a read from ending between two bytes of one burst.
constexpr DWORD ReadIntervalTimeoutMs = 0xFFFF;
// Wine cancels an event wait on a pseudo-terminal at once with an empty event set (its modem
// status query fails there). An empty set before the deadline is therefore not trusted; once the
// system has done this, the wait asks the queue instead, yielding the processor between looks,
// until the deadline. Real Windows never ends a wait early and never takes this path.
constexpr DWORD EmptyEventRetryMs = 0;

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
    return 0;
  }

  void Close() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  intptr_t NativeHandle() const override { return reinterpret_cast<intptr_t>(handle_); }

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
    // Such a line carries 7-bit text unchanged at 8N1; a real port takes 7E1 at the first try.
    if (error != ERROR_INVALID_PARAMETER || dcb.ByteSize == 8) return error;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    return ::SetCommState(handle_, &dcb) ? 0 : error;
  }

  int Fetch(LineSettingsRecord& settings) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb)) return LastError();
    std::memcpy(static_cast<void*>(&settings), &dcb, sizeof dcb);
    return 0;
  }

  int QueueCounts(uint32_t& inputCount, uint32_t& outputCount, uint32_t& lineErrors) override {
    int error = Counts(inputCount, outputCount);
    lineErrors = lineErrors_;
    lineErrors_ = 0;
    return error;
  }

  int Read(uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) override {
    return Transfer(false, buffer, count, timeoutMs, done);
  }

  int Write(const uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) override {
    return Transfer(true, const_cast<uint8_t*>(buffer), count, timeoutMs, done);
  }

  int WaitEvent(uint32_t mask, int32_t timeoutMs, bool& happened) override {
    happened = false;
    DWORD start = ::GetTickCount();
    for (;;) {
      if (!eventWaitsCancelled_) {
        DWORD events = 0;
        bool endedBySystem = false;
        int error = WaitOnce(mask, timeoutMs, events, endedBySystem);
        if (error != 0) return error;
        if ((events & mask) == mask) {
          happened = true;
          return 0;
        }
        eventWaitsCancelled_ = endedBySystem && events == 0;
      }
      // An empty set: the wait ran out, or the system cancelled it early (see above).
      uint32_t input = 0, output = 0;
      int error = Counts(input, output);
      if (error != 0) return error;
      if ((mask == EventRxChar && input > 0) || (mask == EventTxEmpty && output == 0)) {
        happened = true;
        return 0;
      }
      DWORD spent = ::GetTickCount() - start;
      if (timeoutMs >= 0 && spent >= static_cast<DWORD>(timeoutMs)) return 0;
      ::Sleep(EmptyEventRetryMs);
    }
  }

  int Purge(uint32_t flags) override { return ::PurgeComm(handle_, flags) ? 0 : LastError(); }

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
    lineErrors_ |= errors;  // the CE_ flags are the line error flags
    return 0;
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

  // One WaitCommEvent for mask, ended after timeoutMs by clearing the mask. endedBySystem: the
  // wait ended before its time-out without our doing.
  int WaitOnce(uint32_t mask, int32_t timeoutMs, DWORD& events, bool& endedBySystem) {
    events = 0;
    endedBySystem = true;
    Overlapped& op = waiting_;
    if (!op.valid()) return LastError();
    if (!::SetCommMask(handle_, mask)) return LastError();
    int error = 0;
    if (!::WaitCommEvent(handle_, &events, op.Start())) {
      DWORD started = ::GetLastError();
      if (started == ERROR_IO_PENDING) {
        endedBySystem = ::WaitForSingleObject(op.event(), WaitMs(timeoutMs)) == WAIT_OBJECT_0;
        ::SetCommMask(handle_, 0);  // ends a wait still pending, with an empty set
        DWORD ignored = 0;
        ::GetOverlappedResult(handle_, op.get(), &ignored, TRUE);
      } else if (started != ERROR_OPERATION_ABORTED) {
        error = static_cast<int>(started);
      }
    }
    ::SetCommMask(handle_, 0);
    return error;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  uint32_t lineErrors_ = 0;
  bool eventWaitsCancelled_ = false;
  Overlapped reading_, writing_, waiting_;
};

}  // namespace

std::unique_ptr<PortBackend> MakePortBackend() {
  return std::make_unique<WindowsPortBackend>();
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

uint32_t SystemTick() {
  return ::GetTickCount();
}

void SleepMs(uint32_t ms) {
  ::Sleep(ms);
}

}  // namespace serial

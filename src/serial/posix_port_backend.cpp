// POSIX serial backend: a non-blocking descriptor, raw termios, and every wait done with poll()
// against a Deadline on the monotonic clock.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "serial/baud_codes_posix.h"
#include "serial/low_latency.h"
#include "serial/parity_marks.h"
#include "serial/port_backend.h"
#include "serial/serial_error.h"
#include "serial/serial_util.h"

#ifdef __linux__
#include <linux/serial.h>
#endif

namespace serial {

namespace {

class PosixPortBackend : public PortBackend {
 public:
  ~PosixPortBackend() override { Close(); }

  int Open(const std::string& path) override {
    Close();
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    // A second opener of the same device is refused both by the tty (non-root) and by the
    // advisory lock (which also holds for root).
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
      int error = errno;
      ::close(fd);
      return error;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int error = errno == EWOULDBLOCK ? EBUSY : errno;
      ::close(fd);
      return error;
    }
    // Raw at once: until the line is configured, the inherited cooked mode would echo the
    // deco's bytes back to it and turn its CRs into LFs.
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
      ::cfmakeraw(&tio);
      tio.c_cflag |= CREAD | CLOCAL;
      tio.c_cc[VMIN] = 0;
      tio.c_cc[VTIME] = 0;
      ::tcsetattr(fd, TCSANOW, &tio);
    }
    fd_ = fd;
    latency_ = RequestLowLatency(fd_, path);
    carry_.clear();
    lineErrors_ = 0;
    haveCounts_ = ReadCounters(counts_);
    return 0;
  }

  void Close() override {
    if (fd_ >= 0) {
      RestoreLatency(fd_, latency_);
      latency_ = LatencyChange();
      ::ioctl(fd_, TIOCNXCL);
      ::flock(fd_, LOCK_UN);
      ::close(fd_);
    }
    fd_ = -1;
    carry_.clear();
  }

  intptr_t NativeHandle() const override { return fd_; }
  std::string LatencyNote() const override { return latency_.note; }

  // The kernel sizes its own queues; the request is only checked against the handle.
  int SetQueueSizes(int32_t) override { return CheckHandle(); }

  int Apply(const LineSettingsRecord& settings) override {
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return errno;
    speed_t speed;
    if (!BaudCode(settings.BaudRate, speed)) return EINVAL;
    // Write the whole state rather than inherit what an earlier program left.
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = CREAD | CLOCAL;
    switch (settings.DataBits) {
      case 5:
        tio.c_cflag |= CS5;
        break;
      case 6:
        tio.c_cflag |= CS6;
        break;
      case 7:
        tio.c_cflag |= CS7;
        break;
      case 8:
        tio.c_cflag |= CS8;
        break;
      default:
        return EINVAL;
    }
    switch (settings.Parity) {
      case 0:
        break;
      case 1:
        tio.c_cflag |= PARENB | PARODD;
        break;
      case 2:
        tio.c_cflag |= PARENB;
        break;
      case 3:
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
      case 4:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
      default:
        return EINVAL;
    }
    if (settings.StopBits != 0) tio.c_cflag |= CSTOPB;
    if (settings.Flags & FlagParityCheck) tio.c_iflag |= INPCK | PARMRK;
    if (settings.Flags & FlagXonXoffOut) tio.c_iflag |= IXON;
    if (settings.Flags & FlagXonXoffIn) tio.c_iflag |= IXOFF;
    if ((settings.Flags & FlagCtsOutFlow) || (settings.Flags & FlagRtsMask) == FlagRtsHandshake)
      tio.c_cflag |= CRTSCTS;
    tio.c_cc[VSTART] = settings.XonChar;
    tio.c_cc[VSTOP] = settings.XoffChar;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
      // A pseudo-terminal forces 8N1 and the C library then reports EINVAL although the
      // speed and the rest were taken: accept it when the speed reads back as asked.
      int error = errno;
      termios back{};
      if (error != EINVAL || ::tcgetattr(fd_, &back) != 0 || cfgetospeed(&back) != speed)
        return error;
    }
    // What counts from here on is the format we asked for, not the read-back.
    markedParity_ = (settings.Flags & FlagParityCheck) != 0;
    baud_ = settings.BaudRate;
    return 0;
  }

  int Fetch(LineSettingsRecord& settings) override {
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return errno;
    settings = LineSettingsRecord{};
    settings.Length = sizeof(LineSettingsRecord);
    settings.BaudRate = BaudRate(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
      case CS5:
        settings.DataBits = 5;
        break;
      case CS6:
        settings.DataBits = 6;
        break;
      case CS7:
        settings.DataBits = 7;
        break;
      default:
        settings.DataBits = 8;
        break;
    }
    if (tio.c_cflag & PARENB) {
      bool odd = tio.c_cflag & PARODD;
      bool sticky = tio.c_cflag & CMSPAR;
      settings.Parity = sticky ? (odd ? 3 : 4) : (odd ? 1 : 2);
    }
    settings.StopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
    settings.Flags = FlagBinary | FlagDtrEnable;
    if (tio.c_iflag & INPCK) settings.Flags |= FlagParityCheck;
    if (tio.c_iflag & IXON) settings.Flags |= FlagXonXoffOut;
    if (tio.c_iflag & IXOFF) settings.Flags |= FlagXonXoffIn;
    settings.Flags |= (tio.c_cflag & CRTSCTS) ? (FlagCtsOutFlow | FlagRtsHandshake) : FlagRtsEnable;
    settings.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    settings.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    return 0;
  }

  int QueueCounts(uint32_t& inputCount, uint32_t& outputCount, uint32_t& lineErrors) override {
    int error = InputCount(inputCount);
    if (error == 0) error = OutputCount(outputCount);
    if (error == 0) error = TakeLineErrors(lineErrors);
    return error;
  }

  int InputCount(uint32_t& inputCount) override {
    int pending = 0;
    if (::ioctl(fd_, FIONREAD, &pending) != 0) return errno;
    inputCount = static_cast<uint32_t>(pending) + static_cast<uint32_t>(carry_.size());
    if (markedParity_) {
      // Three marker bytes stand for one received byte: count what a read will hand over, so
      // that nobody waits for bytes that never come.
      TakePending(static_cast<size_t>(pending));
      inputCount = static_cast<uint32_t>(UnmarkedCount(carry_.data(), carry_.size()));
    }
    return 0;
  }

  int OutputCount(uint32_t& outputCount) override {
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) return errno;
    outputCount = static_cast<uint32_t>(queued);
    return 0;
  }

  // The driver's error counters are asked here only: a count query leaves what they show for
  // the read or write that follows it.
  int TakeLineErrors(uint32_t& lineErrors) override {
    if (fd_ < 0) return EBADF;
    CollectCounterErrors();
    lineErrors = lineErrors_;
    lineErrors_ = 0;
    return 0;
  }

  void AwaitArrival(int64_t us) override {
    if (us <= 0) return;
    // No events asked: only a hang-up ends the sleep early.
    pollfd entry{fd_, 0, 0};
    timespec wait{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    ::ppoll(&entry, 1, &wait, nullptr);
  }

  int Read(uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) override {
    done = 0;
    if (count <= 0) return 0;
    Deadline deadline(timeoutMs);
    // One buffer for the life of the port: this runs once per reply.
    std::vector<uint8_t>& raw = scratch_;
    // What the count query took in already (marked parity) is handed over without another call.
    bool fromSystem = carry_.empty();
    for (;;) {
      raw.assign(carry_.begin(), carry_.end());
      carry_.clear();
      if (fromSystem) {
        size_t fresh = raw.size();
        raw.resize(fresh + static_cast<size_t>(count));
        ssize_t got = ::read(fd_, raw.data() + fresh, static_cast<size_t>(count));
        int error = got < 0 ? errno : 0;
        raw.resize(fresh + static_cast<size_t>(got < 0 ? 0 : got));
        if (error != 0 && error != EAGAIN && error != EINTR) {
          carry_.assign(raw.begin(), raw.end());
          return error;  // EIO among them: the device is gone
        }
      }
      uint32_t errorsBefore = lineErrors_;
      done = Unmark(raw, buffer, count);
      if (done > 0 || lineErrors_ != errorsBefore) return 0;
      if (!fromSystem) {
        fromSystem = true;  // only part of a marker was held: the rest is the system's
        continue;
      }
      // Nothing to hand over yet: a read of 0 alone is no hang-up, only the poll can tell.
      int wait = deadline.LeftMs();
      if (wait == 0) return ErrTimeout;
      pollfd entry{fd_, POLLIN, 0};
      int ready = ::poll(&entry, 1, wait);
      if (ready < 0 && errno != EINTR) return errno;
      if (ready > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL))) return ENODEV;
    }
  }

  int Write(const uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) override {
    done = 0;
    Deadline deadline(timeoutMs);
    while (done < count) {
      ssize_t put = ::write(fd_, buffer + done, static_cast<size_t>(count - done));
      if (put > 0) {
        done += static_cast<int32_t>(put);
        continue;
      }
      if (put < 0 && errno != EAGAIN && errno != EINTR) return errno;
      int wait = deadline.LeftMs();
      if (wait == 0) {
        ::tcflush(fd_, TCOFLUSH);
        return ErrTimeout;
      }
      pollfd entry{fd_, POLLOUT, 0};
      int ready = ::poll(&entry, 1, wait);
      if (ready < 0 && errno != EINTR) return errno;
      if (ready > 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL))) return ENODEV;
    }
    return 0;
  }

  int WaitEvent(uint32_t mask, int32_t timeoutMs, bool& happened) override {
    happened = false;
    if (mask == EventRxChar) return WaitInput(timeoutMs, happened);
    if (mask == EventTxEmpty) return WaitDrained(timeoutMs, happened);
    return EINVAL;
  }

  int Purge(uint32_t flags) override {
    int queue = -1;
    bool input = flags & (PurgeRxAbort | PurgeRxClear);
    bool output = flags & (PurgeTxAbort | PurgeTxClear);
    if (input && output)
      queue = TCIOFLUSH;
    else if (input)
      queue = TCIFLUSH;
    else if (output)
      queue = TCOFLUSH;
    if (input) carry_.clear();
    if (queue < 0) return CheckHandle();
    return ::tcflush(fd_, queue) == 0 ? 0 : errno;
  }

  int Drain(int32_t timeoutMs) override {
    bool drained = false;
    int error = WaitDrained(timeoutMs, drained);
    if (error != 0) return error;
    return drained ? 0 : ErrTimeout;
  }

  // DTR and RTS do not exist on a pseudo-terminal: best effort.
  void SetDtr(bool on) override { SetModemLine(TIOCM_DTR, on); }
  void SetRts(bool on) override { SetModemLine(TIOCM_RTS, on); }

  int ModemStatus(uint32_t& status) override {
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) != 0) return errno;
    status = 0;
    if (lines & TIOCM_CTS) status |= ModemCts;
    if (lines & TIOCM_DSR) status |= ModemDsr;
    if (lines & TIOCM_RI) status |= ModemRing;
    if (lines & TIOCM_CD) status |= ModemCarrier;
    return 0;
  }

  int SetBreak(bool on) override { return ::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0 ? 0 : errno; }

 private:
  struct Counters {
    int frame = 0, overrun = 0, parity = 0, bufOverrun = 0;
  };

  // Moves what the system holds into carry_, where the markers can be counted; a failure shows
  // at the next read.
  void TakePending(size_t count) {
    if (count == 0) return;
    size_t kept = carry_.size();
    carry_.resize(kept + count);
    ssize_t got = ::read(fd_, carry_.data() + kept, count);
    carry_.resize(kept + static_cast<size_t>(got > 0 ? got : 0));
  }

  int CheckHandle() const {
    if (fd_ < 0) return EBADF;
    return ::fcntl(fd_, F_GETFL) < 0 ? errno : 0;
  }

  void SetModemLine(int line, bool on) {
    if (fd_ >= 0) ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line);
  }

  int WaitInput(int32_t timeoutMs, bool& happened) {
    if (!carry_.empty()) {
      happened = true;
      return 0;
    }
    Deadline deadline(timeoutMs);
    for (;;) {
      pollfd entry{fd_, POLLIN, 0};
      int ready = ::poll(&entry, 1, deadline.LeftMs());
      if (ready < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (ready == 0) return 0;
      if (entry.revents & POLLNVAL) return EBADF;
      if (entry.revents & POLLIN) {
        happened = true;
        return 0;
      }
      return ENODEV;  // POLLHUP or POLLERR without data: the device is gone.
    }
  }

  // There is no "output empty" event on POSIX: sleep for the wire time of what is still queued
  // and look again, so the wait follows the line instead of spinning.
  int WaitDrained(int32_t timeoutMs, bool& happened) {
    Deadline deadline(timeoutMs);
    for (;;) {
      int queued = 0;
      if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) return errno;
      if (queued == 0) {
        happened = true;
        return 0;
      }
      int left = deadline.LeftMs();
      if (left == 0) return 0;
      int wire = static_cast<int>(WireTimeMs(queued, baud_)) + 1;
      int nap = left < 0 ? wire : (wire < left ? wire : left);
      ::poll(nullptr, 0, nap);
    }
  }

  bool ReadCounters(Counters& out) const {
#ifdef TIOCGICOUNT
    serial_icounter_struct counts{};
    if (::ioctl(fd_, TIOCGICOUNT, &counts) != 0) return false;
    out.frame = counts.frame;
    out.overrun = counts.overrun;
    out.parity = counts.parity;
    out.bufOverrun = counts.buf_overrun;
    return true;
#else
    (void)out;
    return false;
#endif
  }

  // Drivers that count line errors (a pseudo-terminal does not) report them here.
  void CollectCounterErrors() {
    if (!haveCounts_) return;
    Counters now;
    if (!ReadCounters(now)) return;
    if (now.frame != counts_.frame) lineErrors_ |= LineErrFrame;
    if (now.overrun != counts_.overrun) lineErrors_ |= LineErrOverrun;
    if (now.parity != counts_.parity) lineErrors_ |= LineErrParity;
    if (now.bufOverrun != counts_.bufOverrun) lineErrors_ |= LineErrRxOver;
    counts_ = now;
  }

  int32_t Unmark(const std::vector<uint8_t>& raw, uint8_t* out, int32_t room) {
    if (!markedParity_) {
      size_t n = raw.size() < static_cast<size_t>(room) ? raw.size() : static_cast<size_t>(room);
      std::copy(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(n), out);
      carry_.assign(raw.begin() + static_cast<std::ptrdiff_t>(n), raw.end());
      return static_cast<int32_t>(n);
    }
    UnmarkResult result = RemoveParityMarks(raw.data(), raw.size(), out, static_cast<size_t>(room));
    if (result.ParityError) lineErrors_ |= LineErrParity;
    carry_.assign(raw.begin() + static_cast<std::ptrdiff_t>(result.Consumed), raw.end());
    return static_cast<int32_t>(result.Written);
  }

  int fd_ = -1;
  LatencyChange latency_;
  uint32_t baud_ = 0;
  bool markedParity_ = false;
  uint32_t lineErrors_ = 0;
  bool haveCounts_ = false;
  Counters counts_;
  std::vector<uint8_t> carry_;
  std::vector<uint8_t> scratch_;
};

}  // namespace

std::unique_ptr<PortBackend> MakePortBackend() {
  return std::make_unique<PosixPortBackend>();
}

std::string DevicePathForPortIndex(int32_t index) {
  return "/dev/ttyS" + std::to_string(index);
}

std::string SystemErrorMessage(int code) {
  char buffer[256];
  buffer[0] = 0;
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return text ? text : "";
#else
  if (strerror_r(code, buffer, sizeof buffer) != 0) return "Unknown error " + std::to_string(code);
  return buffer;
#endif
}

void SleepMs(uint32_t ms) {
  ::poll(nullptr, 0, static_cast<int>(ms));
}

}  // namespace serial

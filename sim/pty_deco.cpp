#include "sim/pty_deco.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "serial/baud_codes_posix.h"

namespace sim {

namespace {

constexpr int BitsPerCharacter = 10;  // start, 7 data, parity, stop
constexpr int TrickleIntervalMs = 20;
constexpr size_t UsbPacketBytes = 62;  // what an FTDI adapter passes on at once
constexpr size_t ReadChunk = 4096;
constexpr double FrameSeconds = 0.001;  // a USB adapter passes on what it received once a frame
// A timer's wake-up comes up to tens of microseconds late on a loaded or virtual machine.
constexpr std::chrono::microseconds TimerLateness{60};

double WireSeconds(size_t characters, uint32_t baud) {
  return baud ? static_cast<double>(characters) * BitsPerCharacter / baud : 0.0;
}

std::chrono::nanoseconds WireTime(size_t characters, uint32_t baud) {
  return std::chrono::nanoseconds(static_cast<int64_t>(WireSeconds(characters, baud) * 1e9));
}

}  // namespace

PtyDeco::PtyDeco(const Settings& settings) : model_(settings) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
    throw std::runtime_error(std::string("cannot create a pseudo-terminal: ") +
                             std::strerror(errno));
  slavePath_ = ::ptsname(master_);
  keepSlave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (keepSlave_ < 0 || ::pipe2(stopPipe_, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("cannot open the pseudo-terminal: ") +
                             std::strerror(errno));
  termios tio{};
  ::tcgetattr(keepSlave_, &tio);
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, B9600);
  ::cfsetospeed(&tio, B9600);
  ::tcsetattr(keepSlave_, TCSANOW, &tio);
  thread_ = std::thread([this] { Serve(); });
}

PtyDeco::~PtyDeco() {
  Stop();
  if (master_ >= 0) ::close(master_);
  if (keepSlave_ >= 0) ::close(keepSlave_);
  for (int fd : stopPipe_) {
    if (fd >= 0) ::close(fd);
  }
}

void PtyDeco::Stop() {
  if (!thread_.joinable()) return;
  char byte = 1;
  while (::write(stopPipe_[1], &byte, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
}

uint32_t PtyDeco::PcBaud() const {
  termios tio{};
  if (::tcgetattr(master_, &tio) != 0) return 0;
  return serial::BaudRate(cfgetispeed(&tio));
}

void PtyDeco::CatchUp() {
  constexpr int LimitMs = 1000;
  for (int waited = 0; waited < LimitMs && !hungUp_; ++waited) {
    // poll() on a terminal first moves bytes still under way in the kernel into its input, so
    // nothing to read means the deco thread has them.
    pollfd input{master_, POLLIN, 0};
    if (::poll(&input, 1, 0) == 0 && !judging_) return;
    Pause(0.001);
  }
}

void PtyDeco::WaitAnswered(int limitMs) {
  for (int waited = 0; waited < limitMs && !hungUp_; ++waited) {
    pollfd input{master_, POLLIN, 0};
    if (::poll(&input, 1, 0) == 0 && !judging_ && !answering_) return;
    Pause(0.001);
  }
}

std::optional<uint64_t> PtyDeco::NextEventMs() const {
  if (hungUp_) return WaitsForACommand;
  // poll() moves bytes under way in the kernel into the queues first (see CatchUp).
  pollfd queues[2] = {{master_, POLLIN, 0}, {keepSlave_, POLLIN, 0}};
  ::poll(queues, 2, 0);
  if (queues[1].revents & POLLIN) return std::nullopt;  // the tool has a reply to take in
  // Bytes not yet taken in: they must be heard at the speed they came at, before the tool can
  // change it.
  if ((queues[0].revents & POLLIN) || judging_) return std::nullopt;
  // Commands wait while a slow reply does.
  if (const uint64_t paused = pausedUntilMs_; paused != 0) return paused;
  if (answering_ || trickling_) return std::nullopt;
  return WaitsForACommand;
}

void PtyDeco::PauseUntilNow(uint64_t untilMs) {
  constexpr int LookEveryMs = 1;
  pausedUntilMs_ = untilMs;
  while (model_.Config().Now() < untilMs) {
    pollfd wait[2] = {{stopPipe_[0], POLLIN, 0}, {master_, POLLIN, 0}};
    if (::poll(wait, 2, LookEveryMs) <= 0) continue;
    if (wait[0].revents & POLLIN) break;
    // The deco's receiver takes bytes in while it is busy, each at the speed it came at.
    if (wait[1].revents & POLLIN) {
      Received chunk = TakeIn();
      if (!chunk.bytes.empty()) heard_.push_back(std::move(chunk));
    } else {
      ::poll(wait, 1, LookEveryMs);  // no program holds the port: only the stop can come
    }
  }
  pausedUntilMs_ = 0;
}

PtyDeco::Received PtyDeco::TakeIn() {
  char chunk[ReadChunk];
  judging_ = true;
  const ssize_t n = ::read(master_, chunk, sizeof chunk);
  Received received;
  if (n > 0) received = {std::string(chunk, static_cast<size_t>(n)), PcBaud()};
  else if (n < 0) received.error = errno;
  judging_ = false;
  return received;
}

void PtyDeco::Pause(double seconds) {
  if (seconds <= 0) return;
  PauseUntil(std::chrono::steady_clock::now() +
             std::chrono::nanoseconds(static_cast<int64_t>(seconds * 1e9)));
}

bool PtyDeco::WriteAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd wait[2] = {{master_, POLLOUT, 0}, {stopPipe_[0], POLLIN, 0}};
    ::poll(wait, 2, -1);
    if (wait[1].revents & POLLIN) return false;
  }
  return true;
}

void PtyDeco::Deliver(const Reply& reply, std::chrono::nanoseconds commandWire, Instant heard) {
  const Faults faults = model_.FaultsNow();
  // Every time below counts from when the command was heard, so that a late wake-up is not
  // added to the next wait: the reply ends when the line would have carried it.
  const int delayMs = model_.ReplyDelayMs(reply.Number) + reply.DelayMs;
  Instant at = heard + std::chrono::milliseconds(delayMs);
  if (model_.Config().PausesOnNow && delayMs > 0) {
    PauseUntilNow(model_.Config().Now() + static_cast<uint64_t>(delayMs));
    at = std::chrono::steady_clock::now();
  }
  // The command took its wire time to arrive before the deco could start answering.
  if (faults.Pace) at += commandWire;
  const uint32_t baud = faults.Pace ? reply.SentAtBaud : 0;
  if (reply.Trickle || reply.Bytes.empty()) {
    PauseUntil(at);
    trickling_ = reply.Trickle;
    return;
  }
  // A reply is taken in at the speed the PC has when it comes: a PC that changed its speed since
  // the command (a reply come late) sees it garbled. A replay answers at whatever speed the trace
  // heard.
  const auto asTakenIn = [&](std::string part) {
    if (model_.Config().Replayed || reply.HeardAtBaud == 0) return part;
    PauseUntil(at);
    const uint32_t now = PcBaud();
    return now == reply.HeardAtBaud ? part : SeenAtSpeed(part, reply.HeardAtBaud, now);
  };
  std::string bytes = asTakenIn(reply.Bytes);
  if (reply.PauseMs > 0) {
    // The reply stops mid-line, then goes on: its rest, too, at the speed the PC has by then.
    at = SendPaced(bytes.substr(0, reply.PauseAfter), baud, at) +
         std::chrono::milliseconds(reply.PauseMs);
    bytes = asTakenIn(reply.Bytes.substr(reply.PauseAfter));
  }
  const int latencyMs = model_.Config().AdapterLatencyMs;
  size_t whole = latencyMs > 0 ? bytes.size() / UsbPacketBytes * UsbPacketBytes : bytes.size();
  at = SendPaced(bytes.substr(0, whole), baud, at);
  if (whole == bytes.size()) return;
  // The adapter holds the last packet until its timer runs out after the packet's last byte.
  PauseUntil(at + WireTime(bytes.size() - whole, baud) +
             std::chrono::milliseconds(latencyMs));
  WriteAll(bytes.substr(whole));
}

PtyDeco::Instant PtyDeco::SendPaced(const std::string& bytes, uint32_t baud, Instant from) {
  // Each character leaves once its ten bits are on the wire, so a reply spreads over its wire
  // time as on a real line instead of arriving in one burst. What is due within a millisecond
  // goes in one write, as a USB adapter's frames pass it on: a wake-up for every character
  // would cost a bench of paced decos more processor than their lines are worth.
  if (baud == 0) {
    PauseUntil(from);
    WriteAll(bytes);
    return from;
  }
  const double perCharacter = WireSeconds(1, baud);
  const size_t perWrite = std::max<size_t>(1, static_cast<size_t>(FrameSeconds / perCharacter));
  size_t sent = 0;
  while (sent < bytes.size()) {
    const size_t next = std::min(bytes.size(), sent + perWrite);
    if (next == bytes.size())
      PauseUntilExactly(from + WireTime(next, baud));
    else
      PauseUntil(from + WireTime(next, baud));
    // A late wake-up sends everything due by now.
    const double since =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    const size_t due = std::clamp(static_cast<size_t>(since / perCharacter), next, bytes.size());
    if (!WriteAll(bytes.substr(sent, due - sent))) break;
    sent = due;
  }
  return from + WireTime(bytes.size(), baud);
}

void PtyDeco::PauseUntil(Instant when) {
  const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
  timespec wait{};
  wait.tv_sec = static_cast<time_t>(since.count() / 1000000000);
  wait.tv_nsec = static_cast<long>(since.count() % 1000000000);
  // steady_clock is CLOCK_MONOTONIC: an absolute sleep on it ends at the instant itself.
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wait, nullptr) == EINTR) {
  }
}

void PtyDeco::PauseUntilExactly(Instant when) {
  // The reply's last characters end the tool's wait: the deco sleeps to just short of their
  // time and watches the clock for the rest, so that a late timer does not make the line slow.
  PauseUntil(when - TimerLateness);
  while (std::chrono::steady_clock::now() < when) {
  }
}

void PtyDeco::Serve() {
  // A paced reply sleeps between its characters: the kernel's default slack of 50 us a sleep
  // would make the simulated line slower than a real one by a tenth.
  ::prctl(PR_SET_TIMERSLACK, 1UL);
  std::string line;
  for (;;) {
    pollfd wait[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    int ready = ::poll(wait, 2, trickling_ ? TrickleIntervalMs : -1);
    if (ready < 0 && errno != EINTR) return;
    if (wait[1].revents & POLLIN) return;
    if (ready == 0 && trickling_) {
      WriteAll("7");
      continue;
    }
    if (!(wait[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    // Until the commands among these bytes are answered.
    answering_ = true;
    Received chunk = TakeIn();
    if (chunk.bytes.empty()) {
      answering_ = false;
      // EIO while no program holds the slave side: wait for the next one.
      if (chunk.error != 0 && chunk.error != EAGAIN && chunk.error != EINTR && chunk.error != EIO)
        return;
      Pause(0.005);
      continue;
    }
    // Answering may pause, and bytes heard meanwhile queue up behind these.
    heard_.push_back(std::move(chunk));
    while (!heard_.empty()) {
      const Received next = std::move(heard_.front());
      heard_.pop_front();
      Answer(next, line);
      if (hungUp_) return;
    }
    answering_ = false;
  }
}

void PtyDeco::Answer(const Received& chunk, std::string& line) {
  if (!model_.Understands(chunk.baud)) {
    line.clear();  // at the wrong speed the deco hears only noise
    return;
  }
  line.append(chunk.bytes);
  size_t end;
  while ((end = line.find("\r\n")) != std::string::npos) {
    std::string command = line.substr(0, end);
    line.erase(0, end + 2);
    trickling_ = false;
    const auto heard = std::chrono::steady_clock::now();
    Reply reply = model_.Handle(command, chunk.baud);
    Deliver(reply, WireTime(command.size() + 2, chunk.baud), heard);
    if (reply.HangUp) {
      hungUp_ = true;
      ::close(master_);
      ::close(keepSlave_);
      master_ = -1;
      keepSlave_ = -1;
      return;
    }
  }
}

}  // namespace sim

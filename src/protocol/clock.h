// Time as the protocol sees it: a monotonic millisecond reading and a pause. Each deco link
// carries its clock: the program's links the real one, a test's a virtual one, so that a
// five-second wait costs nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

namespace serial {
class PortBackend;
}  // namespace serial

namespace protocol {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint64_t ms) = 0;
  // How long a reply time-out of ms lasts on this clock.
  virtual int32_t TimeoutMs(int32_t ms) { return ms; }
  // The time that waits on the line are measured in. They are real waits of the system, so it
  // is the monotonic clock's unless a clock says otherwise.
  virtual uint64_t LineNowMs();
  // The port that a link on this clock waits on the line through: the system's own, unless the
  // clock keeps the line's time itself.
  virtual std::unique_ptr<serial::PortBackend> LinePort(
      std::unique_ptr<serial::PortBackend> port);
};

class RealClock : public Clock {
 public:
  uint64_t NowMs() override;
  void SleepMs(uint64_t ms) override;
};

// Time that moves when someone sleeps; each sleep also takes 1/divisor of its length in real
// time (0 = none), so that a peer on another thread still gets its turn. Reply time-outs are
// real waits on the line; they last 1/timeoutDivisor of their length. Thread-safe.
class FastClock : public Clock {
 public:
  explicit FastClock(unsigned divisor = 0, unsigned timeoutDivisor = 1)
      : divisor_(divisor), timeoutDivisor_(timeoutDivisor ? timeoutDivisor : 1) {}
  uint64_t NowMs() override;
  void SleepMs(uint64_t ms) override;
  int32_t TimeoutMs(int32_t ms) override;
  uint64_t TotalSleptMs();
  // Runs before each pause of a second or more: the protocol's pauses, after which the peer
  // must have taken in everything sent before them. A real deco does so within the real pause;
  // a simulated one on a loaded machine may need longer than the shortened pause. Set it before
  // the clock is used.
  void SetBeforePause(std::function<void()> hook) { beforePause_ = std::move(hook); }

 private:
  unsigned divisor_;
  unsigned timeoutDivisor_;
  uint64_t now_ = 0;
  uint64_t slept_ = 0;
  std::function<void()> beforePause_;
};

// The real clock, for every link nobody gives another.
Clock& RealTime();

// The end of a wait that starts now on a clock: a pause, in the clock's time, or a wait on the
// line, in its line time (whole milliseconds: such a wait lasts one more, never less than
// asked). A wait that goes in steps asks it what is left rather than adding up what each step
// took. A negative time-out has no end.
class Deadline {
 public:
  enum class Of { Line, Pause };
  Deadline(Clock& clock, int32_t timeoutMs, Of what = Of::Line);
  // What is left for the next wait: 0 once it has passed; -1, "no limit", when there is no end.
  int32_t LeftMs() const;
  bool Passed() const { return LeftMs() == 0; }

 private:
  uint64_t Now() const;

  Clock& clock_;
  Of what_;
  bool endless_;
  uint64_t endMs_;
};

}  // namespace protocol

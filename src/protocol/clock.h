// Time as the protocol sees it: a monotonic millisecond reading and a pause. The program uses
// the real clock; tests install a virtual one so that a five-second wait costs nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

namespace protocol {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint64_t ms) = 0;
  // How long a reply time-out of ms lasts on this clock.
  virtual int32_t TimeoutMs(int32_t ms) { return ms; }
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

Clock& ActiveClock();
// Installs clock (nullptr = the real clock); answers the one it replaces.
Clock* SetClock(Clock* clock);

}  // namespace protocol

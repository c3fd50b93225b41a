// Time as the protocol sees it: a monotonic millisecond reading and a pause. The program uses
// the real clock; tests install a virtual one so that a five-second wait costs nothing.
#pragma once

#include <cstdint>

namespace protocol {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint64_t ms) = 0;
};

class RealClock : public Clock {
 public:
  uint64_t NowMs() override;
  void SleepMs(uint64_t ms) override;
};

// Time that moves when someone sleeps; each sleep also takes 1/divisor of its length in real
// time (0 = none), so that a peer on another thread still gets its turn. Thread-safe.
class FastClock : public Clock {
 public:
  explicit FastClock(unsigned divisor = 0) : divisor_(divisor) {}
  uint64_t NowMs() override;
  void SleepMs(uint64_t ms) override;
  uint64_t TotalSleptMs();

 private:
  unsigned divisor_;
  uint64_t now_ = 0;
  uint64_t slept_ = 0;
};

Clock& ActiveClock();
// Installs clock (nullptr = the real clock); answers the one it replaces.
Clock* SetClock(Clock* clock);

}  // namespace protocol

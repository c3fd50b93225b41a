#include "protocol/clock.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "serial/serial_util.h"

namespace protocol {

namespace {
RealClock realClock;
std::atomic<Clock*> active{&realClock};
std::mutex virtualMutex;
}  // namespace

// The serial layer's clock, so that protocol times and line time-outs read one clock.
uint64_t RealClock::NowMs() {
  return serial::MonotonicMs();
}

void RealClock::SleepMs(uint64_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t FastClock::NowMs() {
  std::lock_guard<std::mutex> lock(virtualMutex);
  return now_;
}

void FastClock::SleepMs(uint64_t ms) {
  constexpr uint64_t ProtocolPauseMs = 1000;
  if (beforePause_ && ms >= ProtocolPauseMs) beforePause_();
  {
    std::lock_guard<std::mutex> lock(virtualMutex);
    now_ += ms;
    slept_ += ms;
  }
  if (divisor_ > 0) std::this_thread::sleep_for(std::chrono::microseconds(ms * 1000 / divisor_));
}

int32_t FastClock::TimeoutMs(int32_t ms) {
  return ms / static_cast<int32_t>(timeoutDivisor_);
}

uint64_t FastClock::TotalSleptMs() {
  std::lock_guard<std::mutex> lock(virtualMutex);
  return slept_;
}

Clock& ActiveClock() {
  return *active.load();
}

Clock* SetClock(Clock* clock) {
  return active.exchange(clock ? clock : &realClock);
}

}  // namespace protocol

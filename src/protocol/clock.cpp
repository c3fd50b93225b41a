#include "protocol/clock.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <mutex>
#include <thread>

#include "serial/port_backend.h"
#include "serial/serial_util.h"

namespace protocol {

namespace {
std::mutex virtualMutex;
}  // namespace

uint64_t Clock::LineNowMs() {
  return serial::MonotonicMs();
}

std::unique_ptr<serial::PortBackend> Clock::LinePort(std::unique_ptr<serial::PortBackend> port) {
  return port;
}

// The line's clock, so that protocol times and line time-outs read one clock.
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

Clock& RealTime() {
  static RealClock clock;
  return clock;
}

Deadline::Deadline(Clock& clock, int32_t timeoutMs, Of what)
    : clock_(clock), what_(what), endless_(timeoutMs < 0) {
  // The line's waits begin up to a millisecond after the reading.
  const int32_t rounding = what == Of::Line && timeoutMs > 0 && timeoutMs < INT32_MAX ? 1 : 0;
  endMs_ = Now() + static_cast<uint64_t>(endless_ ? 0 : timeoutMs + rounding);
}

uint64_t Deadline::Now() const {
  return what_ == Of::Line ? clock_.LineNowMs() : clock_.NowMs();
}

int32_t Deadline::LeftMs() const {
  if (endless_) return -1;
  const uint64_t now = Now();
  if (now >= endMs_) return 0;
  constexpr uint64_t Longest = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(std::min(endMs_ - now, Longest));
}

}  // namespace protocol

#include "support/line_time_clock.h"

#include <algorithm>
#include <chrono>

#include "serial/forwarding_backend.h"

namespace testing_support {

namespace {

// Waits for input in short real slices, letting the clock move the line's time between them.
class LineTimePort : public serial::ForwardingBackend {
 public:
  LineTimePort(std::unique_ptr<serial::PortBackend> inner, LineTimeClock& clock)
      : ForwardingBackend(std::move(inner)), clock_(clock) {}

  int WaitEvent(uint32_t mask, int32_t timeoutMs, bool& happened) override {
    if (mask != serial::EventRxChar || timeoutMs <= 0)
      return inner_->WaitEvent(mask, timeoutMs, happened);
    constexpr int32_t SliceMs = 1;
    const uint64_t endMs = clock_.LineNowMs() + static_cast<uint64_t>(timeoutMs);
    for (;;) {
      const auto before = std::chrono::steady_clock::now();
      const int error = inner_->WaitEvent(mask, SliceMs, happened);
      if (error != 0 || happened) return error;
      const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::steady_clock::now() - before);
      clock_.WaitedOnTheLine(endMs, static_cast<uint64_t>(waited.count()));
      if (clock_.LineNowMs() >= endMs) return 0;
    }
  }

 private:
  LineTimeClock& clock_;
};

}  // namespace

std::unique_ptr<serial::PortBackend> LineTimeClock::LinePort(
    std::unique_ptr<serial::PortBackend> port) {
  if (!peer_) return port;
  return std::make_unique<LineTimePort>(std::move(port), *this);
}

void LineTimeClock::WaitedOnTheLine(uint64_t untilMs, uint64_t realUs) {
  const uint64_t now = NowMs();
  const std::optional<uint64_t> next = peer_();
  const uint64_t to = next ? std::min(untilMs, *next) : now + std::max<uint64_t>(1, realUs / 1000);
  if (to > now) skippedMs_ += to - now;
}

}  // namespace testing_support

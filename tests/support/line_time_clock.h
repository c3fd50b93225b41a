// A fast clock that keeps the line's time as well: a wait on the line takes no real time once
// the simulated deco has nothing due before the wait's end, so that a reply half a minute late
// costs what its bytes cost, and comes before or after the tool's time-outs exactly as on a
// real line.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "protocol/clock.h"

namespace testing_support {

class LineTimeClock : public protocol::FastClock {
 public:
  // When the peer will next put a byte on the line, on this clock: nothing while it is at work
  // or bytes are under way, so that time then passes as real time does.
  using NextEvent = std::function<std::optional<uint64_t>()>;

  using FastClock::FastClock;
  // From now on the line's time is this clock's; set before a link opens.
  void KeepLineTime(NextEvent peer) { peer_ = std::move(peer); }
  bool KeepsLineTime() const { return static_cast<bool>(peer_); }

  uint64_t NowMs() override { return FastClock::NowMs() + skippedMs_; }
  uint64_t LineNowMs() override { return peer_ ? NowMs() : FastClock::LineNowMs(); }
  int32_t TimeoutMs(int32_t ms) override { return peer_ ? ms : FastClock::TimeoutMs(ms); }
  std::unique_ptr<serial::PortBackend> LinePort(
      std::unique_ptr<serial::PortBackend> port) override;

  // After a short real wait of realUs on the line that ends at untilMs: moves the line's time
  // on to the peer's next event, or to untilMs if that comes first; while the peer is at work,
  // by the real time waited.
  void WaitedOnTheLine(uint64_t untilMs, uint64_t realUs);
  // Time that goes by with nobody waiting on the line, as between two jobs.
  void Pass(uint64_t ms) { skippedMs_ += ms; }

 private:
  NextEvent peer_;
  std::atomic<uint64_t> skippedMs_{0};
};

}  // namespace testing_support

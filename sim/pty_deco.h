// Serves a DecoModel on the master side of a pseudo-terminal, on its own thread. The program
// under test opens SlavePath() through the real serial layer, as it would open a real port.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "sim/deco_model.h"

namespace sim {

class PtyDeco {
 public:
  explicit PtyDeco(const Settings& settings = Settings());
  ~PtyDeco();
  PtyDeco(const PtyDeco&) = delete;
  PtyDeco& operator=(const PtyDeco&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  DecoModel& Model() { return model_; }
  const DecoModel& Model() const { return model_; }
  // True once the line was closed by the hang-up fault.
  bool HungUp() const { return hungUp_; }
  // Waits, a second at most, until the deco has read every byte sent to it and judged the
  // speed it came at. A test's shortened pause ends before a late deco thread would.
  void CatchUp();
  // Waits, limitMs at most, until the deco has answered every command sent to it, a late reply
  // included: the quiet line a technician finds before the next job.
  void WaitAnswered(int limitMs);
  // When the deco will next put a byte on the line, on its Now: WaitsForACommand while it waits
  // for one; nothing while it is at work or bytes are under way, as time must then pass as it
  // does. Any thread may ask.
  std::optional<uint64_t> NextEventMs() const;
  static constexpr uint64_t WaitsForACommand = std::numeric_limits<uint64_t>::max();
  void Stop();

 private:
  using Instant = std::chrono::steady_clock::time_point;

  // Bytes the deco's receiver took in, and the speed they came at; or the read's errno.
  struct Received {
    std::string bytes;
    uint32_t baud = 0;
    int error = 0;
  };

  void Serve();
  Received TakeIn();
  // Answers the commands that chunk completes in line, the bytes heard before them.
  void Answer(const Received& chunk, std::string& line);
  void Deliver(const Reply& reply, std::chrono::nanoseconds commandWire, Instant heard);
  Instant SendPaced(const std::string& bytes, uint32_t baud, Instant from);
  bool WriteAll(const std::string& bytes);
  uint32_t PcBaud() const;
  void Pause(double seconds);
  static void PauseUntil(Instant when);
  // As PauseUntil, but on time to the microsecond at the cost of a short busy wait.
  static void PauseUntilExactly(Instant when);
  // Until Now reaches untilMs, or the deco is stopped.
  void PauseUntilNow(uint64_t untilMs);

  DecoModel model_;
  std::atomic<int> master_{-1};
  std::atomic<int> keepSlave_{-1};  // keeps the pty alive while no program has the port open
  int stopPipe_[2] = {-1, -1};
  std::string slavePath_;
  std::atomic<bool> hungUp_{false};
  std::atomic<bool> judging_{false};  // between taking bytes in and noting their speed
  std::atomic<bool> answering_{false};  // from a command line to the end of its reply
  std::atomic<bool> trickling_{false};
  std::atomic<uint64_t> pausedUntilMs_{0};  // on Now, while a slow reply waits on it
  std::deque<Received> heard_;  // taken in, not yet answered; the deco thread's own
  std::thread thread_;
};

}  // namespace sim

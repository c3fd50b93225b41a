// A simulated deco on a pty, the real serial link to it, a fast clock and a recorder of status
// lines: the ground most protocol and transfer tests stand on.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/clock.h"
#include "protocol/transaction.h"
#include "sim/pty_deco.h"
#include "support/files.h"
#include "support/line_time_clock.h"

namespace testing_support {

class StatusRecorder : public protocol::StatusSink {
 public:
  void ShowStatusText(const std::string& line) override;
  std::vector<std::string> Lines() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Real waits are divided by this in tests: a 5-second erase pause costs 50 ms.
inline constexpr unsigned TestClockDivisor = 100;
// How long a test waits at most for a window's job to end.
inline constexpr int JobTimeoutMs = 60000;
// Reply time-outs a fifth of their length, as the fault matrix has them, for tests that wait
// them out.
inline constexpr unsigned QuickTimeOuts = 5;

class SimSession {
 public:
  // Reply time-outs last 1/timeoutDivisor of their length.
  explicit SimSession(const sim::Settings& settings = sim::Settings(),
                      unsigned timeoutDivisor = 1);
  // The line's time kept by the clock: time-outs and slow replies last their whole length on
  // it and no real time once the deco has nothing due before them.
  struct LineTimeOnTheClock {};
  SimSession(const sim::Settings& settings, LineTimeOnTheClock);
  ~SimSession();

  // Connects as the window would: EnterServiceMode from standby or from service mode; what it
  // learned goes to learned.
  void Connect(const std::string& baud = "115200", bool standby = true);
  // Opens the link to the deco at baud without a word to it.
  void Open(int32_t baud = 115200);
  std::vector<std::string> Log() const { return recorder.Lines(); }

  sim::PtyDeco deco;
  LineTimeClock clock;
  StatusRecorder recorder;
  // The link to the simulated deco, on the session's clock; its status lines go to the
  // recorder.
  protocol::DecoLink link{&recorder, clock};
  protocol::DecoFacts learned;
};

// Settings of a deco that already shows -SE- at the given speed.
sim::Settings InService(uint32_t baud = 115200);

}  // namespace testing_support

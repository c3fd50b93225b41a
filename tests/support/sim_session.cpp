#include "support/sim_session.h"

#include "protocol/flash_map.h"
#include "protocol/service_mode.h"

namespace testing_support {

void StatusRecorder::ShowStatusText(const std::string& line) {
  if (line.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(line);
}

std::vector<std::string> StatusRecorder::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void StatusRecorder::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

namespace {
// The deco's busy periods run on the clock the tool waits on.
sim::Settings OnClock(sim::Settings settings, protocol::Clock& clock) {
  settings.Now = [&clock] { return clock.NowMs(); };
  return settings;
}

sim::Settings PausesOnClock(sim::Settings settings, protocol::Clock& clock) {
  settings.PausesOnNow = true;
  return OnClock(std::move(settings), clock);
}
}  // namespace

SimSession::SimSession(const sim::Settings& settings, unsigned timeoutDivisor)
    : deco(OnClock(settings, clock)), clock(TestClockDivisor, timeoutDivisor) {
  clock.SetBeforePause([this] { deco.CatchUp(); });
}

SimSession::SimSession(const sim::Settings& settings, LineTimeOnTheClock)
    : deco(PausesOnClock(settings, clock)), clock(TestClockDivisor) {
  clock.SetBeforePause([this] { deco.CatchUp(); });
  clock.KeepLineTime([this] { return deco.NextEventMs(); });
}

SimSession::~SimSession() {
  link.Close();
  // The deco's thread reads the clock, which goes before the deco does.
  deco.Stop();
}

void SimSession::Connect(const std::string& baud, bool standby) {
  protocol::EnterServiceMode(link, deco.SlavePath(), baud, standby, learned);
}

void SimSession::Open(int32_t baud) {
  link.Open(deco.SlavePath(), baud);
}

sim::Settings InService(uint32_t baud) {
  sim::Settings settings;
  settings.StartInService = true;
  settings.ServiceBaud = baud;
  return settings;
}

}  // namespace testing_support

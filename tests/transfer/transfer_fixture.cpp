#include "transfer_fixture.h"

#include <unistd.h>

#include <climits>

namespace testing_support {

void RecordingHost::Event(const std::string& text) {
  if (StopWhen && Worker && StopWhen(text)) Worker->Terminate();
}

void RecordingHost::ShowStatusText(const std::string& line) {
  if (line.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(line);
  }
  Event(line);
}

void RecordingHost::UpdateProgress(int32_t progress, const std::string& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (progress >= 0) progress_.push_back(progress);
    if (!message.empty()) log_.push_back(message);
  }
  if (!message.empty()) Event(message);
  if (progress >= 0) Event("progress " + std::to_string(progress));
}

void RecordingHost::ShowTimeLeft(uint64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  timesLeft_.emplace_back(progress_.size(), seconds);
}

std::vector<std::pair<size_t, uint64_t>> RecordingHost::TimesLeft() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timesLeft_;
}

void RecordingHost::SetBarColour(uint32_t colour) {
  std::lock_guard<std::mutex> lock(mutex_);
  colours_.push_back(colour);
}

void RecordingHost::PostWorkerDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
}

std::vector<std::string> RecordingHost::Log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::vector<int32_t> RecordingHost::Progress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return progress_;
}

std::vector<uint32_t> RecordingHost::Colours() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return colours_;
}

int RecordingHost::DoneCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}

JobSession::JobSession(const sim::Settings& settings) : SimSession(settings) {
  Connect("115200", !settings.StartInService);
  link.SetStatusSink(&host);
  names = transfer::TimeStampedNames("12-7-2026_1-18-29_AM");
  for (std::string* name :
       {&names.FirmwareReadBackName, &names.ChannelReadBackName, &names.MergedFileName})
    *name = dir.File(*name);
}

JobSession::~JobSession() {
  link.SetStatusSink(nullptr);
}

std::string JobSession::Run(const transfer::JobPlan& plan) {
  commandsBefore_ = deco.Model().CommandLog().size();
  // The job knows what the connect learned, as the front ends hand it over.
  transfer::JobPlan job = plan;
  job.Block18Protected = learned.Block18Protected;
  transfer::TIOThread worker(host, link, job);
  host.Worker = &worker;
  worker.Resume();
  worker.WaitFor();
  host.Worker = nullptr;
  result = worker.Result();
  shortfall = result.Shortfall;
  flashWriteActive = worker.FlashWriteActive();
  return result.ErrorText;
}

std::vector<std::string> JobSession::CommandsSinceJobStart() const {
  auto all = deco.Model().CommandLog();
  return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(commandsBefore_),
                                  all.end());
}

}  // namespace testing_support

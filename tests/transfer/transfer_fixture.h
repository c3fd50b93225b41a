// Runs worker jobs against the simulated deco and records everything the worker tells its
// owner, in the order it arrives.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "protocol/transaction.h"
#include "support/sim_session.h"
#include "transfer/io_thread.h"

namespace testing_support {

class RecordingHost : public protocol::StatusSink, public transfer::TransferHost {
 public:
  void ShowStatusText(const std::string& line) override;
  void UpdateProgress(int32_t progress, const std::string& message) override;
  void SetBarColour(uint32_t colour) override;
  void ShowTimeLeft(uint64_t seconds) override;
  void PostWorkerDone() override;

  // Called with every log line and with "progress N"; true asks the worker to stop.
  std::function<bool(const std::string&)> StopWhen;
  transfer::TIOThread* Worker = nullptr;

  std::vector<std::string> Log() const;
  std::vector<int32_t> Progress() const;
  std::vector<uint32_t> Colours() const;
  // Each time left told, with how many progress steps had come before it.
  std::vector<std::pair<size_t, uint64_t>> TimesLeft() const;
  int DoneCount() const;

 private:
  void Event(const std::string& text);
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::vector<int32_t> progress_;
  std::vector<uint32_t> colours_;
  std::vector<std::pair<size_t, uint64_t>> timesLeft_;
  int done_ = 0;
};

// A connected session with a recording host; Run starts one job and waits for its end.
class JobSession : public SimSession {
 public:
  explicit JobSession(const sim::Settings& settings = InService());
  ~JobSession();
  // Runs the job; answers the worker's error text ("" when none).
  std::string Run(const transfer::JobPlan& plan);
  std::vector<std::string> CommandsSinceJobStart() const;

  RecordingHost host;
  TempDir dir;
  // The run's own files, in the test's folder.
  transfer::RunNames names;
  // What the last job did, and whether it still counted as writing flash at its end.
  transfer::JobResult result;
  std::string shortfall;
  bool flashWriteActive = false;

 private:
  size_t commandsBefore_ = 0;
};

}  // namespace testing_support

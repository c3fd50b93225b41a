// TIOThread: the one worker that runs a READ or WRITE job, so that its owner stays responsive,
// shows progress and can stop the job.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transfer/job_results.h"
#include "transfer/job_values.h"
#include "transfer/scope_exit.h"
#include "transfer/transfer_host.h"

namespace transfer {

inline constexpr const char* WorkerThreadName = "KVTIOProgressBar";
// The pause after each sector erase, for the deco to finish it.
inline constexpr unsigned EraseWaitSeconds = 5;

class TIOThread {
 public:
  // Created suspended: nothing runs before Resume.
  TIOThread(TransferHost& host, const JobSelection& selection);
  ~TIOThread();
  TIOThread(const TIOThread&) = delete;
  TIOThread& operator=(const TIOThread&) = delete;

  void Resume();
  // Asks the job to stop at its next check point.
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Waits until the thread has ended (at once when it never started).
  void WaitFor();
  bool Finished() const { return finished_; }
  // The text of the error that ended the job; empty when none did.
  std::string ErrorText() const;
  // Why the job did less than it promises (a sector skipped, a write that could not start, a
  // comparison that covered only part of the image); empty when it did every step.
  std::string Shortfall() const;
  // The job's last complete flash write pass; no sectors when none was made or when a
  // comparison with the flash followed it.
  WritePass LastWritePass() const;
  // Every flash write pass, in order (the last one may be unfinished), and the differing
  // sectors of every comparison.
  std::vector<WritePass> WritePasses() const;
  std::vector<std::vector<int>> Comparisons() const;
  // The final check at the end of a WRITE; Result "not run" when none was made.
  FinalCheckResult FinalCheckDone() const;

  // The job's steps, as the worker runs them.
  void SetThreadName();
  void UpdateProgress();
  bool ReadFlash(int32_t blockCount, uint32_t colour);
  bool WriteFlash(int32_t blockCount, uint32_t colour);
  void RunWriteJob();
  std::string PickImageFile() const;

  int32_t FProgress = -1;
  std::string FMessage;

 private:
  struct Phase {
    int32_t lastShown = -1;
    uint64_t start = 0;
  };
  void Execute();
  void RunReadJob();
  void ShowProgress(Phase& phase, uint64_t done, uint64_t total);
  void FinishPhase(const Phase& phase, const std::string& startText);
  void RaiseAboveNormalPriority();
  void NoteShortfall(const std::string& reason);
  // Changes the pass under way; the front ends read the passes while the job runs.
  void RecordPass(const std::function<void(WritePass&)>& change);

  TransferHost& host_;
  JobSelection selection_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  mutable std::mutex errorMutex_;
  std::string errorText_;
  std::string shortfall_;
  std::vector<WritePass> passes_;
  bool comparedSinceLastPass_ = false;
  std::vector<std::vector<int>> comparisons_;
  FinalCheckResult finalCheck_;
  JobContext& job_;
  protocol::LinkContext& link_;
  std::thread thread_;
};

// round(done / total * 100) with ties to even.
int32_t PercentOf(uint64_t done, uint64_t total);

}  // namespace transfer

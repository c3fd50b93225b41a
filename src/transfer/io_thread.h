// TIOThread: the one worker that runs a READ or WRITE job on its own thread, so that its owner
// stays responsive, shows progress and can stop the job. It starts, stops, waits and hands out
// the job's result; the job's steps are the TransferJob's.
#pragma once

#include <atomic>
#include <thread>

#include "transfer/transfer_job.h"

namespace transfer {

inline constexpr const char* WorkerThreadName = "KVTIOProgressBar";

class TIOThread {
 public:
  // Created suspended: nothing runs before Resume. The link and host must outlive the worker.
  // owner: the owner's own stop (Ctrl-C), which the job sees at once beside Terminate.
  TIOThread(TransferHost& host, protocol::DecoLink& link, JobPlan plan,
            protocol::StopToken owner = {});
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
  bool FlashWriteActive() const { return job_.FlashWriteActive(); }
  // What the job did; whole once Finished().
  JobResult Result() const { return job_.Result(); }

 private:
  void Execute();

  protocol::DecoLink& link_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  TransferJob job_;
  std::thread thread_;
};

}  // namespace transfer

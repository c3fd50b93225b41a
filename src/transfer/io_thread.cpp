#include "transfer/io_thread.h"

#include "protocol/transaction.h"
#include "transfer/thread_setup.h"

namespace transfer {

TIOThread::TIOThread(TransferHost& host, protocol::DecoLink& link, JobPlan plan)
    : link_(link), job_(host, link, std::move(plan), terminated_) {}

TIOThread::~TIOThread() {
  Terminate();
  WaitFor();
}

void TIOThread::Resume() {
  if (thread_.joinable() || finished_) return;
  thread_ = std::thread([this] { Execute(); });
}

void TIOThread::Terminate() {
  terminated_ = true;
}

void TIOThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

bool TIOThread::WaitFinished(int timeoutMs) {
  std::unique_lock<std::mutex> lock(finishMutex_);
  return finishedChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [this] { return finished_.load(); });
}

void TIOThread::Execute() {
  try {
    NameThisThread(WorkerThreadName);
    RaiseThisThreadAboveNormal();
    // A late reply from an earlier failed exchange must not become this job's first reply.
    link_.DiscardStaleInput();
    job_.Run();
  } catch (const std::exception& error) {
    job_.NoteError(error.what());
    protocol::PostStatus(link_, std::string("ERROR: ") + error.what());
  }
  {
    std::lock_guard<std::mutex> lock(finishMutex_);
    finished_ = true;
  }
  finishedChanged_.notify_all();
}

}  // namespace transfer

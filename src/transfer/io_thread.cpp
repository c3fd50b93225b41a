#include "transfer/io_thread.h"

#include "protocol/transaction.h"
#include "transfer/connection.h"
#include "transfer/thread_setup.h"

namespace transfer {

TIOThread::TIOThread(TransferHost& host, protocol::DecoLink& link, JobPlan plan,
                     protocol::StopToken owner)
    : link_(link), job_(host, link, std::move(plan), protocol::StopToken(terminated_, owner)) {}

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

void TIOThread::Execute() {
  try {
    NameThisThread(WorkerThreadName);
    RaiseThisThreadAboveNormal();
    // A late reply from an earlier failed exchange must not become this job's first reply.
    link_.DiscardStaleInput();
    job_.Run();
  } catch (const std::exception& error) {
    job_.NoteError(error.what());
    RecordIfDecoLost(link_, error);
    protocol::PostStatus(link_, std::string("ERROR: ") + error.what());
  }
  finished_ = true;
}

}  // namespace transfer

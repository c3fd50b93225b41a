// A stop request, as one job sees it. Whoever runs the job keeps the source (the window's
// Abort, the command line's Ctrl-C, the worker's own Terminate) and hands each job a token; every
// loop that reads or writes the line looks at it at its check points.
#pragma once

#include <atomic>

namespace protocol {

class StopToken {
 public:
  // A token that is never set.
  StopToken() = default;
  // A token that reads flag, which must outlive it.
  StopToken(const std::atomic<bool>& flag) : flag_(&flag) {}

  bool Requested() const { return flag_ && flag_->load(); }

 private:
  const std::atomic<bool>* flag_ = nullptr;
};

}  // namespace protocol

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
  // A token that reads flag and the one also reads: either stops the job at once.
  StopToken(const std::atomic<bool>& flag, StopToken also) : flag_(&flag), also_(also.flag_) {}

  bool Requested() const { return (flag_ && flag_->load()) || (also_ && also_->load()); }

 private:
  const std::atomic<bool>* flag_ = nullptr;
  const std::atomic<bool>* also_ = nullptr;
};

}  // namespace protocol

// An action run when a scope ends, however it is left: the resets and records that every exit
// of a job step owes.
#pragma once

#include <functional>
#include <utility>

namespace transfer {

// Runs an action when the scope ends, unless dismissed first.
class ScopeExit {
 public:
  explicit ScopeExit(std::function<void()> action) : action_(std::move(action)) {}
  ~ScopeExit() {
    if (action_) action_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  void Dismiss() { action_ = nullptr; }

 private:
  std::function<void()> action_;
};

}  // namespace transfer

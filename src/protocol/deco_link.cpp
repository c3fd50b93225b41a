#include "protocol/deco_link.h"

namespace protocol {

std::string DecoLink::StatusText() const {
  std::lock_guard<std::mutex> lock(statusMutex_);
  return statusText_;
}

void DecoLink::SetStatusText(const std::string& text) {
  std::lock_guard<std::mutex> lock(statusMutex_);
  statusText_ = text;
}

}  // namespace protocol

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "cli/typed_line.h"

namespace cli {

namespace {
// How often the wait for a key looks at the stop request.
constexpr int StopLookMs = 20;
}  // namespace

bool ReadTypedLine(std::string& line, protocol::StopToken stop) {
  line.clear();
  for (;;) {
    if (stop.Requested()) return false;
    pollfd typed{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&typed, 1, StopLookMs);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    char c;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace cli

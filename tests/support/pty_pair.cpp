#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace testing_support {

namespace {
long NowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}
}  // namespace

PtyPair::PtyPair() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
    throw std::runtime_error(std::string("pty: ") + std::strerror(errno));
  slavePath_ = ::ptsname(master_);
  keepSlave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios tio{};
  ::tcgetattr(keepSlave_, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(keepSlave_, TCSANOW, &tio);
}

PtyPair::~PtyPair() {
  CloseMaster();
  if (keepSlave_ >= 0) ::close(keepSlave_);
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void PtyPair::WriteMaster(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    pollfd p{master_, POLLOUT, 0};
    ::poll(&p, 1, 100);
  }
}

std::string PtyPair::ReadMaster(int timeoutMs, size_t expected) {
  std::string got;
  long deadline = NowMs() + timeoutMs;
  while (got.size() < expected) {
    long left = deadline - NowMs();
    if (left <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buffer[4096];
    ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

}  // namespace testing_support

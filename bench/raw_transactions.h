// The floor of this machine and simulator for a kind of transaction: a minimal write/poll/read
// loop on the pseudo-terminal at 115200 baud, no serial layer in between.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace bench {

// Sends command (with CR LF) count times, each time reading until the reply's CR; answers the
// seconds all took.
inline double RawTransactionsSeconds(const std::string& path, const std::string& command,
                                     int count) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, B115200);
  ::cfsetospeed(&tio, B115200);
  ::tcsetattr(fd, TCSANOW, &tio);
  const std::string line = command + "\r\n";
  char buffer[2048];
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    if (::write(fd, line.data(), line.size()) < 0) std::abort();
    bool done = false;
    while (!done) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, 1000);
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      for (ssize_t k = 0; k < n; ++k) done = done || buffer[k] == '\r';
    }
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(fd);
  return seconds;
}

}  // namespace bench

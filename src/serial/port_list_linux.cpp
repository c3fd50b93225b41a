// Serial ports from sysfs: every tty with a device behind it, except legacy 8250 ports that
// the driver registered although no UART answered at their address.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "serial/announced_ports.h"
#include "serial/port_list.h"
#include "serial/serial_util.h"

namespace serial {

namespace {

constexpr const char* TtyClassDir = "/sys/class/tty";

std::string DriverName(const std::string& ttyName) {
  std::string link = std::string(TtyClassDir) + "/" + ttyName + "/device/driver";
  char target[PATH_MAX];
  ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return "";
  target[n] = 0;
  std::string path(target);
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasDevice(const std::string& ttyName) {
  std::string link = std::string(TtyClassDir) + "/" + ttyName + "/device";
  return ::access(link.c_str(), F_OK) == 0;
}

// A legacy port without hardware reports the UART type "unknown".
bool IsPhantom8250(const std::string& devicePath) {
  int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;
  serial_struct info{};
  bool phantom = ::ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type == PORT_UNKNOWN;
  ::close(fd);
  return phantom;
}

// ttyS10 after ttyS9: compare the trailing numbers as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    size_t i = s.size();
    while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
    long number = i < s.size() ? std::stol(s.substr(i)) : -1;
    return std::make_pair(s.substr(0, i), number);
  };
  return split(a) < split(b);
}

}  // namespace

std::string ListSerialPorts() {
  std::vector<std::string> ttys;
  if (DIR* dir = ::opendir(TtyClassDir)) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      if (HasDevice(name)) ttys.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(ttys.begin(), ttys.end(), NaturalLess);
  std::vector<std::string> names;
  for (const std::string& tty : ttys) {
    std::string path = "/dev/" + tty;
    if (DriverName(tty) == "serial8250" && IsPhantom8250(path)) continue;
    names.push_back(path);
  }
  for (const std::string& path : AnnouncedPorts()) names.push_back(path);
  if (names.empty()) return "";
  return JoinList(names);
}

}  // namespace serial

// Serial ports from sysfs: every tty with a device behind it, except legacy 8250 ports that
// the driver registered although no UART answered at their address. Nothing is opened: a probe
// would pulse DTR and RTS on whatever is attached, and would hide a port that is busy or that
// this user may not open, where a clear error at Connect is what helps.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <string>
#include <vector>

#include "serial/announced_ports.h"
#include "serial/port_list.h"
#include "serial/serial_util.h"
#include "serial/sysfs_ports.h"

namespace serial {

namespace {

constexpr const char* TtyClassDir = "/sys/class/tty";
constexpr const char* LegacyDriver = "serial8250";
// The UART type serial_core reports for a port without hardware.
constexpr const char* UnknownUartType = "0";

std::string DriverName(const std::string& ttyDir) {
  std::string link = ttyDir + "/device/driver";
  char target[PATH_MAX];
  ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return "";
  target[n] = 0;
  std::string path(target);
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasDevice(const std::string& ttyDir) {
  return ::access((ttyDir + "/device").c_str(), F_OK) == 0;
}

bool IsPhantom8250(const std::string& ttyDir) {
  std::ifstream typeFile(ttyDir + "/type");
  std::string type;
  return typeFile >> type && type == UnknownUartType;
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

std::vector<std::string> SysfsSerialPorts(const std::string& ttyClassDir) {
  std::vector<std::string> ttys;
  if (DIR* dir = ::opendir(ttyClassDir.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string ttyDir = ttyClassDir + "/" + name;
      if (!HasDevice(ttyDir)) continue;
      if (DriverName(ttyDir) == LegacyDriver && IsPhantom8250(ttyDir)) continue;
      ttys.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(ttys.begin(), ttys.end(), NaturalLess);
  std::vector<std::string> paths;
  for (const std::string& tty : ttys) paths.push_back("/dev/" + tty);
  return paths;
}

std::string ListSerialPorts() {
  std::vector<std::string> names = SysfsSerialPorts(TtyClassDir);
  for (const std::string& path : AnnouncedPorts()) names.push_back(path);
  if (names.empty()) return "";
  return JoinList(names);
}

}  // namespace serial

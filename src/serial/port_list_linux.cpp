// Serial ports from sysfs: every tty with a device behind it, except ports that a driver
// registered although no UART answered at their address (legacy 8250 ports, mostly). Nothing is
// opened: a probe would pulse DTR and RTS on whatever is attached, and would hide a port that is
// busy or that this user may not open, where a clear error at Connect is what helps.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
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
// The UART type serial_core reports for a port without hardware.
constexpr const char* UnknownUartType = "0";

bool HasDevice(const std::string& ttyDir) {
  return ::access((ttyDir + "/device").c_str(), F_OK) == 0;
}

// Only ports of serial_core have a type. The driver link cannot tell: it named serial8250 for
// the legacy ports until kernel 6.5 and names the serial-base bus's "port" driver since.
bool IsPhantom(const std::string& ttyDir) {
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
      if (IsPhantom(ttyDir)) continue;
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

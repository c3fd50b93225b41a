// What a user can do about a port that the system refused to open; the answer depends on the
// system.
#pragma once

#include <string>

namespace cli {

// One line in plain words for a port that failed to open with the system's error code: the
// port does not exist, another program holds it, or how to get access to it; empty when the
// code is none of these or there is nothing to tell.
std::string AccessHint(int code, const std::string& devicePath);

// The words for a missing port and for one in use, the same on every system.
inline std::string NoSuchPortHint(const std::string& devicePath) {
  return devicePath + ": no such port: see `pyrelink-cli ports`";
}
inline std::string PortInUseHint(const std::string& devicePath) {
  return devicePath + " is in use by another program (a terminal, a modem tool, another " +
         "Pyrelink): close it and try again.";
}

}  // namespace cli

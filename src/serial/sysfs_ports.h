// The Linux port list's source, apart so that tests can hand it a made-up sysfs tree.
#pragma once

#include <string>
#include <vector>

namespace serial {

// The device paths of the serial ports that a sysfs tty class folder describes, in natural
// order; nothing is opened.
std::vector<std::string> SysfsSerialPorts(const std::string& ttyClassDir);

}  // namespace serial

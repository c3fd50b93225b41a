// The Linux port list's source, apart so that tests can hand it a made-up sysfs tree.
#pragma once

#include <string>
#include <vector>

#include "serial/port_details.h"

namespace serial {

// The device paths of the serial ports that a sysfs tty class folder describes, in natural
// order; nothing is opened.
std::vector<std::string> SysfsSerialPorts(const std::string& ttyClassDir);

// What sysfs (under sysfsRoot, "/sys" but for tests) tells about the port at devicePath: the
// USB device's attributes above its tty, and the link of byIdDir ("/dev/serial/by-id" but for
// tests) that leads to the same device node. Nothing is opened.
PortDetails SysfsPortDetails(const std::string& devicePath, const std::string& sysfsRoot,
                             const std::string& byIdDir);

}  // namespace serial

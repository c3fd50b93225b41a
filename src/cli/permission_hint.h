// What a user who may not open a port can do about it; the answer depends on the system.
#pragma once

#include <string>

namespace cli {

// One line telling how to get access to devicePath; empty when there is nothing to tell.
std::string PermissionHint(const std::string& devicePath);

}  // namespace cli

// What a user can do about a port that the system refused to open; the answer depends on the
// system.
#pragma once

#include <string>

namespace cli {

// One line telling how to get access to devicePath after the open failed with the system's
// error code; empty when the code is not about access or there is nothing to tell.
std::string AccessHint(int code, const std::string& devicePath);

}  // namespace cli

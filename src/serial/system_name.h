// The system a program runs on, in a few words ("Linux 6.1.0-18-amd64 x86_64", "Windows 10.0
// build 19045"), for a record that is read on another machine.
#pragma once

#include <string>

namespace serial {

std::string SystemName();

}  // namespace serial

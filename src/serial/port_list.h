// The serial ports present on this system.
#pragma once

#include <string>

namespace serial {

// The names of the serial ports present, joined with commas (see JoinList); empty when there
// are none.
std::string ListSerialPorts();

}  // namespace serial

// Line speeds as the POSIX terminal interface codes them (B9600 for 9600): the one table, for the
// serial backend and for the simulated deco, which reads the speed the PC set.
#pragma once

#include <termios.h>

#include <cstdint>

namespace serial {

// The code of rate; false when the terminal interface has none.
bool BaudCode(uint32_t rate, speed_t& code);
// The rate of code; 0 when it is none of the table's.
uint32_t BaudRate(speed_t code);

}  // namespace serial

// The ports command's output: one line per port for people, a JSON array for scripts.
#pragma once

#include <string>
#include <vector>

#include "serial/port_details.h"

namespace cli {

// The port's name first, then what is known of it, two spaces apart:
// "/dev/ttyUSB0  FT232R USB UART  0403:6001  serial A1B2C3  /dev/serial/by-id/usb-FTDI_...",
// "COM3  USB Serial Port (COM3)  0403:6001  latency timer 16 ms".
std::string PortLine(const serial::PortDetails& port);

// An array of objects with name, description, vendor, product, serial, by_id and
// latency_timer_ms; what is not known is "" (null for the latency timer).
std::string PortsJson(const std::vector<serial::PortDetails>& ports);

}  // namespace cli

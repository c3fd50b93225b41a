// Low latency for USB serial adapters on Linux. Such adapters hold short replies back (an FTDI
// chip's latency timer is 16 ms by default, longer than a whole reply of the deco); the serial
// driver's low-latency flag and an FTDI latency timer of 1 ms make them pass replies on at once.
// Best effort: what cannot be changed stays as it is, and everything changed is put back.
#pragma once

#include <string>

namespace serial {

inline constexpr const char* LowLatencyTimerMs = "1";

struct LatencyChange {
  bool flagSet = false;  // the driver's low-latency flag was off and is now on
  std::string timerFile;  // the latency timer changed, and its earlier value
  std::string timerBefore;
  std::string note;  // what was done, for the user
};

// Asks the driver of the open port fd (named path) for low latency; sysfsRoot is "/sys" but for
// tests.
LatencyChange RequestLowLatency(int fd, const std::string& path,
                                const std::string& sysfsRoot = "/sys");
// Puts back what RequestLowLatency changed.
void RestoreLatency(int fd, const LatencyChange& change);

}  // namespace serial

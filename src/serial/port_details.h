// What the system tells about each serial port beyond its name, for a user who has to pick the
// right one among several adapters. Best effort: what the system does not tell stays empty.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace serial {

struct PortDetails {
  std::string name;         // as the port list gives it and OpenPort takes it
  std::string description;  // the adapter's product text, or the system's friendly name
  std::string vendor;       // USB vendor id, four hex digits
  std::string product;      // USB product id, four hex digits
  std::string serial;       // the adapter's serial number
  std::string byId;         // a name for the same port that stays when it is plugged elsewhere
  // An FTDI adapter's latency timer: how long it holds back the end of a reply.
  std::optional<int> latencyTimerMs;
};

// The ports of the port list, in its order, each with what is known about it. Nothing is
// opened.
std::vector<PortDetails> ListPortDetails();

// Where the user lowers the port's latency timer on this system, for messages about slow
// replies; empty when the port has no known latency timer.
std::string WhereToLowerLatencyTimer(const PortDetails& port);

}  // namespace serial

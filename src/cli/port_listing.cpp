#include "cli/port_listing.h"

#include <nlohmann/json.hpp>

namespace cli {

std::string PortLine(const serial::PortDetails& port) {
  std::string line = port.name;
  auto add = [&line](const std::string& field) {
    if (!field.empty()) line += "  " + field;
  };
  add(port.description);
  add(port.vendor.empty() ? "" : port.vendor + ":" + port.product);
  add(port.serial.empty() ? "" : "serial " + port.serial);
  add(port.byId);
  add(port.latencyTimerMs ? "latency timer " + std::to_string(*port.latencyTimerMs) + " ms" : "");
  return line;
}

std::string PortsJson(const std::vector<serial::PortDetails>& ports) {
  // The fields in the order people read them.
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const serial::PortDetails& port : ports) {
    nlohmann::ordered_json latencyTimer;  // null when unknown
    if (port.latencyTimerMs) latencyTimer = *port.latencyTimerMs;
    list.push_back({{"name", port.name},
                    {"description", port.description},
                    {"vendor", port.vendor},
                    {"product", port.product},
                    {"serial", port.serial},
                    {"by_id", port.byId},
                    {"latency_timer_ms", latencyTimer}});
  }
  // A friendly name in the system's code page is not UTF-8: such a byte becomes U+FFFD rather
  // than costing the list.
  return list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace cli

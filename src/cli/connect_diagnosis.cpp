#include "cli/connect_diagnosis.h"

#include <memory>

#include "protocol/deco_link.h"
#include "protocol/service_mode.h"

namespace cli {

namespace {

constexpr const char* StandbyBaud = "9600";
constexpr const char* Speeds[] = {"9600", "38400", "115200"};

}  // namespace

std::string DiagnoseSilentDeco(const std::string& port, const std::string& baud, bool service) {
  // No status sink: the probes' dialogue is not the job's log.
  protocol::DecoLink link;
  link.SerialLink = std::make_unique<serial::TBlockSerial>();
  link.SerialLink->RaiseExcept = true;
  try {
    link.SerialLink->OpenPort(port);
  } catch (const std::exception&) {
    return "";
  }
  const std::string tried = service ? baud : StandbyBaud;
  for (const std::string speed : Speeds) {
    if (speed == tried || !protocol::DecoAnswersAt(link, speed)) continue;
    if (speed == StandbyBaud) {
      // Standby, or service mode at 9600: a connect from standby reaches the deco either way,
      // and the model query may have left it in service mode, so it goes back to standby.
      try {
        protocol::LeaveServiceMode(link);
      } catch (const std::exception&) {
        // It answered a moment ago; a connect from standby still finds it in either state.
      }
      return "the deco answers at 9600, as from standby: leave out --service";
    }
    return "the deco answers in service mode at " + speed + ": " +
           (service ? "use --baud " : "add --service --baud ") + speed;
  }
  return "no answer at any speed: check the cable, the port and that the deco is powered";
}

}  // namespace cli

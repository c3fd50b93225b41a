#include "cli/cli_connect.h"

#include <memory>

#include "cli/access_hint.h"
#include "protocol/service_mode.h"
#include "serial/serial_error.h"
#include "transfer/connection.h"

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

bool ConnectFromCli(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
                    const std::atomic<bool>& interrupted, std::string& error) {
  transfer::ConnectError failure;
  if (transfer::ConnectDeco(link, options.port, options.baud, !options.service, failure)) {
    host.AddLogLine("OK");
    // A deco already in service mode answers the switch to its own speed plainly, which the
    // dialogue judges wrong; the initialisation it then answered shows the line works.
    if (options.service && link.SpeedSwitchAnswer == protocol::DecoLink::SwitchAnswer::Wrong)
      host.Tell("the speed switch's \"ERROR!\" is the answer of a deco already in service mode: "
                "it answered the initialisation at " + options.baud +
                " baud, so the switch went through");
    return true;
  }
  error = "connect failed: " + failure.Text;
  host.Tell(error);
  std::string hint = AccessHint(failure.Code, failure.Device.empty() ? options.port : failure.Device);
  if (!hint.empty()) host.Tell(hint);
  if (failure.Code == serial::ErrTimeout && !interrupted) {
    host.Tell("the deco did not answer: listening at the other speeds ...");
    std::string advice = DiagnoseSilentDeco(options.port, options.baud, options.service);
    if (!advice.empty()) {
      host.Tell(advice);
      error += "; " + advice;
    }
  }
  return false;
}

}  // namespace cli

#include "cli/cli_connect.h"

#include "cli/access_hint.h"
#include "protocol/resync.h"
#include "protocol/service_mode.h"
#include "serial/serial_error.h"
#include "transfer/connection.h"

namespace cli {

namespace {

constexpr const char* StandbyBaud = "9600";
constexpr const char* Speeds[] = {"9600", "38400", "115200"};

// A reply that comes late to the connect's initialisation must not be taken for the job's
// first: the job starts once the line is proven in step.
bool StartInStep(protocol::DecoLink& link, ConsoleHost& host, std::string& error) {
  try {
    protocol::ResyncResult resync = protocol::Resynchronise(link);
    if (resync.InStep) {
      if (resync.Discarded > 0) host.AddLogLine(protocol::DiscardedNote(resync));
      return true;
    }
    error = "the deco's replies are out of step after the connect: " + resync.Why;
  } catch (const std::exception& failure) {
    error = std::string("the line failed after the connect: ") + failure.what();
  }
  host.Tell(error);
  return false;
}

}  // namespace

std::string DiagnoseSilentDeco(const std::string& port, const std::string& baud, bool service,
                               protocol::Clock& clock) {
  // No status sink: the probes' dialogue is not the job's log.
  protocol::DecoLink link(nullptr, clock);
  try {
    link.Open(port, protocol::StandbyBaud);
  } catch (const std::exception&) {
    return "";
  }
  // From standby the connect's model query at 9600 was answered by neither state there.
  const std::string tried = service ? baud : StandbyBaud;
  try {
    for (const std::string speed : Speeds) {
      if (speed == tried || !protocol::DecoAnswersInServiceAt(link, speed)) continue;
      return "the deco answers in service mode at " + speed + ": " +
             (service ? "use --baud " : "add --service --baud ") + speed;
    }
  } catch (const std::exception& failure) {
    return std::string("the port failed while listening: ") + failure.what();
  }
  // Only the model query reaches a deco in standby, and it would put the deco into service
  // mode: the probes leave a deco in standby as it is, so the advice names both states.
  if (service)
    return "no answer in service mode at any speed: if the deco shows -SE-, check the cable, "
           "the port and that the deco is powered; if it shows standby, leave out --service";
  return "no answer at any speed: check the cable, the port and that the deco is powered";
}

bool ConnectFromCli(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
                    protocol::StopToken stop, std::string& error,
                    protocol::DecoFacts& deco) {
  const transfer::ConnectResult connect =
      transfer::ConnectDeco(link, options.port, options.baud, !options.service);
  deco = connect.Deco;
  const transfer::ConnectError& failure = connect.Error;
  if (connect.Connected) {
    host.AddLogLine("OK");
    if (!stop.Requested() && !StartInStep(link, host, error)) return false;
    // A deco already in service mode answers the switch to its own speed plainly, which the
    // dialogue judges wrong; the initialisation it then answered shows the line works.
    if (options.service && deco.SpeedSwitchAnswer == protocol::DecoFacts::SwitchAnswer::Wrong)
      host.Tell("the speed switch's \"ERROR!\" is the answer of a deco already in service mode: "
                "it answered the initialisation at " + options.baud +
                " baud, so the switch went through");
    return true;
  }
  error = "connect failed: " + failure.Text;
  host.Tell(error);
  std::string hint = AccessHint(failure.Code, failure.Device.empty() ? options.port : failure.Device);
  if (!hint.empty()) host.Tell(hint);
  if (failure.Code == serial::ErrTimeout && !stop.Requested()) {
    host.Tell("the deco did not answer: listening at the other speeds ...");
    std::string advice =
        DiagnoseSilentDeco(options.port, options.baud, options.service, link.Time());
    if (!advice.empty()) {
      host.Tell(advice);
      error += "; " + advice;
    }
  }
  return false;
}

}  // namespace cli

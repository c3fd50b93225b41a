#include "cli/cli_connect.h"

#include <cctype>
#include <iterator>
#include <vector>

#include "cli/access_hint.h"
#include "cli/write_again.h"
#include "pyrelink_version.h"
#include "protocol/resync.h"
#include "protocol/service_mode.h"
#include "serial/line_trace.h"
#include "serial/serial_error.h"
#include "transfer/connection.h"
#include "transfer/scope_exit.h"

namespace cli {

namespace {

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
    transfer::RecordIfDecoLost(link, failure);
  }
  host.Tell(error);
  return false;
}

// "COM3 (/dev/ttyS2): " when the port was opened under another name than the one typed, so
// that the messages after it, which name the device, are not about a port nobody named; "" when
// the names agree (Windows' device namespace and letter case aside).
std::string PortAsOpened(const std::string& typed, const std::string& device) {
  auto upper = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
  };
  const std::string a = upper(typed), b = upper(device);
  if (device.empty() || (b.size() >= a.size() && b.compare(b.size() - a.size(), a.size(), a) == 0))
    return "";
  return typed + " (" + device + "): ";
}

// Opens port on link for probes that leave the deco as it is. False when it cannot be opened.
bool OpenForProbes(protocol::DecoLink& link, const std::string& port) {
  try {
    link.Open(port, protocol::StandbyBaud);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

// What a probe heard, for the advice: characters that are no reply are the deco too, on a poor
// line.
std::string PartNote(protocol::ServiceAnswer answer) {
  return answer == protocol::ServiceAnswer::PartOfAReply
             ? " (part of a reply: the line loses characters)"
             : "";
}

// Where the deco answers reads in service mode, among speeds in order: the first speed whose
// reads were answered; else the first where characters came, which a poor line (or a reply
// come late from another speed) leaves; else none. A port that fails escapes.
struct HeardAt {
  std::string Speed;
  protocol::ServiceAnswer Answer = protocol::ServiceAnswer::None;
};
HeardAt ListenForServiceMode(protocol::DecoLink& link, const std::vector<std::string>& order) {
  HeardAt heard;
  for (const std::string& speed : order) {
    const protocol::ServiceAnswer answer = protocol::AskInServiceAt(link, speed);
    if (answer == protocol::ServiceAnswer::Reply) return {speed, answer};
    if (answer == protocol::ServiceAnswer::PartOfAReply && heard.Speed.empty()) heard = {speed, answer};
  }
  return heard;
}

// The state and speed --auto finds the deco in, listening on the run's own link (so that a trace
// holds it): service mode at the first speed where anything answers a read that changes nothing
// (the one asked for first), else standby, once every probe stayed silent. Nothing the deco can
// hear in standby is sent before the connect. The probes' dialogue is not the job's log.
struct FoundDeco {
  JobOptions Options;
  std::string Evidence;
  bool Sure = true;  // false: the listening failed, so a standby it guessed is not shown
};
FoundDeco FindDeco(const JobOptions& options, protocol::DecoLink& link, ConsoleHost& host) {
  FoundDeco found{options, ""};
  protocol::StatusSink* const sink = link.Sink();
  link.SetStatusSink(nullptr);
  transfer::ScopeExit restoreSink([&] { link.SetStatusSink(sink); });
  found.Sure = false;  // until the search has listened
  found.Evidence = "--auto could not listen";
  if (!OpenForProbes(link, options.port)) return found;  // the connect says why
  found.Sure = true;
  std::vector<std::string> order = {options.baud};
  for (const std::string speed : Speeds)
    if (speed != options.baud) order.push_back(speed);
  HeardAt heard;
  try {
    heard = ListenForServiceMode(link, order);
    if (heard.Answer == protocol::ServiceAnswer::Reply) {
      found.Options.service = true;
      found.Options.baud = heard.Speed;
      found.Evidence = "--auto's reads at " + heard.Speed + " baud were answered";
      host.Tell("--auto: the deco answers in service mode at " + heard.Speed +
                " baud: connecting there");
      return found;
    }
  } catch (const std::exception& failure) {
    host.Tell(std::string("--auto: the port failed while listening: ") + failure.what());
    found.Evidence = "--auto could not listen";
    found.Sure = false;
    return found;
  }
  if (heard.Answer == protocol::ServiceAnswer::PartOfAReply) {
    // Not silence: a deco in standby answers no read, so the characters are the deco in service
    // mode on a poor line.
    found.Options.service = true;
    found.Options.baud = heard.Speed;
    found.Evidence = "--auto heard characters at " + heard.Speed + " baud, though no reply twice";
    host.Tell("--auto: characters came at " + heard.Speed + " baud, though no read there was "
              "answered twice: connecting there in service mode");
    return found;
  }
  found.Options.service = false;
  found.Evidence = "every --auto read at every speed stayed silent";
  host.Tell("--auto: no answer in service mode at any speed: connecting from standby");
  return found;
}

// Records the run's line in the trace options name, from the first byte on.
bool TraceLine(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
               std::string& error) {
  try {
    auto trace = std::make_shared<serial::LineTrace>(options.traceFile,
                                                     std::string("pyrelink-cli ") + PyrelinkVersion);
    link.TraceTo(trace);
    host.TraceTo(trace);
  } catch (const std::exception& failure) {
    error = failure.what();
    host.Tell(error);
    return false;
  }
  std::string command;
  for (const std::string& argument : options.commandLine)
    command += (command.empty() ? "" : " ") + argument;
  link.Mark("job", command);
  return true;
}

// What a connect that heard the deco and then failed tells: what came, and what the run did.
std::string HeardThenFailed(const protocol::DecoFacts& deco, const transfer::ConnectResult& connect) {
  const std::string heard = deco.Model.empty() ? "part of a reply" : "its model, " + deco.Model;
  return "the deco answered (" + heard + ") and then a reply was lost or cut short" +
         (connect.ExitSent ? "; this run sent it the exit back to standby (\"100\")" : "") +
         "; check the cable and run the command again";
}

}  // namespace

std::string DiagnoseSilentDeco(protocol::DecoLink& link, const std::string& port,
                               const std::string& baud, bool service) {
  protocol::StatusSink* const sink = link.Sink();
  link.SetStatusSink(nullptr);
  transfer::ScopeExit restoreSink([&] { link.SetStatusSink(sink); });
  if (!OpenForProbes(link, port)) return "";
  // The connect's own try may have lost one reply: the speed it tried is listened at too.
  try {
    const HeardAt heard =
        ListenForServiceMode(link, std::vector<std::string>(std::begin(Speeds), std::end(Speeds)));
    if (heard.Answer != protocol::ServiceAnswer::None) {
      const std::string where =
          "the deco answers in service mode at " + heard.Speed + PartNote(heard.Answer);
      if (service && heard.Speed == baud)
        return where + ", as the options say: the line lost a reply; check the cable and run the "
                       "command again";
      return where + ": " + (service ? "use --baud " : "add --service --baud ") + heard.Speed;
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

bool ConnectFromCli(protocol::DecoLink& link, JobOptions& options, ConsoleHost& host,
                    protocol::StopToken stop, std::string& error,
                    protocol::DecoFacts& deco) {
  if (!options.traceFile.empty() && !TraceLine(link, options, host, error)) return false;
  FoundDeco found{options, options.service ? "--service says so" : "no --service: standby"};
  if (options.autoConnect) {
    if (stop.Requested()) {
      // No search, no guess: Ctrl-C before --auto listened.
      host.Tell("interrupted before --auto listened");
      return false;
    }
    found = FindDeco(options, link, host);
    options = found.Options;
  }
  const transfer::ConnectResult connect =
      transfer::ConnectDeco(link, options.port, options.baud, !options.service,
                            transfer::ExitLines::WhenDecoAnswered, found.Evidence, found.Sure);
  deco = connect.Deco;
  const transfer::ConnectError& failure = connect.Error;
  if (connect.Connected) {
    host.AddLogLine("OK");
    if (!stop.Requested() && !StartInStep(link, host, error)) {
      DisconnectFromCli(link, options, host, ExitJobFailed);
      return false;
    }
    // A deco already in service mode answers the switch to its own speed plainly, which the
    // dialogue judges wrong; the initialisation it then answered shows the line works.
    if (deco.SwitchAnsweredInService)
      host.Tell("the speed switch's \"ERROR!\" is the answer of a deco already in service mode: "
                "it answered the initialisation at " + options.baud +
                " baud, so the switch went through");
    return true;
  }
  error = "connect failed: " + PortAsOpened(options.port, failure.Device) + failure.Text;
  host.Tell(error);
  std::string hint = AccessHint(failure.Code, failure.Device.empty() ? options.port : failure.Device);
  if (!hint.empty()) host.Tell(hint);
  std::string advice;
  if (deco.Answered) {
    // Nothing to search for: the deco was heard where the options say.
    advice = HeardThenFailed(deco, connect);
  } else if (failure.Code == serial::ErrTimeout && options.autoConnect) {
    // --auto listened at every speed already.
    advice = options.service
                 ? "the deco answered --auto's read at " + options.baud +
                       " baud, then nothing of the connect: the line lost replies; check the "
                       "cable and run the command again"
                 : "no answer in service mode at any speed, nor from standby: check the cable, "
                   "the port and that the deco is powered";
  } else if (failure.Code == serial::ErrTimeout && !stop.Requested()) {
    host.Tell("the deco did not answer: listening at the other speeds ...");
    advice = DiagnoseSilentDeco(link, options.port, options.baud, options.service);
  }
  if (!advice.empty()) {
    host.Tell(advice);
    error += "; " + advice;
  }
  if (options.service && connect.PortOpened)
    host.Tell("the deco was not asked to leave service mode, where it was said or found to be: "
              "one in service mode stays there, as it was");
  return false;
}

bool ConnectOneDeco(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
                    protocol::StopToken stop, JobOptions& run, protocol::DecoFacts& deco) {
  link.SetReadPolicy(protocol::ReadPolicy{options.retries, false});
  run = options;
  std::string error;
  return ConnectFromCli(link, run, host, stop, error, deco);
}

int DisconnectFromCli(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
                      int result) {
  transfer::AskLostDeco(link);
  try {
    if (!transfer::EndSession(link)) TellLeftInServiceMode(host, options, link.Record().Read());
  } catch (const std::exception& failure) {
    host.Tell(std::string("disconnect failed: ") + failure.what());
    if (result == ExitDone) result = ExitJobFailed;
  }
  TellIfStateUnknown(host, link.Record().Read());
  return result;
}

void TellLeftInServiceMode(ConsoleHost& host, const JobOptions& options,
                           const protocol::DecoFindings& deco) {
  if (deco.Now == protocol::DecoMode::Unknown) return;  // TellIfStateUnknown says what is known
  host.Tell("the deco stays in service mode (-SE-) at " + options.baud + " baud: " +
            transfer::MayLeaveServiceMode(deco).Why);
  host.Tell("go on with --service --baud " + options.baud +
            "; to send it to standby once you know its flash is whole: pyrelink-cli --port " +
            Quoted(options.port) + " --service --baud " + options.baud + " standby");
}

void TellIfStateUnknown(ConsoleHost& host, const protocol::DecoFindings& deco) {
  // Without a why the run never reached the deco.
  if (deco.Now != protocol::DecoMode::Unknown || deco.NowWhy.empty()) return;
  host.Tell("this run does not know what the deco is in now (" + deco.NowWhy +
            "): go on with --auto, which finds out");
}

std::string ConnectOptionsNow(const JobOptions& options, const protocol::DecoFindings& deco) {
  switch (deco.Now) {
    case protocol::DecoMode::ServiceMode:
      return " --service --baud " + options.baud;
    case protocol::DecoMode::Standby:
      return " --baud " + options.baud;
    case protocol::DecoMode::Unknown:
      break;
  }
  return " --auto --baud " + options.baud;
}

}  // namespace cli

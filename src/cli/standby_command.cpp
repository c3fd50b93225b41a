#include "cli/standby_command.h"

#include "cli/cli_connect.h"
#include "transfer/connection.h"

namespace cli {

int StandbyCommand(const JobOptions& options, ConsoleHost& host, protocol::StopToken stop) {
  if (!options.service && !options.autoConnect) {
    host.Tell("standby sends a deco in service mode back to standby: add --service (or --auto)");
    return ExitUsage;
  }
  host.Tell(std::string("standby: ") + transfer::HalfWrittenFlashRisk);
  if (!host.Confirm("Send the deco to standby?")) {
    host.Tell("nothing was sent: the deco stays as it is");
    return ExitJobFailed;
  }
  protocol::DecoLink link(&host, RunClock(options));
  JobOptions run;  // as the connect found the deco
  protocol::DecoFacts deco;
  if (!ConnectOneDeco(link, options, host, stop, run, deco)) return ExitJobFailed;
  int result = ExitDone;
  try {
    transfer::EndSession(link, transfer::ExitBy::UserAsked);
  } catch (const std::exception& failure) {
    host.Tell(std::string("the exit to standby failed: ") + failure.what());
    result = ExitJobFailed;
  }
  const protocol::DecoFindings now = link.Record().Read();
  if (now.Now != protocol::DecoMode::Standby) result = ExitJobFailed;
  TellIfStateUnknown(host, now);
  return result;
}

}  // namespace cli

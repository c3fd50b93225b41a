// The command line's Disconnect: sends a deco in service mode back to standby on the user's word,
// after saying what that risks for a flash a WRITE left half written.
#pragma once

#include "cli/cli_job.h"
#include "cli/console_host.h"
#include "protocol/stop_token.h"

namespace cli {

// Connects to the deco in service mode (--service or --auto), asks unless --yes, and sends the
// exit; exit 0 only when the deco confirmed.
int StandbyCommand(const JobOptions& options, ConsoleHost& host, protocol::StopToken stop);

}  // namespace cli

// The command line's Disconnect: sends a deco in service mode back to standby on the user's word,
// after saying what that risks for a flash a WRITE left half written.
#pragma once

#include "cli/cli_job.h"
#include "cli/console_host.h"
#include "protocol/stop_token.h"

namespace cli {

// What a deco with a half-written flash risks in standby; told before the question.
inline constexpr const char* StandbyRisk =
    "a deco whose flash a WRITE left half written may not start again from standby, nor come "
    "back to service mode: send it there only when its flash is whole (a firmware WRITE whose "
    "final check passed, or a verify --firmware that found it equal)";

// Connects to the deco in service mode (--service or --auto), asks unless --yes, and sends the
// exit; exit 0 only when the deco confirmed.
int StandbyCommand(const JobOptions& options, ConsoleHost& host, protocol::StopToken stop);

}  // namespace cli

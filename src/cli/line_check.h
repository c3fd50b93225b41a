// The check of a cable and adapter before a long WRITE: the EEPROM of the deco read again and
// again, nothing written, and what the line did with those replies.
#pragma once

#include <atomic>

#include "cli/cli_job.h"
#include "cli/console_host.h"
#include "protocol/stop_token.h"

namespace cli {

inline constexpr int DefaultLineCheckReads = 10;

// Connects as options say, reads the EEPROM reads times and tells the reply time (median and
// worst, beside what the wire alone needs), the reads repeated and failed, and the characters per
// second against the wire's, and every byte that a read gave otherwise than the first; then
// returns the deco to standby. 0 when every read was answered well the first time and equal to
// the first, 1 when one was repeated, failed or differed, 130 after Ctrl-C.
int LineCheck(const JobOptions& options, int reads, ConsoleHost& host,
              protocol::StopToken stop);

}  // namespace cli

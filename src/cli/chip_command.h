// What the deco's two flash chips are, told to a technician: the `chip` command, and the choice
// of a WRITE's fast programming.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "cli/cli_job.h"
#include "cli/console_host.h"
#include "protocol/deco_link.h"
#include "protocol/flash_chips.h"
#include "protocol/stop_token.h"

namespace cli {

// Both chips' codes, how the upper chip's high byte is wired, and the part they are with whether
// it offers unlock bypass.
std::vector<std::string> ChipLines(const protocol::FlashChips& chips);

// Connects, identifies the chips, prints them and disconnects; the memory is not changed.
int ChipCommand(const JobOptions& options, ConsoleHost& host,
                protocol::StopToken stop);

// For a WRITE with fast programming asked for (or told verbosely): identifies the chips, logs
// them, and answers whether the words may be programmed in unlock bypass.
bool ChooseFastProgram(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
                       protocol::FlashChips& chips);

}  // namespace cli

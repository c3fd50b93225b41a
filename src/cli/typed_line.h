// Reading the answer to a question at the terminal so that Ctrl-C ends the wait: a read blocked
// in the system would otherwise be taken up again after the signal.
#pragma once

#include <string>

#include "protocol/stop_token.h"

namespace cli {

// Reads one line typed on stdin into line (without its end); false at the input's end, on an
// error, or as soon as stop is requested.
bool ReadTypedLine(std::string& line, protocol::StopToken stop);

}  // namespace cli

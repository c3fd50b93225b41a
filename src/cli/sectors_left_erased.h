// Sectors 0-2 hold the erase and the zero words, not the image's bytes: a technician who compares
// the image with a read-back sees them differ beside a passed final check, so the run says so
// and how to compare by the write's rule.
#pragma once

#include <vector>

#include "cli/console_host.h"
#include "transfer/job_results.h"

namespace cli {

// Logs the sectors below the first programmed one that the passes wrote where the image holds
// other bytes than the write leaves; nothing when there are none or an image cannot be read now.
void TellSectorsLeftErased(const std::vector<transfer::WritePass>& passes, ConsoleHost& host);

}  // namespace cli

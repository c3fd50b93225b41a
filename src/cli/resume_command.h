// What a READ that did not finish tells to go on with its flash dump.
#pragma once

#include <string>

#include "cli/cli_job.h"
#include "protocol/deco_record.h"
#include "transfer/job_plan.h"

namespace cli {

// The command that resumes the READ of options on the same deco: the memories it did not read
// in full (complete's check boxes), with --resume and the READ's own options, connecting as the
// deco is now (deco): --auto where the run does not know.
std::string ResumeReadCommand(const JobOptions& options, const transfer::JobSelection& complete,
                              const protocol::DecoFindings& deco);

}  // namespace cli

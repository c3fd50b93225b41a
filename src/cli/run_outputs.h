// The files a run writes besides the deco's dumps (its report, a WRITE's read-back and merged
// image, the dumps' checksums); the first ones checked before anything is sent: one that cannot be written would otherwise fail the
// run after the deco's work is done.
#pragma once

#include <string>

#include "cli/cli_job.h"
#include "cli/console_host.h"
#include "transfer/job_plan.h"

namespace cli {

// Why the report cannot be written there ("" when it can): tried before the deco is touched.
std::string ReportRefusal(const std::string& reportFile);

// Whether the run's report and a WRITE's own files can be written; on failure tells why, puts
// it in error, and answers false.
bool CheckRunOutputs(const JobOptions& options, const transfer::RunNames& names, ConsoleHost& host,
                     std::string& error);

// FILE.sha256 beside each dump, in the form `sha256sum -c` reads in the dump's folder.
void WriteChecksums(const transfer::JobSelection& selection, ConsoleHost& host);

}  // namespace cli

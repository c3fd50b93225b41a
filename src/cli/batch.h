// The same READ or WRITE on several decos at once: one thread per port, each with its own
// engine context, line prefix, files and record, and a summary table at the end.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_job.h"
#include "protocol/stop_token.h"

namespace cli {

// What stands for the port's name in file names.
inline constexpr const char* PortPlaceholder = "{port}";

// The port's name made safe for a file name: without a leading "/dev/" (a stable name under
// /dev/serial by its last part alone), every character outside [A-Za-z0-9._-] a "-", no leading
// "-" or ".", at most 64 characters ("/dev/pts/3" gives "pts-3", "COM3" stays "COM3").
std::string PortFileName(const std::string& port);
// name with every {port} replaced by the port's file name.
std::string ExpandPort(const std::string& name, const std::string& port);
// Expands {port} for options.port in the memories' files, the log and the report.
void ExpandPortInNames(JobOptions& options);

// Why the options cannot serve several ports ("" when they can): the READ's dumps, the log and
// the report need {port} in their names, and nobody can answer questions for many decos.
std::string BatchRefusal(const JobOptions& options, const std::vector<std::string>& ports,
                         bool assumeYes);

// Runs the job on every port; 0 only when every port's job succeeded, 130 after Ctrl-C.
int RunBatch(const JobOptions& options, const std::vector<std::string>& ports,
             protocol::StopToken stop, std::FILE* out = stdout,
             std::FILE* err = stderr);

}  // namespace cli

// The commands a job prints for the technician to run next ("write again with: ...", "resume the
// READ with: ...", and the diagnosis's "add --service --baud N", "use --baud N", "leave out
// --service" applied to the command that failed), turned into arguments as a shell turns them,
// and the command line's job options parsed from them for an in-process run.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_job.h"

namespace testing_support {

// The follow-up a job's messages give: the arguments after "pyrelink-cli", the line that gave
// them, and why they could not be made ("" when they could). None: Line empty.
struct FollowUp {
  std::string Line;
  std::vector<std::string> Arguments;
  std::string Error;
};

// The last follow-up said in messages; previous is the command that said it, which the
// diagnosis's advice changes.
FollowUp PrintedFollowUp(const std::string& messages, const std::vector<std::string>& previous);

// What the job of arguments runs on, for the in-process run: the subcommand (read, write,
// verify or chip) and its options as pyrelink-cli takes them; error says what cannot be run.
struct ParsedJob {
  std::string Subcommand;
  cli::JobOptions Options;
  std::string Error;
};
ParsedJob ParseJob(const std::vector<std::string>& arguments);

// Runs the real pyrelink-cli (cli) with arguments, its port replaced by one that does not
// exist, in a copy of folder's files: the command must get through its parsing and the checks
// before the connect, and fail at the connect. "" when it did, else what it said.
std::string RealCliRefusal(const std::string& cli, const std::vector<std::string>& arguments,
                           const std::string& folder);

// arguments as one line a shell takes, for messages.
std::string CommandText(const std::vector<std::string>& arguments);

}  // namespace testing_support

// What a WRITE that did not finish tells about the deco it left in service mode: what it
// changed, and the command that writes it again.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_job.h"
#include "protocol/deco_record.h"
#include "transfer/job_results.h"

namespace cli {

// text as one word of a shell command, whatever it holds: quoted unless every character is one
// no shell gives a meaning of its own.
std::string Quoted(const std::string& text);

// The command that writes the same files again into a deco that is still in service mode. It
// runs without questions (a script has no terminal to answer them) and by Different blocks, so
// that a long WRITE goes on from what is already in the flash instead of starting over; it
// leaves out the memories already verified, and keeps every option of the job that still
// applies to what is left. It connects as the deco is now (deco): --auto where the run does not
// know.
std::string WriteAgainCommand(const JobOptions& options,
                              const transfer::VerifiedMemories& verified,
                              const protocol::DecoFindings& deco);

}  // namespace cli

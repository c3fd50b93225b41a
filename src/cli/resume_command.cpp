#include "cli/resume_command.h"

#include "cli/cli_connect.h"
#include "cli/write_again.h"
#include "transfer/memories.h"

namespace cli {

std::string ResumeReadCommand(const JobOptions& options, const transfer::JobSelection& complete,
                              const protocol::DecoFindings& deco) {
  const transfer::JobSelection& s = options.selection;
  // An --auto run's resume finds the deco again, as the run did.
  std::string command = "pyrelink-cli --port " + Quoted(options.port);
  command += options.autoConnect ? " --auto --baud " + options.baud : ConnectOptionsNow(options, deco);
  if (options.retries != JobOptions{}.retries)
    command += " --retries " + std::to_string(options.retries);
  if (!options.logFile.empty()) command += " --log " + Quoted(options.logFile);
  command += " read";
  for (const transfer::Memory& memory : transfer::Memories) {
    if (s.*memory.Ticked && !(complete.*memory.Ticked))
      command += std::string(" --") + memory.Name + " " + Quoted(s.*memory.File);
  }
  if (options.doubleRead) command += " --double-read";
  if (options.checksums) command += " --checksums";
  return command + " --resume --yes";
}

}  // namespace cli

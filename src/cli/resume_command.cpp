#include "cli/resume_command.h"

#include "cli/write_again.h"
#include "transfer/memories.h"

namespace cli {

std::string ResumeReadCommand(const JobOptions& options, const transfer::JobSelection& complete) {
  const transfer::JobSelection& s = options.selection;
  // A READ leaves the deco in service mode only when it was found there.
  std::string command = "pyrelink-cli --port " + Quoted(options.port);
  if (options.autoConnect) command += " --auto";
  if (options.service && !options.autoConnect) command += " --service";
  command += " --baud " + options.baud;
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

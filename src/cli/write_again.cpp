#include "cli/write_again.h"

#include "cli/cli_connect.h"
#include "protocol/hex_codec.h"
#include "transfer/final_check.h"
#include "transfer/memories.h"

namespace cli {

std::string Quoted(const std::string& text) {
  // Names of these characters alone mean the same to every shell.
  constexpr const char* Plain =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.,/:=+@";
  if (!text.empty() && text.find_first_not_of(Plain) == std::string::npos) return text;
#ifdef _WIN32
  // Windows forbids " in a file name: double quotes keep everything else as it is.
  return "\"" + text + "\"";
#else
  // Inside single quotes nothing is special but the quote itself, which ends, is escaped, and
  // begins them again.
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

namespace {

// The memories of the job that are still to be written. When every one is verified (a stop
// that came after the final check), all of them: a WRITE names at least one.
std::vector<const transfer::Memory*> LeftToWrite(const transfer::JobSelection& selection,
                                                 const transfer::VerifiedMemories& verified) {
  std::vector<const transfer::Memory*> ticked, left;
  for (const transfer::Memory& memory : transfer::Memories) {
    if (!(selection.*memory.Ticked)) continue;
    ticked.push_back(&memory);
    if (!(memory.InFlash ? verified.Flash : verified.Eeprom)) left.push_back(&memory);
  }
  return left.empty() ? ticked : left;
}

}  // namespace

std::string WriteAgainCommand(const JobOptions& options,
                              const transfer::VerifiedMemories& verified,
                              const protocol::DecoFindings& deco) {
  const transfer::JobSelection& s = options.selection;
  const std::vector<const transfer::Memory*> left = LeftToWrite(s, verified);
  bool flashLeft = false;
  for (const transfer::Memory* memory : left) flashLeft |= memory->InFlash;

  // The run's own options go before the subcommand, as in the usage; --report stays out, for
  // the next run's report would replace the one that tells what this run did.
  std::string command = "pyrelink-cli --port " + Quoted(options.port);
  if (options.retries != JobOptions().retries)
    command += " --retries " + std::to_string(options.retries);
  if (!options.logFile.empty()) command += " --log " + Quoted(options.logFile);
  if (options.verbose) command += " --verbose";
  command += ConnectOptionsNow(options, deco) + " write";
  for (const transfer::Memory* memory : left)
    command += std::string(" --") + memory->Name + " " + Quoted(s.*memory->File);
  // The flash's options apply while flash is left to write; they need the final check after a
  // WRITE by Different blocks, so --no-final-check stays only without them.
  const bool skipBlankWords = flashLeft && options.skipBlankWords;
  const bool erasePoll = flashLeft && options.erasePoll;
  const bool fastProgram = flashLeft && options.fastProgram;
  if (skipBlankWords) command += " --skip-blank-words";
  if (!options.finalCheck && !skipBlankWords && !erasePoll && !fastProgram)
    command += " --no-final-check";
  // The next try's files go where this run's went; its backup, if any, is of a deco half
  // written, and the first one stays.
  if (!options.workDir.empty()) command += " --work-dir " + Quoted(options.workDir);
  if (!options.backupDir.empty()) command += " --backup-dir " + Quoted(options.backupDir);
  if (!options.backup) command += " --no-backup";
  if (options.backup && options.doubleRead) command += " --double-read";
  if (erasePoll) command += " --erase-poll";
  if (fastProgram) command += " --fast-program";
  return command + " --method diff --yes";
}

}  // namespace cli

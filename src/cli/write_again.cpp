#include "cli/write_again.h"

#include "protocol/hex_codec.h"
#include "transfer/final_check.h"
#include "transfer/memories.h"

namespace cli {

std::string Quoted(const std::string& text) {
  return text.find_first_of(" \t'\"") == std::string::npos ? text : "'" + text + "'";
}

std::string WriteAgainCommand(const JobOptions& options) {
  const transfer::JobSelection& s = options.selection;
  std::string command = "pyrelink-cli --port " + Quoted(options.port) + " --service --baud " +
                        options.baud + " write";
  for (const transfer::Memory& memory : transfer::Memories) {
    if (s.*memory.Ticked)
      command += std::string(" --") + memory.Name + " " + Quoted(s.*memory.File);
  }
  if (options.erasePoll) command += " --erase-poll";
  if (options.fastProgram) command += " --fast-program";
  return command + " --method diff --yes";
}

std::string WhatWasWritten(const std::vector<transfer::WritePass>& passes) {
  std::vector<int> erased, written;
  uint32_t stoppedAt = 0;
  for (const transfer::WritePass& pass : passes) {
    erased.insert(erased.end(), pass.Erased.begin(), pass.Erased.end());
    written.insert(written.end(), pass.Sectors.begin(), pass.Sectors.end());
    if (!pass.Complete) stoppedAt = pass.StoppedAt;
  }
  if (erased.empty()) return "no flash sector was erased";
  std::string text = "sector(s) " + transfer::SectorNumbers(erased) + " erased, " +
                     (written.empty() ? std::string("none") : transfer::SectorNumbers(written)) +
                     " written in full";
  if (stoppedAt) text += "; the WRITE stopped at " + protocol::ToHex(stoppedAt, 8);
  return text;
}

}  // namespace cli

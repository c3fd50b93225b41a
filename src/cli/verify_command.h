// `verify`: compares the deco with image files without writing anything, by the rule of a WRITE's
// final check, and lists what differs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_job.h"
#include "cli/console_host.h"
#include "protocol/stop_token.h"

namespace cli {

// The words of one flash sector that differ from what a WRITE of the image leaves there.
struct SectorDifference {
  int Sector = 0;
  uint32_t Words = 0;                 // how many differ
  std::vector<std::string> Examples;  // the first few: "7FE10010: deco 12345678, file 00000000"
  // Below sector 3: the deco holds the image's own bytes there, as a deco no WRITE wrote does.
  bool HoldsImageAsItIs = false;
};

// Lines that name each differing sector and its words, as `verify` prints them.
std::vector<std::string> DifferenceLines(const std::string& file,
                                         const std::vector<SectorDifference>& differences);

// Connects, reads every sector each flash file covers and the EEPROM when given, compares them
// with the files and disconnects. 0 only when all are equal; 1 when something differs or the
// deco could not be read; 2 for a file that cannot be compared; 3 (ExitLineTrouble) when a read
// that differs never read the same twice and nothing else differs; 130 on Ctrl-C. A read that
// differs is read again: a difference counts only when two reads agree on it.
int VerifyCommand(const JobOptions& options, ConsoleHost& host, protocol::StopToken stop);

}  // namespace cli

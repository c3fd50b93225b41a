// What the deco holds after a WRITE, read back and compared with what the write promised to put
// there. The worker runs it at the end of every WRITE, for the window and the command line; the
// offline diff compares by the same rule.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <vector>

#include "protocol/deco_link.h"
#include "protocol/stop_token.h"
#include "transfer/job_plan.h"
#include "transfer/job_results.h"

namespace transfer {

// The image's bytes of sector s; EFileError when the image does not hold all of them.
std::string ImageSector(std::istream& image, const std::string& imageFile, int s);
// The bytes a write of the image leaves in sector s: from the first programmed sector on, the
// image's; below it, an erased sector, with the zero words at the start of sector 0.
std::string SectorAsWritten(std::istream& image, const std::string& imageFile, int s);
// Hears of the bytes a reading has got through so far, for a progress bar.
using BytesRead = std::function<void(uint64_t bytes)>;

// The sectors among `sectors` whose flash differs from what a write of imageFile leaves there,
// and the first differing word of each. A stop request ends the reading at the next block;
// stopped then tells so. A sector found different is read no further: progress then counts its
// rest as passed.
std::vector<int> SectorsDifferingFromWrite(protocol::DecoLink& link, const std::string& imageFile,
                                           const std::vector<int>& sectors,
                                           protocol::StopToken stop, bool& stopped,
                                           const BytesRead& progress = {},
                                           std::vector<DifferingWord>* firstWords = nullptr);
// Whether the EEPROM holds the first 2 KB of eepromFile. A stop request ends the reading at the
// next line; stopped then tells so (and the answer means nothing).
bool EepromHolds(protocol::DecoLink& link, const std::string& eepromFile, protocol::StopToken stop,
                 bool* stopped = nullptr, const BytesRead& progress = {});

// The bytes the final check reads: the last write pass's sectors when the job wrote flash, the
// EEPROM when it wrote that.
uint64_t FinalCheckBytes(const WritePass& lastPass, const JobSelection& selection);
// Reads back the sectors of the last write pass (none when a comparison already proved it) and
// the EEPROM when the job wrote it; Failed on a difference, Interrupted when stop was asked for
// before it ended. progress counts up to FinalCheckBytes.
FinalCheckResult RunFinalCheck(protocol::DecoLink& link, const WritePass& lastPass,
                               const JobSelection& selection, protocol::StopToken stop,
                               const BytesRead& progress = {});
// What the check found, as "Final check: ..." log lines: a line for each memory whose reading
// ended (a stop during the EEPROM's leaves the flash's verdict standing).
std::vector<std::string> FinalCheckLines(const FinalCheckResult& result, const WritePass& lastPass,
                                         const JobSelection& selection);
// The words that say which sectors differ, for the job's error text.
std::string FinalCheckFailure(const FinalCheckResult& result, const JobSelection& selection);
// What the flash passes of a WRITE changed, for the message of one that did not finish.
std::string WhatWasWritten(const std::vector<WritePass>& passes);
// "3 4 5" for sectors 3, 4 and 5.
std::string SectorNumbers(const std::vector<int>& sectors);

}  // namespace transfer

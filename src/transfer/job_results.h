// What a job did, as values: its flash write passes, as they happened, and its final check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/deco_link.h"

namespace transfer {

struct SectorErase {
  int Sector = 0;
  uint32_t Ms = 0;  // from the erase command until the sector read as erased
  bool operator==(const SectorErase&) const = default;
};

// One flash write pass: the image it wrote from, the sectors it erased and those it wrote in
// full, each recorded when it happened, so that a pass cut short still says what it changed.
struct WritePass {
  std::string ImageFile;
  std::vector<int> Erased;
  std::vector<int> Sectors;  // erased and written in full
  bool Complete = false;
  // Where an unfinished pass stopped: the flash address of the next word it would have
  // programmed, or the sector it would have erased.
  uint32_t StoppedAt = 0;
  // How long each erase took, when the write waited for it by reading.
  std::vector<SectorErase> EraseTimes;
};

// The reading back, after a WRITE, of what it wrote last, and of the EEPROM.
struct FinalCheckResult {
  std::string Result = "not run";  // passed, failed, interrupted, skipped, not run
  std::vector<int> CheckedSectors;
  std::vector<int> DifferingSectors;
  bool EepromChecked = false;
  bool EepromEqual = false;
};

// What the worker did, as values: whole once the worker has ended.
struct JobResult {
  // The text of the error that ended the job; empty when none did.
  std::string ErrorText;
  // Why the job did less than it promises (a sector skipped, a write that could not start, a
  // comparison that covered only part of the image); empty when it did every step.
  std::string Shortfall;
  // Every flash write pass, in order (the last one may be unfinished).
  std::vector<WritePass> Passes;
  // The differing sectors of every comparison of the image with the flash.
  std::vector<std::vector<int>> Comparisons;
  // Whether a comparison followed the last write pass (and so proved it).
  bool ComparedSinceLastPass = false;
  FinalCheckResult FinalCheck;
  uint64_t SkippedBlankWords = 0;
  // Words programmed in unlock bypass; and whether a sector so written did not hold, so that
  // the rest was written the usual way.
  uint64_t FastProgrammedWords = 0;
  bool FastProgramFellBack = false;
  // What the link's block reads needed beyond one read a block, up to the job's end.
  protocol::ReadCounters Reads;

  // The last complete write pass that no comparison proved since; no sectors when none.
  WritePass LastWritePass() const;
};

}  // namespace transfer

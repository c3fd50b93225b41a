// Which sectors a flash write erases and programs, and why one is left out: a pure function of
// the sectors asked for, the job's flash size, the model and the image's length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/flash_map.h"

namespace transfer {

struct SectorPlan {
  std::vector<int> Sectors;  // to erase and write, in order
  // One log line per sector left out: "Block 4 skipped: Fw.bin does not cover it fully."
  std::vector<std::string> Skipped;
  // The words the line programs in the planned sectors (below sector 3 a write only erases):
  // the write's progress counts line work, so that its time left is right from the start.
  uint64_t Words = 0;
};

// wanted: the sectors asked for (all of them, or those a comparison found different).
// blockCount: the job's flash blocks (the channel list ends at sector 6). A protected model's
// sector 18 is never written. A sector is written only when the image holds all of it: an erased
// sector that cannot be programmed back from the file would be lost.
SectorPlan PlanSectors(const protocol::SectorFlags& wanted, int32_t blockCount,
                       bool block18Protected, const std::string& imageFile, int64_t imageBytes);

// The planned words that are not blank (FFFFFFFF) in the image: what a write that leaves blank
// words to the erase programs. Counts them all when the image cannot be read.
uint64_t NonBlankWords(const SectorPlan& plan, const std::string& imageFile);

}  // namespace transfer

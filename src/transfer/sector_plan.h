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
  uint64_t Words = 0;  // the words of the planned sectors, for the write's progress
};

// wanted: the sectors asked for (all of them, or those a comparison found different).
// blockCount: the job's flash blocks (the channel list ends at sector 6). A protected model's
// sector 18 is never written. A sector is written only when the image holds all of it: an erased
// sector that cannot be programmed back from the file would be lost.
SectorPlan PlanSectors(const protocol::SectorFlags& wanted, int32_t blockCount,
                       bool block18Protected, const std::string& imageFile, int64_t imageBytes);

}  // namespace transfer

#include "transfer/sector_plan.h"

#include "protocol/image_files.h"
#include "transfer/job_plan.h"

namespace transfer {

SectorPlan PlanSectors(const protocol::SectorFlags& wanted, int32_t blockCount,
                       bool block18Protected, const std::string& imageFile, int64_t imageBytes) {
  SectorPlan plan;
  int last = blockCount == ChannelBlocks
                 ? protocol::LastChannelSector
                 : (block18Protected ? protocol::ProtectedSector - 1 : protocol::ProtectedSector);
  for (int s = 0; s <= last; ++s) {
    if (!wanted[static_cast<size_t>(s)]) continue;
    int64_t sectorEnd = protocol::SectorBase[static_cast<size_t>(s) + 1] - protocol::FlashBase;
    if (imageBytes < sectorEnd) {
      plan.Skipped.push_back("Block " + std::to_string(s) + " skipped: " +
                             protocol::BareFileName(imageFile) + " does not cover it fully.");
      continue;
    }
    plan.Sectors.push_back(s);
    plan.Words += protocol::SectorSize(s) / 4;
  }
  return plan;
}

}  // namespace transfer

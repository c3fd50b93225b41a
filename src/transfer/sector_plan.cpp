#include "transfer/sector_plan.h"

#include <algorithm>
#include <fstream>
#include <vector>

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
    if (s >= protocol::FirstProgrammedSector) plan.Words += protocol::SectorSize(s) / 4;
  }
  return plan;
}

uint64_t NonBlankWords(const SectorPlan& plan, const std::string& imageFile) {
  std::ifstream image(imageFile, std::ios::binary);
  if (!image) return plan.Words;
  uint64_t words = 0;
  std::vector<char> sector;
  for (int s : plan.Sectors) {
    if (s < protocol::FirstProgrammedSector) continue;
    sector.resize(protocol::SectorSize(s));
    image.seekg(static_cast<std::streamoff>(protocol::SectorBase[static_cast<size_t>(s)] -
                                            protocol::FlashBase));
    if (!image.read(sector.data(), static_cast<std::streamsize>(sector.size()))) return plan.Words;
    for (size_t w = 0; w < sector.size(); w += 4)
      words += !std::all_of(sector.begin() + static_cast<std::ptrdiff_t>(w),
                            sector.begin() + static_cast<std::ptrdiff_t>(w + 4),
                            [](char b) { return b == '\xFF'; });
  }
  return words;
}

}  // namespace transfer

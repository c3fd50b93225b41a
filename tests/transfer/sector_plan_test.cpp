// Which sectors a flash write erases and programs, and which it leaves out and why.
#include "transfer/sector_plan.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "transfer/job_plan.h"

using namespace transfer;

namespace {
protocol::SectorFlags Wanted(std::initializer_list<int> sectors) {
  protocol::SectorFlags flags{};
  for (int s : sectors) flags[static_cast<size_t>(s)] = 1;
  return flags;
}

protocol::SectorFlags All() {
  protocol::SectorFlags flags;
  flags.fill(1);
  return flags;
}
}  // namespace

TEST(SectorPlanTest, SectorsWordsAndSkips) {
  const int64_t firmware = 2097152, channel = 524288;
  struct Row {
    const char* name;
    protocol::SectorFlags wanted;
    int32_t blockCount;
    bool isProtected;
    int64_t imageBytes;
    std::vector<int> sectors;
    uint64_t words;
    std::vector<std::string> skipped;
  } rows[] = {
      {"firmware",
       All(),
       FirmwareBlocks,
       false,
       firmware,
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18},
       507904,
       {}},
      {"a protected model keeps sector 18",
       All(),
       FirmwareBlocks,
       true,
       firmware,
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17},
       475136,
       {}},
      {"the channel list ends at sector 6",
       All(),
       ChannelBlocks,
       false,
       channel,
       {0, 1, 2, 3, 4, 5, 6},
       114688,
       {}},
      {"differing sectors only",
       Wanted({1, 18}),
       FirmwareBlocks,
       false,
       firmware,
       {1, 18},
       32768,
       {}},
      {"a sector the image does not cover",
       Wanted({3, 4}),
       FirmwareBlocks,
       false,
       0x30000,
       {3},
       16384,
       {"Block 4 skipped: Fw.bin does not cover it fully."}},
      {"the flag beyond the flash is no sector",
       Wanted({19}),
       FirmwareBlocks,
       false,
       firmware,
       {},
       0,
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SectorPlan plan =
        PlanSectors(row.wanted, row.blockCount, row.isProtected, "dir/Fw.bin", row.imageBytes);
    EXPECT_EQ(plan.Sectors, row.sectors);
    EXPECT_EQ(plan.Words, row.words);
    EXPECT_EQ(plan.Skipped, row.skipped);
  }
}

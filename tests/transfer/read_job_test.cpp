// The read job against the simulated deco: files, log lines, progress, stop and failures.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <optional>
#include <random>
#include <regex>

#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "transfer/job_setup.h"
#include "transfer_fixture.h"

using namespace transfer;
using testing_support::AsText;
using testing_support::JobSession;
using testing_support::ReadFile;

namespace {
JobSelection All(const JobSession& session) {
  JobSelection selection;
  selection.Firmware = selection.Eeprom = selection.Channel = true;
  selection.FirmwareFile = session.dir.File("Fw.bin");
  selection.EepromFile = session.dir.File("E.bin");
  selection.ChannelFile = session.dir.File("Ch.bin");
  return selection;
}

size_t FlashReads(const std::vector<std::string>& commands) {
  size_t n = 0;
  for (const auto& c : commands) n += c.rfind("0221FF7FE", 0) == 0 || c.rfind("0221FF7FF", 0) == 0;
  return n;
}
}  // namespace

TEST(ReadJobTest, FirmwareEepromAndChannel) {
  // A deco that ends its replies with CR LF must give the same files: the LF never shifts data.
  for (bool crLf : {false, true}) {
    SCOPED_TRACE(crLf ? "CR LF" : "CR");
    sim::Settings settings = testing_support::InService();
    settings.Fault.CrLfEndings = crLf;
    JobSession session(settings);
    JobSelection selection = All(session);
    JobPlan plan = ReadJobPlan(selection);
    EXPECT_EQ(plan.BlockCount, FirmwareBlocks);
    EXPECT_EQ(session.Run(plan), "");
    EXPECT_EQ(session.host.DoneCount(), 1);
    EXPECT_EQ(session.result.End, JobEnd::Done);
    auto flash = AsText(session.deco.Model().Flash());
    EXPECT_EQ(ReadFile(selection.FirmwareFile), flash);
    EXPECT_EQ(ReadFile(selection.ChannelFile), flash.substr(0, 524288));
    EXPECT_EQ(ReadFile(selection.EepromFile), AsText(session.deco.Model().Eeprom()));
    EXPECT_EQ(session.host.Log(), (std::vector<std::string>{
                                      "Read EEPROM is finished 100% (0 sec.)", "Read FIRMWARE ...",
                                      "Read FIRMWARE ... is finished 100% (0 sec.)",
                                      "CHANNEL is extracted from FIRMWARE. OK!"}));
    auto commands = session.CommandsSinceJobStart();
    ASSERT_EQ(commands.size(), 16u + 8192u);
    EXPECT_EQ(commands[16], "0221FF7FE00000");
    EXPECT_EQ(commands.back(), "0221FF7FFFFF00");
    auto progress = session.host.Progress();
    ASSERT_EQ(progress.size(), 102u);  // 0 .. 100 once each, then the phase's final 100
    for (int i = 0; i <= 100; ++i) EXPECT_EQ(progress[static_cast<size_t>(i)], i);
    EXPECT_EQ(session.host.Colours(), std::vector<uint32_t>{ColourReadJob});
    EXPECT_EQ(session.clock.TotalSleptMs(), 3000u + 3000u);  // speed switch 3, job 2 + 1
    EXPECT_FALSE(session.flashWriteActive);
  }
}

TEST(ReadJobTest, ChannelOnlyAndEepromOnly) {
  JobSession session;
  JobSelection selection;
  selection.Channel = true;
  selection.ChannelFile = session.dir.File("Ch.bin");
  JobPlan plan = ReadJobPlan(selection);
  EXPECT_EQ(plan.BlockCount, ChannelBlocks);
  EXPECT_EQ(session.Run(plan), "");
  EXPECT_EQ(ReadFile(selection.ChannelFile),
            AsText(session.deco.Model().Flash()).substr(0, 524288));
  EXPECT_EQ(
      session.host.Log(),
      (std::vector<std::string>{"Read CHANNEL ...", "Read CHANNEL ... is finished 100% (0 sec.)"}));
  EXPECT_EQ(session.CommandsSinceJobStart().back(), "0221FF7FE7FF00");

  JobSelection eeprom;
  eeprom.Eeprom = true;
  eeprom.EepromFile = session.dir.File("E.bin");
  JobPlan eepromPlan = ReadJobPlan(eeprom);
  EXPECT_EQ(eepromPlan.BlockCount, 0);
  uint64_t slept = session.clock.TotalSleptMs();
  EXPECT_EQ(session.Run(eepromPlan), "");
  EXPECT_EQ(session.clock.TotalSleptMs() - slept, 3000u);
  EXPECT_EQ(session.host.DoneCount(), 2);
}

TEST(ReadJobTest, StopAfterABlockLeavesWholeBlocks) {
  JobSession session;
  JobSelection selection = All(session);
  JobPlan plan = ReadJobPlan(selection);
  session.host.StopWhen = [](const std::string& event) { return event == "progress 3"; };
  EXPECT_EQ(session.Run(plan), "");
  EXPECT_EQ(session.host.DoneCount(), 0);
  EXPECT_EQ(session.result.End, JobEnd::Stopped);
  size_t blocks = FlashReads(session.CommandsSinceJobStart());
  EXPECT_GT(blocks, 0u);
  EXPECT_EQ(static_cast<size_t>(protocol::FileSizeOf(selection.FirmwareFile)), blocks * 256);
  for (const auto& line : session.host.Log())
    EXPECT_EQ(line.find("Read FIRMWARE ... is finished"), std::string::npos) << line;
  EXPECT_EQ(session.host.Log().back(), "Read FIRMWARE ...");
  EXPECT_EQ(session.host.Progress().back(), 3);
  EXPECT_EQ(session.result.ReadInFull.Eeprom, true);
  EXPECT_EQ(session.result.ReadInFull.Firmware, false);
  EXPECT_EQ(session.result.ReadInFull.Channel, false);

  // Resumed: only the blocks the dump lacks are read, after a sample of those it holds again: at
  // least one in 16, and the log says how many.
  plan.ResumeFromBlock = static_cast<int32_t>(blocks);
  session.host.StopWhen = nullptr;
  EXPECT_EQ(session.Run(plan), "");
  EXPECT_EQ(session.result.End, JobEnd::Done);
  size_t sectors = 0;
  for (uint32_t base : protocol::SectorBase) sectors += base - protocol::FlashBase < blocks * 256;
  auto flash = AsText(session.deco.Model().Flash());
  EXPECT_EQ(ReadFile(selection.FirmwareFile), flash);
  EXPECT_EQ(ReadFile(selection.ChannelFile), flash.substr(0, 524288));
  EXPECT_EQ(session.result.ReadInFull.Firmware, true);
  EXPECT_EQ(session.result.ReadInFull.Channel, true);
  const std::regex resumeLine(
      "Resume: Fw\\.bin holds " + std::to_string(blocks) +
      " block\\(s\\); ([0-9]+) of them \\(the first of each of its " + std::to_string(sectors) +
      " sector\\(s\\), the last, and one at random in every 16\\) read the same from the deco\\. "
      "After a WRITE between the two READs, read again without --resume: a sample can miss a "
      "change\\.");
  auto log = session.host.Log();
  std::smatch found;
  auto line = std::find_if(log.begin(), log.end(), [&](const std::string& l) {
    return std::regex_match(l, found, resumeLine);
  });
  ASSERT_NE(line, log.end());
  const size_t compared = std::stoul(found[1]);
  EXPECT_GE(compared, (blocks + 15) / 16);
  EXPECT_EQ(FlashReads(session.CommandsSinceJobStart()), size_t{FirmwareBlocks} - blocks + compared);
}

// A flash changed in the middle of a sector since the dump was left, as a WRITE rewrites part of
// a sector or all of it: whatever blocks the sample draws, one of them is in the change.
TEST(ReadJobTest, ResumeRefusedWhenTheFlashChangedInASector) {
  constexpr size_t KeptBlocks = 2048;  // sectors 0-6
  struct Row {
    const char* name;
    int sector;
    size_t firstBlock;  // of the change, in the sector
    size_t blocks;
  } rows[] = {
      {"sector 0 but its first block", 0, 1, 127},
      {"31 blocks in the middle of sector 3", 3, 100, 31},
      {"half of sector 4, from its 200th block", 4, 200, 256},
      {"sector 6 but its first and last blocks", 6, 1, 510},
  };
  const std::regex refusal(
      "^Cannot resume .*Fw\\.bin: the deco's flash block at (7FE[0-9A-F]{5}) \\(sector ([0-9]+)\\) "
      "differs from the one in the file");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    JobSession session;
    JobSelection selection;
    selection.Firmware = true;
    selection.FirmwareFile = session.dir.File("Fw.bin");
    std::vector<uint8_t> flash = session.deco.Model().Flash();
    const std::string kept = AsText(flash).substr(0, KeptBlocks * 256);
    testing_support::WriteFile(selection.FirmwareFile, kept);
    const size_t from =
        protocol::SectorBase[static_cast<size_t>(row.sector)] - protocol::FlashBase +
        row.firstBlock * 256;
    for (size_t i = from; i < from + row.blocks * 256; ++i) flash[i] ^= 0x5A;
    session.deco.Model().SetFlash(flash);
    JobPlan plan = ReadJobPlan(selection);
    plan.ResumeFromBlock = KeptBlocks;

    const std::string error = session.Run(plan);
    std::smatch named;
    EXPECT_TRUE(session.result.ResumeRefused);
    EXPECT_TRUE(ReadFile(selection.FirmwareFile) == kept) << "the dump was not left as it was";
    if (!std::regex_search(error, named, refusal)) {
      ADD_FAILURE() << "the resume was not refused as it should be: \"" << error << "\"";
      continue;
    }
    const size_t address = std::stoul(named[1], nullptr, 16) - protocol::FlashBase;
    EXPECT_GE(address, from);
    EXPECT_LT(address, from + row.blocks * 256);
    EXPECT_EQ(std::stoi(named[2]), row.sector);
  }
}

// The sample: its first blocks, one in every 16 of each sector, fresh each run; and a change of
// one block is seen where the pick lands on it, and may slip through where it does not.
TEST(ReadJobTest, ResumeSample) {
  constexpr size_t KeptBlocks = 1000;  // sectors 0-4, and 488 blocks of sector 4's 512
  const PickBlock first = [](size_t) { return size_t{0}; };
  std::vector<BlockToCompare> sample = BlocksToCompare(KeptBlocks * 256, first);
  std::vector<size_t> offsets;
  for (const BlockToCompare& block : sample) offsets.push_back(block.Offset / 256);
  // The pick's first in a stretch of 16 is the stretch's first, or the one after the sector's
  // first block, which is compared anyway.
  std::vector<size_t> expected;
  for (int s = 0; s <= 4; ++s) {
    const size_t sectorFirst = (protocol::SectorBase[static_cast<size_t>(s)] - protocol::FlashBase) / 256;
    const size_t end = std::min<size_t>(sectorFirst + protocol::SectorSize(s) / 256, KeptBlocks);
    expected.push_back(sectorFirst);
    for (size_t stretch = sectorFirst; stretch < end; stretch += 16)
      expected.push_back(stretch == sectorFirst ? stretch + 1 : stretch);
  }
  expected.push_back(KeptBlocks - 1);
  EXPECT_EQ(offsets, expected);
  EXPECT_EQ(sample.back().Sector, 4);

  // A fresh random sample each time: two resumes compare other blocks.
  std::random_device seed;
  std::mt19937 engine(seed());
  const PickBlock random = [&](size_t count) {
    return std::uniform_int_distribution<size_t>(0, count - 1)(engine);
  };
  auto offsetsOf = [](const std::vector<BlockToCompare>& blocks) {
    std::vector<size_t> all;
    for (const BlockToCompare& block : blocks) all.push_back(block.Offset);
    return all;
  };
  EXPECT_NE(offsetsOf(BlocksToCompare(KeptBlocks * 256, random)),
            offsetsOf(BlocksToCompare(KeptBlocks * 256, random)));

  // Through the simulated deco: one block changed, the 38th of sector 4 (the 6th of its third
  // stretch of 16).
  JobSession session;
  std::vector<uint8_t> flash = session.deco.Model().Flash();
  const std::string held = AsText(flash).substr(0, KeptBlocks * 256);
  const size_t changed = 512 + 37;
  flash[changed * 256 + 9] ^= 0x01;
  session.deco.Model().SetFlash(flash);
  const PickBlock onTheChange = [](size_t) { return size_t{5}; };
  const std::optional<BlockToCompare> seen =
      FirstDiffering(session.link, held, BlocksToCompare(held.size(), onTheChange));
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->Offset, changed * 256);
  EXPECT_EQ(seen->Sector, 4);
  const PickBlock besideIt = [](size_t) { return size_t{6}; };
  EXPECT_FALSE(FirstDiffering(session.link, held, BlocksToCompare(held.size(), besideIt)));
}

TEST(ReadJobTest, StopDuringEepromReadsOneBlock) {
  JobSession session;
  JobSelection selection = All(session);
  JobPlan plan = ReadJobPlan(selection);
  char threadName[16] = {0};
  session.host.StopWhen = [&](const std::string& event) {
    pthread_getname_np(pthread_self(), threadName, sizeof threadName);  // the worker's own name
    return event.rfind("Read EEPROM is finished", 0) == 0;
  };
  session.Run(plan);
  EXPECT_STREQ(threadName, "KVTIOProgressBa");  // "KVTIOProgressBar" cut to 15 characters
  EXPECT_EQ(FlashReads(session.CommandsSinceJobStart()), 1u);
  EXPECT_EQ(protocol::FileSizeOf(selection.FirmwareFile), 256);
  EXPECT_EQ(session.host.DoneCount(), 0);
}

TEST(ReadJobTest, BadReplyEndsTheJobWithoutStoringIt) {
  sim::Settings settings = testing_support::InService();
  settings.Fault.LowerCaseReplyAt = 11 + 50;  // 11 connect lines, then the 50th block
  JobSession session(settings);
  JobSelection selection;
  selection.Firmware = true;
  selection.FirmwareFile = session.dir.File("Fw.bin");
  JobPlan plan = ReadJobPlan(selection);
  std::string error = session.Run(plan);
  EXPECT_NE(error.find("0221FF7FE03100"), std::string::npos) << error;
  EXPECT_EQ(protocol::FileSizeOf(selection.FirmwareFile), 49 * 256);
  EXPECT_EQ(session.host.Log().back(), "ERROR: " + error);
  EXPECT_EQ(session.host.DoneCount(), 0);
}

TEST(ReadJobTest, DroppedReplyEndsTheJobWithTheErrorLogged) {
  sim::Settings settings = testing_support::InService();
  settings.Fault.DropReplyAt = 11 + 100;
  JobSession session(settings);
  JobSelection selection;
  selection.Channel = true;
  selection.ChannelFile = session.dir.File("Ch.bin");
  JobPlan plan = ReadJobPlan(selection);
  std::string error = session.Run(plan);
  EXPECT_EQ(error, "Communication error 9997: Timeout during operation");
  auto log = session.host.Log();
  EXPECT_EQ(log.back(), "ERROR: Communication error 9997: Timeout during operation");
  for (const auto& line : log) EXPECT_EQ(line.find("is finished"), std::string::npos);
  EXPECT_EQ(session.host.DoneCount(), 0);
  EXPECT_EQ(session.result.End, JobEnd::Failed);
}

TEST(ReadJobTest, UnwritableOutputEndsTheJob) {
  JobSession session;
  JobSelection selection;
  selection.Channel = true;
  selection.ChannelFile = session.dir.File("no/such/folder/Ch.bin");
  JobPlan plan = ReadJobPlan(selection);
  std::string error = session.Run(plan);
  EXPECT_NE(error.find("Cannot create"), std::string::npos);
  EXPECT_TRUE(FlashReads(session.CommandsSinceJobStart()) == 0);
  EXPECT_EQ(session.host.DoneCount(), 0);
}

TEST(ProgressTest, RoundsHalfToEven) {
  EXPECT_EQ(PercentOf(0, 8192), 0);
  EXPECT_EQ(PercentOf(41, 8192), 1);        // 0.50048 rounds up
  EXPECT_EQ(PercentOf(1, 200), 0);          // 0.5 to even: 0
  EXPECT_EQ(PercentOf(3, 200), 2);          // 1.5 to even: 2
  EXPECT_EQ(PercentOf(16384, 131072), 12);  // 12.5 to even: 12
  EXPECT_EQ(PercentOf(8192, 8192), 100);
}

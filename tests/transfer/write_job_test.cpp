// The write job by each method against the simulated deco.
#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/eeprom_transfer.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "protocol/service_mode.h"
#include "transfer/job_setup.h"
#include "transfer_fixture.h"

using namespace transfer;
using testing_support::AsText;
using testing_support::JobSession;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {
constexpr uint32_t Channel = 524288;

std::string NewImage(uint32_t size, int seed) {
  std::string image(size, '\0');
  uint32_t state = static_cast<uint32_t>(seed);
  for (auto& byte : image) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 23);
  }
  return image;
}

// What the flash holds after sectors 0..2 were erased and the 8 zero words programmed.
std::string ErasedStart(std::string image) {
  for (uint32_t i = 0; i < 0x10000; ++i) image[i] = static_cast<char>(0xFF);
  for (uint32_t i = 0; i < 32; ++i) image[i] = 0;
  return image;
}

JobSelection ChannelJob(JobSession& session, const std::string& image) {
  JobSelection selection;
  selection.Channel = true;
  selection.ChannelFile = session.dir.File("Ch.bin");
  WriteFile(selection.ChannelFile, image);
  return selection;
}

JobSelection FirmwareJob(JobSession& session, const std::string& image) {
  JobSelection selection;
  selection.Firmware = true;
  selection.FirmwareFile = session.dir.File("Fw.bin");
  WriteFile(selection.FirmwareFile, image);
  return selection;
}

JobPlan Prepare(JobSession& session, const JobSelection& selection, WriteMethod method) {
  struct Quiet : JobDialogs {
    bool Confirm(const std::string&) override { return true; }
    void Message(const std::string& text) override { ADD_FAILURE() << text; }
    void AddLogLine(const std::string&) override {}
  } dialogs;
  EXPECT_TRUE(CheckWriteFiles(selection, method, session.names, dialogs));
  return WriteJobPlan(selection, method, session.names, dialogs);
}

size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
  size_t n = 0;
  for (const auto& line : lines) n += line.rfind(prefix, 0) == 0;
  return n;
}

// The last flash write command of a job (the final check's reads come after it).
std::string LastWriteCommand(const std::vector<std::string>& commands) {
  for (auto it = commands.rbegin(); it != commands.rend(); ++it)
    if (it->rfind("0220", 0) == 0) return *it;
  return "";
}

bool Logged(const std::vector<std::string>& log, const std::string& line) {
  return std::find(log.begin(), log.end(), line) != log.end();
}

// Where the bar last started again from a lower value (0 when it never did).
size_t LastRestart(const std::vector<int32_t>& progress) {
  size_t i = progress.empty() ? 0 : progress.size() - 1;
  while (i > 0 && progress[i - 1] <= progress[i]) --i;
  return i;
}
}  // namespace

TEST(WriteJobTest, NormalChannelWrite) {
  JobSession session;
  std::string image = NewImage(Channel, 1);
  JobSelection selection = ChannelJob(session, image);
  JobPlan plan = Prepare(session, selection, WriteMethod::Normal);
  EXPECT_EQ(session.Run(plan), "");
  EXPECT_EQ(session.host.DoneCount(), 1);
  std::string flash = AsText(session.deco.Model().Flash());
  EXPECT_EQ(flash.substr(0, Channel), ErasedStart(image));
  EXPECT_EQ(flash.substr(Channel), AsText(sim::DecoModel::PatternFlash()).substr(Channel));
  EXPECT_EQ(session.host.Log(),
            (std::vector<std::string>{
                "Write Ch.bin to deco ...", "Write Ch.bin to deco ... is finished 100% (35 sec.)",
                "Final check ...", "Final check ... is finished 100% (0 sec.)",
                "Final check: sector(s) 0 1 2 3 4 5 6 hold what was written."}));
  EXPECT_EQ(session.host.Colours(), (std::vector<uint32_t>{ColourWrite, ColourReadBack}));
  EXPECT_EQ(session.shortfall, "");
  auto commands = session.CommandsSinceJobStart();
  EXPECT_EQ(Count(commands, "02207FE0155400010080"), 7u);  // seven sector erases
  EXPECT_EQ(commands[5], "02207FE00000000C0030");
  EXPECT_EQ(LastWriteCommand(commands),
            "02207FE7FFFC" + protocol::ToHex(static_cast<uint8_t>(image[Channel - 1]) << 24 |
                                                 static_cast<uint8_t>(image[Channel - 2]) << 16 |
                                                 static_cast<uint8_t>(image[Channel - 3]) << 8 |
                                                 static_cast<uint8_t>(image[Channel - 4]),
                                             8));
  auto progress = session.host.Progress();
  EXPECT_EQ(progress.front(), 0);  // sectors 0-2 are only erased: no line work done yet
  // ... but the time left is told from the first erase on, while the bar stands at 0.
  const auto timesLeft = session.host.TimesLeft();
  ASSERT_FALSE(timesLeft.empty());
  EXPECT_TRUE(std::all_of(progress.begin(), progress.begin() + timesLeft.front().first,
                          [](int32_t step) { return step == 0; }));
  EXPECT_GT(timesLeft.front().second, 0u);
  // The final check's reading moves the bar again from the start, to its own 100.
  const size_t checkStart = LastRestart(progress);
  ASSERT_GE(checkStart, 1u);
  EXPECT_EQ(progress[checkStart - 1], 100);
  EXPECT_LE(progress[checkStart], 1);
  EXPECT_GT(progress.size() - checkStart, 50u);
  EXPECT_EQ(progress.back(), 100);
  EXPECT_FALSE(session.flashWriteActive);
}

// The backup is the only copy of what the deco held: a block of it that needed a retry, and
// every block when asked, is read until two reads agree, so that a two-bit error that parity
// lets through never reaches it.
TEST(WriteJobTest, BackupBlocksAreReadUntilTwoReadsAgree) {
  struct Row {
    const char* name;
    bool garbageFirst;  // a line's first reply is garbage; its retry, after one probe, has the error
    bool doubleRead;
  } rows[] = {
      {"a retried line", true, false},
      {"double read asked", false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    JobSession session;
    const std::string before = AsText(session.deco.Model().Eeprom());
    JobSelection selection;
    selection.Eeprom = true;
    selection.EepromFile = session.dir.File("E.bin");
    WriteFile(selection.EepromFile, NewImage(2048, 3));
    JobPlan plan = Prepare(session, selection, WriteMethod::Normal);
    plan.BackupFolder = session.dir.File("backup");
    plan.BackupDoubleRead = row.doubleRead;
    plan.Reads.Retries = 1;
    // One of the backup's 16 line reads, whose error falls in a data digit, past the echo.
    int corrupt = session.deco.Model().CommandCount() + (row.garbageFirst ? 3 : 1);
    while (corrupt % 16 != 8) ++corrupt;
    sim::Faults faults;
    faults.CorruptReplyAt = corrupt;
    faults.GarbageReplyAt = row.garbageFirst ? corrupt - 2 : 0;
    session.deco.Model().SetFaults(faults);
    EXPECT_EQ(session.Run(plan), "");
    EXPECT_EQ(ReadFile(session.result.BackupFolder + "/eeprom.bin"), before);
    EXPECT_EQ(session.result.Reads.Retries, row.garbageFirst ? 1u : 0u);
  }
}

// A word that ignores programming once is mended by the rewrite, and the final check reads back
// the rewritten sector. (One that ignores it twice fails the final check: the window's and the
// command line's tests show that end to end.)
TEST(WriteJobTest, SafeMethodRewritesOnlyTheWeakSector) {
  sim::Settings settings = testing_support::InService();
  settings.Fault.WeakWordAddress = 0x7FE10010u;  // sector 3
  JobSession session(settings);
  std::string image = ErasedStart(NewImage(Channel, 2));
  JobSelection selection = ChannelJob(session, image);
  JobPlan plan = Prepare(session, selection, WriteMethod::Safe);
  EXPECT_EQ(session.Run(plan), "");
  EXPECT_EQ(AsText(session.deco.Model().Flash()).substr(0, Channel), image);
  auto log = session.host.Log();
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[0], "Write Ch.bin to deco ...");
  EXPECT_EQ(log[2], "Read CHANNEL ...");
  EXPECT_EQ(log[4], "Diff in block(s) 3 ");
  EXPECT_EQ(log[5], "Write Ch.bin to deco ...");
  EXPECT_EQ(log[6], "Write Ch.bin to deco ... is finished 100% (5 sec.)");
  EXPECT_EQ(log[7], "Final check ...");
  EXPECT_EQ(log[9], "Final check: sector(s) 3 hold what was written.");
  EXPECT_EQ(session.host.Colours(),
            (std::vector<uint32_t>{ColourWrite, ColourReadBack, ColourRewrite, ColourReadBack}));
  EXPECT_EQ(protocol::FileSizeOf(session.names.ChannelReadBackName), static_cast<int32_t>(Channel));
  EXPECT_EQ(session.host.DoneCount(), 1);
}

TEST(WriteJobTest, DifferentBlocksWritesOnlyTheDifferingSector) {
  JobSession session;
  std::string image = AsText(session.deco.Model().Flash());
  image[0x9000] = static_cast<char>(image[0x9000] ^ 0x01);  // sector 1
  JobSelection selection = FirmwareJob(session, image);
  JobPlan plan = Prepare(session, selection, WriteMethod::DifferentBlocks);
  EXPECT_EQ(session.Run(plan), "");
  auto log = session.host.Log();
  ASSERT_EQ(log.size(), 8u);
  EXPECT_EQ(log[0], "Read FIRMWARE ...");
  EXPECT_EQ(log[2], "Diff in block(s) 1 ");
  EXPECT_EQ(log[3], "Write Fw.bin to deco ...");
  EXPECT_EQ(log[5], "Final check ...");
  EXPECT_EQ(log[7], "Final check: sector(s) 1 hold what was written.");
  auto progress = session.host.Progress();
  EXPECT_EQ(progress.back(), 100);
  const size_t checkStart = LastRestart(progress);  // the final check's first step
  ASSERT_GE(checkStart, 2u);
  EXPECT_EQ(progress[checkStart - 2], 100);  // the erase of sector 1 alone brings 100
  auto commands = session.CommandsSinceJobStart();
  EXPECT_EQ(Count(commands, "02207FE0155400010080"), 1u);
  EXPECT_EQ(LastWriteCommand(commands), "02207FE08000000C0030");
}

TEST(WriteJobTest, DifferentBlocksEqualImageWritesNothing) {
  JobSession session;
  JobSelection selection = FirmwareJob(session, AsText(session.deco.Model().Flash()));
  JobPlan plan = Prepare(session, selection, WriteMethod::DifferentBlocks);
  EXPECT_EQ(session.Run(plan), "");
  EXPECT_TRUE(Logged(session.host.Log(), "Verifing done. No different bytes found!"));
  EXPECT_EQ(session.host.Log().back(),
            "Final check: no flash sector was written after the last comparison.");
  EXPECT_EQ(Count(session.CommandsSinceJobStart(), "0220"), 0u);
  EXPECT_EQ(session.host.DoneCount(), 1);
}

TEST(WriteJobTest, ProtectedSector18IsNeverWritten) {
  for (bool isProtected : {true, false}) {
    sim::Settings settings = testing_support::InService();
    if (isProtected) settings.Model = sim::ProtectedModel;
    JobSession session(settings);
    EXPECT_EQ(session.learned.Block18Protected, isProtected);
    std::string image = AsText(session.deco.Model().Flash());
    image[0x1E0000] = static_cast<char>(image[0x1E0000] ^ 0x80);
    JobSelection selection = FirmwareJob(session, image);
    JobPlan plan = Prepare(session, selection, WriteMethod::DifferentBlocks);
    EXPECT_EQ(session.Run(plan), "");
    std::string flash = AsText(session.deco.Model().Flash());
    if (isProtected) {
      EXPECT_TRUE(Logged(session.host.Log(), "Verifing done. No different bytes found!"));
      EXPECT_NE(flash, image);
    } else {
      EXPECT_EQ(session.host.Log()[2], "Diff in block(s) 18 ");
      EXPECT_EQ(flash, image);
    }
  }
}

TEST(WriteJobTest, ShortImageNeverErasesWhatItCannotRestore) {
  JobSession session;
  std::string flash = AsText(session.deco.Model().Flash());
  std::string image = flash.substr(0, 0x30000);  // ends inside sector 4
  image[0x28000] = static_cast<char>(image[0x28000] ^ 1);
  JobSelection selection = FirmwareJob(session, image);
  JobPlan plan = Prepare(session, selection, WriteMethod::DifferentBlocks);
  EXPECT_EQ(session.Run(plan), "");
  auto log = session.host.Log();
  EXPECT_TRUE(Logged(log, "Block 4 skipped: Fw.bin does not cover it fully."));
  EXPECT_EQ(session.shortfall, "Block 4 skipped: Fw.bin does not cover it fully.");
  EXPECT_EQ(session.result.End, JobEnd::Incomplete);
  EXPECT_EQ(AsText(session.deco.Model().Flash()), flash);
}

TEST(WriteJobTest, EepromOnlyTwiceWithSafe) {
  JobSession session;
  JobSelection selection;
  selection.Eeprom = true;
  selection.EepromFile = session.dir.File("E.bin");
  std::string image = NewImage(2048, 3);
  WriteFile(selection.EepromFile, image);
  JobPlan plan = Prepare(session, selection, WriteMethod::Safe);
  uint64_t slept = session.clock.TotalSleptMs();
  EXPECT_EQ(session.Run(plan), "");
  EXPECT_EQ(session.clock.TotalSleptMs() - slept, 4000u);
  // Two writes of 16 blocks, the verify's 16 reads and the final check's 16.
  EXPECT_EQ(session.CommandsSinceJobStart().size(), 64u);
  EXPECT_TRUE(Logged(session.host.Log(), "Verify EEPROM: equal to E.bin."));
  EXPECT_EQ(AsText(session.deco.Model().Eeprom()), image);
  EXPECT_EQ(session.host.DoneCount(), 1);
  EXPECT_EQ(session.result.End, JobEnd::Done);
  EXPECT_EQ(session.result.FinalCheck.Verdict, FinalCheckVerdict::Passed);
  EXPECT_TRUE(session.flashWriteActive);  // a job without flash work leaves it set, as designed

  // A read-back that differs fails the Safe WRITE, whatever the final check then reads: a WRITE
  // without one would otherwise end in success with the EEPROM unproven.
  sim::Faults faults;
  faults.CorruptReplyAt = session.deco.Model().CommandCount() + 2 * 16 + 1;
  session.deco.Model().SetFaults(faults);
  EXPECT_EQ(session.Run(plan),
            "the EEPROM differs from " + selection.EepromFile + " after it was written twice");
  EXPECT_TRUE(Logged(session.host.Log(), "Verify EEPROM: differs from E.bin."));
  EXPECT_TRUE(Logged(session.host.Log(), "Final check: the EEPROM holds E.bin."));
  EXPECT_EQ(session.result.End, JobEnd::Failed);
}

TEST(WriteJobTest, StopChecks) {
  struct Row {
    const char* name;
    std::function<bool(const std::string&)> stopWhen;
    WriteMethod method;
    size_t erases;
    bool stillActive;  // no flash phase ran to clear it
  } rows[] = {
      {"during EEPROM", [](const std::string& e) { return e.rfind("Write EEPROM", 0) == 0; },
       WriteMethod::Normal, 0, true},
      // Sectors 0-2 are only erased: they bring no progress, which counts words programmed.
      {"after sector 0", [](const std::string& e) { return e == "progress 0"; },
       WriteMethod::Normal, 1, false},
      {"after a word", [](const std::string& e) { return e == "progress 1"; }, WriteMethod::Normal,
       4, false},
      {"during read-back", [](const std::string& e) { return e == "Read CHANNEL ..."; },
       WriteMethod::DifferentBlocks, 0, false},
  };
  for (const Row& row : rows) {
    JobSession session;
    JobSelection selection = ChannelJob(session, NewImage(Channel, 4));
    selection.Eeprom = true;
    selection.EepromFile = session.dir.File("E.bin");
    WriteFile(selection.EepromFile, NewImage(2048, 5));
    JobPlan plan = Prepare(session, selection, row.method);
    session.host.StopWhen = row.stopWhen;
    EXPECT_EQ(session.Run(plan), "") << row.name;
    auto commands = session.CommandsSinceJobStart();
    EXPECT_EQ(Count(commands, "02207FE0155400010080"), row.erases) << row.name;
    EXPECT_EQ(session.host.DoneCount(), 0) << row.name;
    EXPECT_EQ(session.result.End, JobEnd::Stopped) << row.name;
    EXPECT_EQ(session.flashWriteActive, row.stillActive) << row.name;
    for (const auto& line : session.host.Log())
      EXPECT_EQ(line.find("Diff in"), std::string::npos) << row.name;
  }
}

// Waiting for each erase by reading, and programming in unlock bypass: proven on the first sector
// so written, given up for the usual sequence when it does not take, and left on a stop; an
// erase that reads blank once too early is still waited for.
TEST(WriteJobTest, ErasePollAndFastProgram) {
  constexpr uint64_t WordsPerSector = 64;  // the image's code; the rest of each sector is blank
  constexpr size_t FirmwareSectors = protocol::SectorCount;
  struct Row {
    const char* name;
    bool bypassIgnored;
    const char* stopAt;  // progress line; null: none
    uint64_t fastWords;
    bool fellBack;
    size_t bypassEntries;
    size_t erases;
    int earlyBlankReads = 0;
    // A firmware image, to the flash's end, whose leaving of bypass after the last sector loses
    // its first cycle's reply; else a channel list.
    bool firmwareLosingLastLeave = false;
  } rows[] = {
      {"bypass takes", false, nullptr, 4 * WordsPerSector, false, 4, 7},
      // Sector 3 again and the rest by four cycles a word.
      {"bypass does not take", true, nullptr, WordsPerSector, true, 1, 8},
      // Progress counts the words programmed: the second of 256 brings 1%.
      {"stopped inside bypass", false, "progress 1", 2, false, 1, 4},
      {"an erase reads blank once too early", false, nullptr, 4 * WordsPerSector, false, 4, 7, 1},
      // After the flash's last word: bypass is left inside the flash, not past its end.
      {"leaving bypass fails at the flash's end", false, nullptr,
       (FirmwareSectors - 3) * WordsPerSector, false, FirmwareSectors - 3, FirmwareSectors, 0,
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool firmware = row.firmwareLosingLastLeave;
    sim::Settings settings = testing_support::InService();
    settings.EraseTimeMs = 700;
    settings.Fault.BypassIgnored = row.bypassIgnored;
    settings.Fault.EarlyBlankReads = row.earlyBlankReads;
    std::string image = NewImage(firmware ? sim::FlashSize : Channel, 6);
    const int lastSector = firmware ? protocol::SectorCount - 1 : protocol::LastChannelSector;
    for (int s = protocol::FirstProgrammedSector; s <= lastSector; ++s) {
      uint32_t first = protocol::SectorBase[static_cast<size_t>(s)] - protocol::FlashBase;
      image.replace(first + 4 * WordsPerSector, protocol::SectorSize(s) - 4 * WordsPerSector,
                    protocol::SectorSize(s) - 4 * WordsPerSector, '\xFF');
    }
    auto prepare = [&](JobSession& on) {
      JobSelection selection = firmware ? FirmwareJob(on, image) : ChannelJob(on, image);
      JobPlan plan = Prepare(on, selection, WriteMethod::Normal);
      plan.SkipBlankWords = true;
      plan.ErasePoll = true;
      plan.FastProgram = true;
      return plan;
    };
    JobSession session(settings);
    JobPlan plan = prepare(session);
    if (firmware) {
      // Where the last leaving of bypass starts, from a run of the same job without the fault.
      JobSession probe(settings);
      EXPECT_EQ(probe.Run(prepare(probe)), "");
      const auto probed = probe.CommandsSinceJobStart();
      const auto lastLeave = std::find_if(probed.rbegin(), probed.rend(), [](const std::string& c) {
        return c.size() == 20 && c.substr(12) == "00090090";
      });
      sim::Faults faults = settings.Fault;
      faults.DropReplyAt = session.deco.Model().CommandCount() +
                           static_cast<int>(probed.rend() - lastLeave);
      session.deco.Model().SetFaults(faults);
    }
    if (row.stopAt) session.host.StopWhen = [&](const std::string& e) { return e == row.stopAt; };
    uint64_t slept = session.clock.TotalSleptMs();
    EXPECT_EQ(session.Run(plan).empty(), !firmware);
    auto commands = session.CommandsSinceJobStart();
    EXPECT_EQ(Count(commands, "02207FE0155400040020"), row.bypassEntries);
    size_t resets = 0;  // leaving bypass: at the end of a sector, twice after a stop or failure
    for (const auto& c : commands) resets += c.size() == 20 && c.substr(12) == "00090090";
    EXPECT_EQ(resets, row.bypassEntries + (row.stopAt ? 1u : 0u) + (firmware ? 2u : 0u));
    for (const auto& c : commands) {
      if (c.rfind("0220", 0) != 0) continue;
      const uint32_t address = static_cast<uint32_t>(std::stoul(c.substr(4, 8), nullptr, 16));
      EXPECT_LT(address - protocol::FlashBase, sim::FlashSize) << c;
    }
    EXPECT_EQ(Count(commands, "02207FE0155400010080"), row.erases);
    EXPECT_EQ(session.deco.Model().ReadsInBypass(), 0);
    EXPECT_EQ(session.result.FastProgrammedWords, row.fastWords);
    EXPECT_EQ(session.result.FastProgramFellBack, row.fellBack);
    if (!row.stopAt) {
      // A sector written again after bypass did not take counts its blank words once.
      uint64_t blankWords = 0;
      for (int s = protocol::FirstProgrammedSector; s <= lastSector; ++s)
        blankWords += protocol::SectorSize(s) / 4 - WordsPerSector;
      EXPECT_EQ(session.result.SkippedBlankWords, blankWords);
    }
    EXPECT_EQ(Logged(session.host.Log(),
                     "Fast programming did not take in sector 3 (the block at 7FE10000 differs): "
                     "it and the rest are written the usual way."),
              row.fellBack);
    ASSERT_EQ(session.result.Passes.size(), 1u);
    std::vector<SectorErase> erases;
    for (size_t k = 0; k < row.erases; ++k)
      erases.push_back({k < 4 ? static_cast<int>(k) : static_cast<int>(k) - row.fellBack, 700});
    EXPECT_EQ(session.result.Passes[0].EraseTimes, erases);
    if (row.stopAt || firmware) {
      // Out of bypass: the deco hears an erase again.
      protocol::EraseSector(session.link, 5);
      EXPECT_EQ(session.deco.Model().Flash()[0x40000], 0xFF);
      continue;
    }
    EXPECT_EQ(AsText(session.deco.Model().Flash()).substr(0, Channel), ErasedStart(image));
    // Each erase waited for as long as it ran, not five seconds.
    EXPECT_LT(session.clock.TotalSleptMs() - slept, 8 * 700u + 2000u + 8 * 20u);
  }
}

// A stop while an erase is waited for by reading ends the WRITE before anything is programmed
// into that sector, which may still be erasing.
TEST(WriteJobTest, StopWhileAnEraseIsPolled) {
  sim::Settings settings = testing_support::InService();
  settings.EraseTimeMs = 700;
  const std::string image = NewImage(Channel, 6);
  auto prepare = [&](JobSession& on) {
    JobPlan plan = Prepare(on, ChannelJob(on, image), WriteMethod::Normal);
    plan.ErasePoll = true;
    plan.Reads.Retries = 1;
    return plan;
  };
  const std::string sector3 = protocol::ToHex(protocol::SectorBase[3], 8);
  // Where the reading of sector 3 begins, from a run of the same job, stopped once sector 3's
  // words are being programmed.
  JobSession probe(settings);
  probe.host.StopWhen = [](const std::string& e) { return e == "progress 1"; };
  EXPECT_EQ(probe.Run(prepare(probe)), "");
  const auto probed = probe.CommandsSinceJobStart();
  const auto firstPoll = std::find(probed.begin(), probed.end(), "0221FF" + sector3);
  ASSERT_NE(firstPoll, probed.end());

  JobSession session(settings);
  sim::Faults faults;
  // The first read of the poll goes unanswered; its retry is where the user stops.
  faults.DropReplyAt =
      session.deco.Model().CommandCount() + static_cast<int>(firstPoll - probed.begin()) + 1;
  session.deco.Model().SetFaults(faults);
  session.host.StopWhen = [](const std::string& e) { return e.rfind("Retry 1 of 1", 0) == 0; };
  EXPECT_EQ(session.Run(prepare(session)), "");
  const auto commands = session.CommandsSinceJobStart();
  EXPECT_EQ(Count(commands, "0220" + sector3), 1u);  // its erase, and no word
  // Only sector 0's zero words were programmed.
  EXPECT_EQ(Count(commands, protocol::ProgramCommands[2]),
            static_cast<size_t>(protocol::ZeroWordsAtStart));
  EXPECT_EQ(session.host.DoneCount(), 0);
}

// A stop during the final check's reading of the EEPROM ends it at the next line: what was
// written is then not proven and the EEPROM gets no verdict; a difference the flash's part found
// before it is still told.
TEST(WriteJobTest, StopDuringTheFinalChecksEepromRead) {
  struct Row {
    const char* name;
    bool flash;  // also a sector 3 whose word ignores programming
    const char* stopAt;  // the check's progress once the EEPROM's first line is read
    std::vector<std::string> lines;
  } rows[] = {
      {"the EEPROM alone", false, "progress 6", {"Final check ..."}},
      {"after the flash", true, "progress 97",
       {"Final check ...", "Final check FAILED: sector(s) 3 differ from Fw.bin."}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Settings settings = testing_support::InService();
    settings.Fault.WeakWordAddress = 0x7FE10010u;
    settings.Fault.WeakWordFailures = 100;
    JobSession session(settings);
    JobSelection selection;
    if (row.flash) {
      std::string image = AsText(session.deco.Model().Flash());
      image[0x10010] = static_cast<char>(image[0x10010] ^ 1);
      selection = FirmwareJob(session, image);
    }
    selection.Eeprom = true;
    selection.EepromFile = session.dir.File("E.bin");
    WriteFile(selection.EepromFile, NewImage(2048, 5));
    JobPlan plan = Prepare(session, selection, WriteMethod::DifferentBlocks);
    bool checking = false;
    session.host.StopWhen = [&](const std::string& e) {
      checking |= e == "Final check ...";
      return checking && e == row.stopAt;
    };
    EXPECT_EQ(session.Run(plan), "");
    EXPECT_EQ(session.result.FinalCheck.Verdict, FinalCheckVerdict::Interrupted);
    std::vector<std::string> lines;
    for (const auto& line : session.host.Log())
      if (line.rfind("Final check", 0) == 0) lines.push_back(line);
    EXPECT_EQ(lines, row.lines);
    EXPECT_EQ(session.host.DoneCount(), 0);
  }
}

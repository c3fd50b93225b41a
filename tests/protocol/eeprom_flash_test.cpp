// EEPROM transfer and the flash erase and program sequences against the simulated deco.
#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/eeprom_transfer.h"
#include "protocol/flash_chips.h"
#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "protocol/resync.h"
#include "protocol/service_mode.h"
#include "protocol/transaction.h"
#include "support/sim_session.h"

using namespace protocol;
using testing_support::AsText;
using testing_support::InService;
using testing_support::ReadFile;
using testing_support::SimSession;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {
void OpenInService(SimSession& session) {
  session.Open(115200);
}
}  // namespace

TEST(EepromTest, RoundTrip) {
  SimSession session(InService());
  OpenInService(session);
  TempDir dir;
  ASSERT_TRUE(ReadEeprom(session.link, dir.File("E.bin")));
  EXPECT_EQ(ReadFile(dir.File("E.bin")), AsText(session.deco.Model().Eeprom()));
  EXPECT_EQ(session.Log().back(), "Read EEPROM is finished 100% (0 sec.)");
  auto commands = session.deco.Model().CommandLog();
  ASSERT_EQ(commands.size(), 16u);
  EXPECT_EQ(commands[0], "061000080");
  EXPECT_EQ(commands[1], "061008080");
  EXPECT_EQ(commands[15], "061078080");

  std::string image;
  for (int i = 0; i < 2048; ++i) image += static_cast<char>((i * 13) ^ 0x5A);
  WriteFile(dir.File("new.bin"), image);
  ASSERT_TRUE(WriteEeprom(session.link, dir.File("new.bin")));
  EXPECT_EQ(session.Log().back(), "Write EEPROM to deco is finished 100% (0 sec.)");
  commands = session.deco.Model().CommandLog();
  EXPECT_EQ(commands[16].substr(0, 7), "0600000");
  EXPECT_EQ(commands[16].size(), 263u);
  EXPECT_EQ(commands[16].substr(7, 4),
            ToHex(static_cast<uint8_t>(image[0]), 2) + ToHex(static_cast<uint8_t>(image[1]), 2));
  EXPECT_EQ(commands[31].substr(0, 7), "0600780");
  EXPECT_EQ(AsText(session.deco.Model().Eeprom()), image);
  ASSERT_TRUE(ReadEeprom(session.link, dir.File("back.bin")));
  EXPECT_EQ(ReadFile(dir.File("back.bin")), image);
}

TEST(EepromTest, BadReplyStoresNothingCorrupted) {
  for (int kind = 0; kind < 3; ++kind) {
    sim::Settings settings = InService();
    if (kind == 0) settings.Fault.GarbageReplyAt = 3;
    if (kind == 1) settings.Fault.ShortReplyAt = 3;
    if (kind == 2) settings.Fault.LowerCaseReplyAt = 3;
    SimSession session(settings);
    OpenInService(session);
    TempDir dir;
    try {
      ReadEeprom(session.link, dir.File("E.bin"));
      FAIL() << "bad reply accepted, kind " << kind;
    } catch (const EBadReply& error) {
      EXPECT_EQ(error.Command, "061010080");
    }
    auto eeprom = session.deco.Model().Eeprom();
    EXPECT_EQ(ReadFile(dir.File("E.bin")), std::string(eeprom.begin(), eeprom.begin() + 256));
  }
}

// A late reply to another line's read, waiting on the line, names that line once the link has
// learned that this deco echoes the read: it is never stored as this line's; with a retry
// allowed the line comes back in step and the true line is read.
TEST(EepromTest, AnotherLinesReplyIsNeverTakenForThisOnes) {
  for (int retries : {0, 1}) {
    SimSession session(InService());
    OpenInService(session);
    ASSERT_TRUE(Resynchronise(session.link).InStep);
    session.link.SetReadPolicy(ReadPolicy{retries, false});
    session.link.SendLine("061038080");
    auto eeprom = session.deco.Model().Eeprom();
    try {
      const EepromLine line = ReadEepromLine(session.link, 2);
      EXPECT_EQ(retries, 1);
      EXPECT_TRUE(std::equal(line.begin(), line.end(), eeprom.begin() + 256));
    } catch (const EBadReply& error) {
      EXPECT_EQ(retries, 0);
      EXPECT_EQ(error.Command, "061010080");
      EXPECT_NE(std::string(error.what()).find("echoes 0610380"), std::string::npos) << error.what();
    }
  }
}

// The data digits are all a deco promises. What its replies look like otherwise is learned:
// without it (the window) a deco that does not echo the EEPROM read is read as well as one that
// does; with it, noise before a reply and another line's reply are bad replies, retried after
// the line is back in step by a probe whose reply differs from every late one.
TEST(ReplyFormTest, LearnedFormsCatchWhatTheDataDigitsDoNot) {
  enum class Fault { None, Noise, Drop, OtherLine };
  enum class Learn { Nothing, Eeprom, Both };
  struct Row {
    const char* name;
    bool echo;
    Learn learn;
    Fault fault;  // on the read
    bool flash;   // a flash block read, else an EEPROM line
    int retries;
    const char* error;  // "" when the read gives the true data
  } rows[] = {
      {"window, no echo: EEPROM line", false, Learn::Nothing, Fault::None, false, 0, ""},
      {"no echo learned: EEPROM line", false, Learn::Eeprom, Fault::None, false, 0, ""},
      {"no echo learned: flash block", false, Learn::Both, Fault::None, true, 0, ""},
      {"noise before a flash reply, no retry", true, Learn::Both, Fault::Noise, true, 0,
       "a reply of 516 characters, longer than the 515 of the reply table"},
      {"noise before a flash reply, retried", true, Learn::Both, Fault::Noise, true, 1, ""},
      {"no echo: noise before a flash reply, retried", false, Learn::Both, Fault::Noise, true, 1,
       ""},
      {"no echo: noise before an EEPROM reply, retried", false, Learn::Both, Fault::Noise, false,
       1, ""},
      {"no echo: a lost EEPROM reply, retried by a flash probe", false, Learn::Both, Fault::Drop,
       false, 1, ""},
      {"no echo, flash unknown: a lost EEPROM reply", false, Learn::Eeprom, Fault::Drop, false, 1,
       "its flash replies are not known apart"},
      {"another line's reply", true, Learn::Eeprom, Fault::OtherLine, false, 0,
       "echoes 0610200, another read"},
      {"another line's reply, retried", true, Learn::Eeprom, Fault::OtherLine, false, 1, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Settings settings = InService();
    settings.EchoEepromRead = row.echo;
    SimSession session(settings, testing_support::QuickTimeOuts);
    OpenInService(session);
    sim::DecoModel& deco = session.deco.Model();
    if (row.learn != Learn::Nothing) {
      const ResyncResult learned = Resynchronise(session.link);
      ASSERT_TRUE(learned.InStep) << learned.Why;
      EXPECT_EQ(session.link.Forms().Eeprom.Echoes(), row.echo);
    }
    if (row.learn == Learn::Both) ReturnChipsToRead(session.link);
    sim::Faults faults;
    const int next = deco.CommandCount() + 1;
    if (row.fault == Fault::Noise) faults.NoiseBeforeReplyAt = next;
    if (row.fault == Fault::Drop) faults.DropReplyAt = next;
    if (row.fault == Fault::OtherLine) faults.OtherLineReplyAt = next;
    deco.SetFaults(faults);
    session.link.SetReadPolicy(ReadPolicy{row.retries, false});
    const uint32_t offset = 0x300;
    std::vector<uint8_t> got(ReadBlockBytes);
    try {
      if (row.flash) {
        ReadFlashBlock(session.link, FlashBase + offset, got.data());
      } else {
        const EepromLine line = ReadEepromLine(session.link, 3);
        got.assign(line.begin(), line.end());
      }
      EXPECT_STREQ(row.error, "");
    } catch (const std::exception& failure) {
      EXPECT_NE(std::string(row.error), "");
      EXPECT_NE(std::string(failure.what()).find(row.error), std::string::npos) << failure.what();
      continue;
    }
    const std::vector<uint8_t> memory = row.flash ? deco.Flash() : deco.Eeprom();
    const uint32_t at = row.flash ? offset : 3 * EepromLineBytes;
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + (row.flash ? ReadBlockBytes : EepromLineBytes),
                           memory.begin() + at));
    // A deco that does not echo is still found in service mode.
    EXPECT_EQ(DecoAnswersInServiceAt(session.link, "115200"), ServiceAnswer::Reply);
  }
}

TEST(EepromTest, WriteRefusesMissingOrShortFileAndSendsNothing) {
  SimSession session(InService());
  OpenInService(session);
  TempDir dir;
  WriteFile(dir.File("short.bin"), std::string(2047, '\x11'));
  EXPECT_THROW(WriteEeprom(session.link, dir.File("short.bin")), EFileError);
  EXPECT_THROW(WriteEeprom(session.link, dir.File("missing.bin")), EFileError);
  EXPECT_TRUE(session.deco.Model().CommandLog().empty());
}

// The sector table agrees with the image files: the sectors cover the firmware image without a
// gap, the channel list is sectors 0-6 exactly, and the programmed sectors begin at 64 KB.
TEST(FlashMapTest, SectorTableFitsTheImages) {
  for (int s = 0; s < SectorCount; ++s) EXPECT_GT(SectorSize(s), 0u) << s;
  EXPECT_EQ(SectorBase[SectorCount] - FlashBase, static_cast<uint32_t>(FirmwareImageBytes));
  EXPECT_EQ(SectorBase[LastChannelSector + 1] - FlashBase,
            static_cast<uint32_t>(ChannelImageBytes));
  EXPECT_EQ(SectorBase[FirstProgrammedSector] - FlashBase, 0x10000u);
}

TEST(FlashMapTest, EraseAndProgramOnTheDeco) {
  SimSession session(InService());
  OpenInService(session);
  EraseSector(session.link, 3);
  auto flash = session.deco.Model().Flash();
  for (uint32_t i = 0x10000; i < 0x20000; ++i) ASSERT_EQ(flash[i], 0xFF) << i;
  EXPECT_NE(flash[0xFFFF], 0xFF);
  EXPECT_NE(flash[0x20000], 0xFF);
  auto commands = session.deco.Model().CommandLog();
  EXPECT_EQ(commands, (std::vector<std::string>{"02207FE01554005500AA", "02207FE00AA800AA0055",
                                                "02207FE0155400010080", "02207FE01554005500AA",
                                                "02207FE00AA800AA0055", "02207FE10000000C0030"}));

  ProgramWord(session.link, 0x7FE10000u, 0x12345678u);
  EXPECT_EQ(session.deco.Model().CommandLog().back(), "02207FE1000012345678");
  flash = session.deco.Model().Flash();
  EXPECT_EQ(flash[0x10000], 0x78);
  EXPECT_EQ(flash[0x10001], 0x56);
  EXPECT_EQ(flash[0x10002], 0x34);
  EXPECT_EQ(flash[0x10003], 0x12);
}

// The command byte in both lanes, the upper one bit-reversed, as the flash lines carry it.
static_assert(ChipCommandWord(0xAA) == 0x005500AA && ChipCommandWord(0x55) == 0x00AA0055 &&
              ChipCommandWord(0x80) == 0x00010080 && ChipCommandWord(0x30) == 0x000C0030 &&
              ChipCommandWord(0xA0) == 0x000500A0);

// Identifying each kind of chip pair, waiting for an erase by reading, programming in unlock
// bypass and leaving it after a lost cycle, all against the simulated chips.
TEST(FlashChipsTest, IdentifyWaitForTheEraseAndProgramInBypass) {
  struct Row {
    const char* chip;
    ChipCodes codes;
    const char* part;  // null: unknown
    bool bypass;
    HighByteWiring wiring = HighByteWiring::Reversed;  // the upper chip's high data byte
  } rows[] = {
      {"am29lv800bb", {0x01, 0x225B}, "AMD Am29LV800BB", true},
      {"am29lv800bb", {0x01, 0x225B}, "AMD Am29LV800BB", true, HighByteWiring::Straight},
      {"am29f800bb", {0x01, 0x2258}, "AMD Am29F800BB", false},
      {"unknown", {0x37, 0x2299}, nullptr, false},
      {"unknown", {0x37, 0x2299}, nullptr, false, HighByteWiring::Straight},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.chip) + ", " + WiringName(row.wiring));
    sim::Settings settings = InService();
    settings.Chip = *sim::FindChipPart(row.chip);
    settings.UpperHighByteReversed = row.wiring == HighByteWiring::Reversed;
    settings.EraseTimeMs = 700;
    SimSession session(settings);
    OpenInService(session);
    auto& deco = session.deco.Model();
    const std::vector<uint8_t> before = deco.Flash();

    FlashChips chips = IdentifyFlashChips(session.link);
    EXPECT_EQ(chips.Lower, row.codes);
    EXPECT_EQ(chips.Upper, row.codes);
    EXPECT_EQ(chips.UpperHighByte, row.wiring);
    EXPECT_EQ(chips.Part ? std::string(chips.Part->Name) : "", row.part ? row.part : "");
    EXPECT_EQ(chips.Part && chips.Part->UnlockBypass, row.bypass);
    EXPECT_EQ(deco.CommandLog(),
              (std::vector<std::string>{"02207FE01554005500AA", "02207FE00AA800AA0055",
                                        "02207FE0155400090090", "0221FF7FE00000",
                                        "02207FE00000000F00F0"}));
    EXPECT_EQ(deco.Flash(), before);

    EraseSector(session.link, 3);
    EXPECT_EQ(WaitSectorErased(session.link, 3), 700u);  // on the test's virtual clock
    if (!row.bypass) continue;
    EnterUnlockBypass(session.link);
    BypassProgramWord(session.link, 0x7FE10000u, 0x12345678u);
    BypassProgramWord(session.link, 0x7FE10004u, 0x0FF000F0u);
    LeaveUnlockBypass(session.link);
    std::vector<std::string> log = deco.CommandLog();
    EXPECT_EQ(std::vector<std::string>(log.end() - 9, log.end()),
              (std::vector<std::string>{"02207FE01554005500AA", "02207FE00AA800AA0055",
                                        "02207FE0155400040020", "02207FE01554000500A0",
                                        "02207FE1000012345678", "02207FE01554000500A0",
                                        "02207FE100040FF000F0", "02207FE0000000090090",
                                        "02207FE0000000000000"}));
    uint8_t block[ReadBlockBytes];
    ReadFlashBlock(session.link, 0x7FE10000u, block);
    EXPECT_EQ(block[0], 0x78);
    EXPECT_EQ(block[3], 0x12);
    EXPECT_EQ(block[4], 0xF0);
    EXPECT_EQ(block[7], 0x0F);
    EXPECT_EQ(deco.ReadsInBypass(), 0);

    // A program cycle lost with its reply leaves the chips waiting for a word's data: the
    // leaving after a failure still brings them back to hear an erase.
    EnterUnlockBypass(session.link);
    SendCommand(session.link, ProgramCommands[2], 1);
    LeaveUnlockBypassAfterFailure(session.link, 0x7FE10100u);
    EraseSector(session.link, 3);
    WaitSectorErased(session.link, 3);
    ReadFlashBlock(session.link, 0x7FE10000u, block);
    EXPECT_EQ(block[0], 0xFF);
    // And chips a cut line left in bypass hear the erase again after ReturnChipsToRead.
    EnterUnlockBypass(session.link);
    ReturnChipsToRead(session.link);
    BypassProgramWord(session.link, 0x7FE10000u, 0);  // outside bypass: a stray cycle
    EXPECT_EQ(deco.Flash()[0x10000], 0xFF);
  }
}

// A sector still erasing after 20 s fails the wait, naming the sector.
TEST(FlashChipsTest, AnEraseThatNeverEndsFailsTheWait) {
  sim::Settings settings = InService();
  settings.EraseTimeMs = 60000;
  SimSession session(settings);
  OpenInService(session);
  EraseSector(session.link, 4);
  try {
    WaitSectorErased(session.link, 4);
    ADD_FAILURE() << "no failure";
  } catch (const std::runtime_error& failure) {
    EXPECT_STREQ(failure.what(), "Sector 4 was not erased within 20 s (7FE20000 reads 00120048)");
  }
}

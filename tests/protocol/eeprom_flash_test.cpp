// EEPROM transfer and the flash erase and program sequences against the simulated deco.
#include <gtest/gtest.h>

#include "protocol/eeprom_transfer.h"
#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
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
  session.link.SerialLink->OpenPort(session.deco.SlavePath());
  session.link.SerialLink->ConfigureLine(115200, 7, 'E', 0, false, false);
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

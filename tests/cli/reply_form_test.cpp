// What the command line learns of its deco's replies, in whole jobs: a deco that does not echo
// the EEPROM read is read right, and noise before a reply, which shifts its data digits, is a
// bad reply that is read again, never stored.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "capturing_host.h"
#include "cli/cli_job.h"
#include "protocol/image_files.h"
#include "sim/deco_model.h"
#include "support/sim_session.h"

using testing_support::AsText;
using testing_support::ReadFile;

TEST(CliReplyFormTest, ANonEchoingDecoAndNoiseBeforeAReply) {
  constexpr int ConnectLines = 14;  // from service mode, with the reads that learn the form
  constexpr int ResetLines = 9;     // the chips returned to reading, the flash form learned
  constexpr int FlashRead = ConnectLines + ResetLines + 100;  // the channel's block 99
  constexpr int EepromRead = ConnectLines + ResetLines + 5;   // EEPROM line 4
  struct Row {
    const char* name;
    bool echo;
    bool all;  // firmware, EEPROM and channel; else the channel only, or with the EEPROM
    bool eeprom;
    int noiseAt;
    int retries;
    int exitCode;
    const char* said;  // on stdout, or on stderr for a failure
    // A spike (a byte with bit 7 set) before every reply, this many; with --auto.
    int spikes = 0;
    // A damaged learning: a garbage reply, a lost one and one with a two-bit error that parity
    // lets through, then a reply this late (ms) to this command.
    int garbageAt = 0, dropAt = 0, corruptAt = 0, slowAt = 0, slowMs = 0;
  } rows[] = {
      {"no echo: a READ of all three memories", false, true, true, 0, 2, 0,
       "CHANNEL is extracted from FIRMWARE. OK!"},
      {"noise before a flash reply, read again", true, false, false, FlashRead, 2, 0,
       "Retry 1 of 2: the flash block at 7FE06300 (Bad reply to command 0221FF7FE06300: a reply "
       "of 516 characters, longer than the 515 of the reply table"},
      {"noise before a flash reply without retries", true, false, false, FlashRead, 0, 1,
       "a reply of 516 characters, longer than the 515 of the reply table"},
      // Were the longer replies learned as the deco's form, every datum would be shifted.
      {"a spike before every reply, EEPROM", true, false, true, 0, 2, 1,
       "replies longer than the reply table's 263 characters came", 1},
      {"three spikes before every reply, channel", true, false, false, 0, 2, 1,
       "replies longer than the reply table's 263 characters came", 3},
      // One damaged reply among the learning's is no rule: the replies of another round agree,
      // and the late reply is told from the probe by the offset's digits.
      // (The late reply comes after the next read's wait on these quick time-outs, as one 4 s late
      // does on a real line.)
      {"a damaged learning, then a late reply", true, false, true, 0, 2, 0,
       "Read EEPROM is finished", 0, 12, 14, 17, 20, 1000},
      {"no echo: noise before a flash reply, read again", false, false, false, FlashRead, 2, 0,
       "Retry 1 of 2: the flash block at 7FE06300"},
      {"no echo: noise before an EEPROM reply, read again", false, false, true, EepromRead, 2, 0,
       "Retry 1 of 2: the EEPROM line at 200"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Settings settings = testing_support::InService();
    settings.EchoEepromRead = row.echo;
    settings.Fault.NoiseBeforeReplyAt = row.noiseAt;
    settings.Fault.NoiseBeforeEveryReply = row.spikes > 0;
    settings.Fault.GarbageReplyAt = row.garbageAt;
    settings.Fault.DropReplyAt = row.dropAt;
    settings.Fault.CorruptReplyAt = row.corruptAt;
    settings.Fault.SlowReplyAt = row.slowAt;
    settings.Fault.SlowReplyMs = row.slowMs;
    settings.Fault.NoiseCharacters = row.spikes > 0 ? row.spikes : 1;
    if (row.spikes > 0) settings.Fault.NoiseByte = 0x8D;
    testing_support::SimSession session(settings, testing_support::QuickTimeOuts);
    // Every line of its own: another line's data never passes for this one's.
    std::vector<uint8_t> eeprom(sim::EepromSize);
    for (size_t i = 0; i < eeprom.size(); ++i) eeprom[i] = static_cast<uint8_t>(i * 37 + i / 128);
    session.deco.Model().SetEeprom(eeprom);
    testing_support::TempDir dir;
    const std::filesystem::path folderBefore = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    cli::JobOptions options;
    options.port = session.deco.SlavePath();
    options.clock = &session.clock;
    options.service = true;
    options.autoConnect = row.spikes > 0;
    options.retries = row.retries;
    options.selection.Firmware = row.all;
    options.selection.Eeprom = row.eeprom;
    options.selection.Channel = true;
    testing_support::CapturingHost host;
    std::atomic<bool> interrupted{false};
    EXPECT_EQ(cli::RunReadOrWrite(options, host, interrupted), row.exitCode) << host.Err();
    const std::string& said = row.exitCode == 0 ? host.Out() : host.Err();
    EXPECT_NE(said.find(row.said), std::string::npos) << said;
    if (row.exitCode != 0) {
      // No dump of wrong data under a real name.
      EXPECT_FALSE(std::filesystem::exists("Ch.bin"));
      EXPECT_FALSE(std::filesystem::exists("E.bin"));
    }
    if (row.exitCode == 0) {
      const std::string flash = AsText(session.deco.Model().Flash());
      EXPECT_EQ(ReadFile("Ch.bin"), flash.substr(0, protocol::ChannelImageBytes));
      if (row.all) {
        EXPECT_EQ(ReadFile("Fw.bin"), flash);
      }
      if (row.eeprom) {
        EXPECT_EQ(ReadFile("E.bin"), AsText(session.deco.Model().Eeprom()));
      }
    }
    std::filesystem::current_path(folderBefore);
  }
}

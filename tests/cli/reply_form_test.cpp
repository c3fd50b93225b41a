// What the command line learns of its deco's replies, in whole jobs: a deco that does not echo
// the EEPROM read is read right, and noise before a reply, which shifts its data digits, is a
// bad reply that is read again, never stored. Every job ends with the right files and exit 0,
// or fails and leaves no wrong file under a dump's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "capturing_host.h"
#include "cli/cli_job.h"
#include "protocol/image_files.h"
#include "sim/deco_model.h"
#include "support/sim_session.h"

using testing_support::AsText;
using testing_support::ReadFile;

namespace {

// An EEPROM whose lines all differ, so that another line's data never passes for the right one.
std::vector<uint8_t> UnevenEeprom() {
  std::vector<uint8_t> image(sim::EepromSize);
  uint32_t state = 0x2545F491u;
  for (uint8_t& byte : image) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return image;
}

// A file the job made holds what the deco holds; after a failure it may be missing.
void ExpectDump(const char* name, const std::string& truth, bool done) {
  if (!done && !std::filesystem::exists(name)) return;
  const std::string dump = ReadFile(name);
  size_t wrong = 0;
  for (size_t i = 0; i < std::min(dump.size(), truth.size()); ++i) wrong += dump[i] != truth[i];
  EXPECT_TRUE(dump.size() == truth.size() && wrong == 0)
      << name << (done ? "" : ", left after a failure,") << " holds " << dump.size() << " bytes, "
      << wrong << " of them wrong, where the deco holds " << truth.size();
}

}  // namespace

TEST(CliReplyFormTest, ANonEchoingDecoAndNoiseBeforeAReply) {
  constexpr int ConnectLines = 14;  // from service mode, with the reads that learn the form
  constexpr int ResetLines = 9;     // the chips returned to reading, the flash form learned
  constexpr int FlashRead = ConnectLines + ResetLines + 100;  // the channel's block 99
  constexpr int EepromRead = ConnectLines + ResetLines + 5;   // EEPROM line 4
  // A noise byte with bit 7 set, as a spike on the line delivers it.
  constexpr uint8_t Spike = 0x8D;
  enum Memories { Channel, EepromAndChannel, All, EepromOnly };
  struct Row {
    const char* name;
    bool echo;
    const char* head;  // what a deco that does not echo begins an EEPROM reply with
    sim::Faults faults;
    bool autoConnect;
    Memories read;
    int retries;
    int exitCode;
    const char* said;  // on stdout, or on stderr for a failure; null: not this row's subject
  } rows[] = {
      {"no echo: a READ of all three memories",
       false,
       sim::NoEchoHead,
       {},
       false,
       All,
       2,
       0,
       "CHANNEL is extracted from FIRMWARE. OK!"},
      {"noise before a flash reply, read again",
       true,
       sim::NoEchoHead,
       {.NoiseBeforeReplyAt = FlashRead},
       false,
       Channel,
       2,
       0,
       "Retry 1 of 2: the flash block at 7FE06300 (Bad reply to command 0221FF7FE06300: a reply "
       "of 516 characters, longer than the 515 characters of a flash block's reply"},
      {"noise before a flash reply without retries",
       true,
       sim::NoEchoHead,
       {.NoiseBeforeReplyAt = FlashRead},
       false,
       Channel,
       0,
       1,
       "a reply of 516 characters, longer than the 515 characters"},
      {"no echo: noise before a flash reply, read again",
       false,
       sim::NoEchoHead,
       {.NoiseBeforeReplyAt = FlashRead},
       false,
       Channel,
       2,
       0,
       "Retry 1 of 2: the flash block at 7FE06300"},
      {"no echo: noise before an EEPROM reply, read again",
       false,
       sim::NoEchoHead,
       {.NoiseBeforeReplyAt = EepromRead},
       false,
       EepromAndChannel,
       2,
       0,
       "Retry 1 of 2: the EEPROM line at 200"},
      {"a two-bit error in a learning reply, then a late reply",
       true,
       sim::NoEchoHead,
       {.DropReplyAt = 14,
        .GarbageReplyAt = 12,
        .CorruptReplyAt = 17,
        .SlowReplyMs = 4000,
        .SlowReplyAt = 20},
       false,
       EepromOnly,
       2,
       0,
       "Read EEPROM is finished 100%"},
      {"no echo, a fixed head of its own",
       false,
       "0610000",
       {},
       false,
       EepromAndChannel,
       2,
       0,
       "Read EEPROM is finished 100%"},
      {"a spike before every reply: EEPROM",
       true,
       sim::NoEchoHead,
       {.NoiseBeforeEveryReply = true, .NoiseByte = Spike},
       false,
       EepromOnly,
       2,
       1,
       "longer than the 263 characters of an EEPROM line's reply"},
      {"three spikes before every reply: EEPROM",
       true,
       sim::NoEchoHead,
       {.NoiseCharacters = 3, .NoiseBeforeEveryReply = true, .NoiseByte = Spike},
       false,
       EepromOnly,
       2,
       1,
       "record the line with --trace FILE"},
      {"a spike before every reply: channel",
       true,
       sim::NoEchoHead,
       {.NoiseBeforeEveryReply = true, .NoiseByte = Spike},
       false,
       Channel,
       2,
       1,
       "record the line with --trace FILE"},
      {"three spikes before every reply: channel",
       true,
       sim::NoEchoHead,
       {.NoiseCharacters = 3, .NoiseBeforeEveryReply = true, .NoiseByte = Spike},
       false,
       Channel,
       2,
       1,
       "record the line with --trace FILE"},
      // As the spikes were met: whatever --auto makes of such replies, no dump is wrong.
      {"--auto, a spike before every reply: EEPROM",
       true,
       sim::NoEchoHead,
       {.NoiseBeforeEveryReply = true, .NoiseByte = Spike},
       true,
       EepromOnly,
       2,
       1,
       nullptr},
      {"--auto, three spikes before every reply: channel",
       true,
       sim::NoEchoHead,
       {.NoiseCharacters = 3, .NoiseBeforeEveryReply = true, .NoiseByte = Spike},
       true,
       Channel,
       2,
       1,
       nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Settings settings = testing_support::InService();
    settings.EchoEepromRead = row.echo;
    settings.EepromHead = row.head;
    settings.Fault = row.faults;
    // A late reply's wait costs line time only.
    std::optional<testing_support::SimSession> sessionHolder;
    if (row.faults.SlowReplyMs > 0)
      sessionHolder.emplace(settings, testing_support::SimSession::LineTimeOnTheClock{});
    else
      sessionHolder.emplace(settings, testing_support::QuickTimeOuts);
    testing_support::SimSession& session = *sessionHolder;
    session.deco.Model().SetEeprom(UnevenEeprom());
    testing_support::TempDir dir;
    const std::filesystem::path folderBefore = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    cli::JobOptions options;
    options.port = session.deco.SlavePath();
    options.clock = &session.clock;
    options.service = !row.autoConnect;
    options.autoConnect = row.autoConnect;
    options.retries = row.retries;
    options.selection.Firmware = row.read == All;
    options.selection.Eeprom = row.read != Channel;
    options.selection.Channel = row.read != EepromOnly;
    testing_support::CapturingHost host;
    std::atomic<bool> interrupted{false};
    EXPECT_EQ(cli::RunReadOrWrite(options, host, interrupted), row.exitCode) << host.Err();
    const std::string& said = row.exitCode == 0 ? host.Out() : host.Err();
    if (row.said) {
      EXPECT_NE(said.find(row.said), std::string::npos) << said;
    }
    const bool done = row.exitCode == 0;
    const std::string flash = AsText(session.deco.Model().Flash());
    if (options.selection.Channel)
      ExpectDump("Ch.bin", flash.substr(0, protocol::ChannelImageBytes), done);
    if (options.selection.Firmware) ExpectDump("Fw.bin", flash, done);
    if (options.selection.Eeprom) ExpectDump("E.bin", AsText(session.deco.Model().Eeprom()), done);
    std::filesystem::current_path(folderBefore);
  }
}

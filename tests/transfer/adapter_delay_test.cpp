// A line whose adapter holds every reply back is told before a job's flash work, from the
// connect's own exchanges, with what it costs the job; a plain line never is.
#include "transfer/adapter_delay.h"

#include <gtest/gtest.h>

#include <regex>

#include "transfer_fixture.h"

using testing_support::JobSession;

TEST(AdapterDelayTest, HeldBackRepliesAreToldBeforeFlashWorkOnly) {
  struct Row {
    const char* name;
    int latencyMs;  // the simulated adapter's timer
    int32_t blocks;
    bool write;
    const char* told;  // a pattern of the lines, "" for none
  } rows[] = {
      {"a plain line", 0, transfer::ChannelBlocks, false, ""},
      {"a 16 ms adapter, a channel READ", 16, transfer::ChannelBlocks, false,
       "Each reply comes about 1\\d ms after the wire has brought it: the USB serial adapter "
       "holds it back \\(its latency timer.*\\); to lower it.*\\.\\n"
       "This job's flash work takes about \\d+:\\d\\d at this line, \\d+:\\d\\d on the wire "
       "alone\\.\\n"},
      {"a 16 ms adapter, an EEPROM job: no long work", 16, 0, false, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Settings settings = testing_support::InService();
    settings.AdapterLatencyMs = row.latencyMs;
    JobSession session(settings);
    transfer::JobPlan plan;
    plan.BlockCount = row.blocks;
    plan.IsWriteJob = row.write;
    std::string told;
    for (const std::string& line : transfer::HeldBackReplyLines(session.link, plan))
      told += line + "\n";
    EXPECT_TRUE(std::regex_match(told, std::regex(row.told))) << told;
  }
}

// The flash work's time at a line that holds each exchange back, against the wire's: a WRITE's
// words are four short exchanges each, so a 16 ms timer costs it several times its wire time; a
// READ's long replies hardly.
TEST(AdapterDelayTest, FlashWorkSecondsAtAHeldBackLine) {
  constexpr double CharacterMs = 10.0 * 1000 / 115200;
  transfer::JobPlan read;
  read.BlockCount = transfer::FirmwareBlocks;
  transfer::JobPlan write = read;
  write.IsWriteJob = true;
  const transfer::JobSeconds reading = transfer::FlashWorkSeconds(read, CharacterMs, 16);
  const transfer::JobSeconds writing = transfer::FlashWorkSeconds(write, CharacterMs, 16);
  EXPECT_NEAR(static_cast<double>(reading.OnTheWire), 8192 * 532 * CharacterMs / 1000, 2);
  EXPECT_NEAR(static_cast<double>(reading.AtThisLine) / static_cast<double>(reading.OnTheWire),
              1.35, 0.05);
  EXPECT_GT(static_cast<double>(writing.AtThisLine) / static_cast<double>(writing.OnTheWire), 5);
  EXPECT_EQ(transfer::FlashWorkSeconds(write, CharacterMs, 0).AtThisLine, writing.OnTheWire);
}

// The command transaction through the real serial layer against the simulated deco.
#include "protocol/transaction.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "protocol/clock.h"
#include "protocol/hex_codec.h"
#include "support/serial_errors.h"
#include "support/sim_session.h"

using testing_support::SerialErrorCodeOf;
using namespace protocol;
using testing_support::InService;
using testing_support::SimSession;

namespace {
void OpenAt(SimSession& session, int32_t baud) {
  session.Open(baud);
}

}  // namespace

TEST(TransactionTest, FlashBlockDecodesToTheBytesTheDecoHolds) {
  SimSession session(InService());
  OpenAt(session, 115200);
  std::string reply = SendCommand(session.link, "0221FF7FE00000", 1);
  ASSERT_EQ(reply.size(), 3u + 512u);
  uint8_t block[256];
  ASSERT_EQ(DecodeHexWords256(reply, 3, block), HexData::Good);
  auto flash = session.deco.Model().Flash();
  EXPECT_EQ(std::string(block, block + 256), std::string(flash.begin(), flash.begin() + 256));
  EXPECT_EQ(session.deco.Model().CommandLog().back(), "0221FF7FE00000");
}

TEST(TransactionTest, LineFeedLeftFromCrLfIsNotPartOfTheNextReply) {
  // The slow reply comes after the whole-reply bound (100 ms + the wire time of 1024
  // characters) but within the first-byte bound (400 ms): the left-over LF must not count as
  // the reply's first byte.
  for (int slowReplyMs : {0, 290}) {
    sim::Settings settings = InService();
    settings.Fault.CrLfEndings = true;
    settings.Fault.SlowReplyMs = slowReplyMs;
    SimSession session(settings);
    session.link.SetBaseTimeout(100);
    OpenAt(session, 115200);
    EXPECT_EQ(SendCommand(session.link, "09", 1), "021") << slowReplyMs;
    EXPECT_EQ(SendCommand(session.link, "09", 1), "021") << slowReplyMs;
    std::string block = SendCommand(session.link, "0221FF7FE00000", 1);
    EXPECT_EQ(block.size(), 3u + 512u) << slowReplyMs;
    EXPECT_EQ(block.substr(0, 3), "021") << slowReplyMs;
  }
}

TEST(TransactionTest, MissingReplyIsATimeoutWithinTheBound) {
  sim::Settings settings = InService();
  settings.Fault.DropReplyAt = 1;
  SimSession session(settings);
  session.link.SetBaseTimeout(20);
  OpenAt(session, 115200);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SerialErrorCodeOf([&] { SendCommand(session.link, "09", 1); }), 9997);
  auto spent = std::chrono::steady_clock::now() - start;
  // Room for a loaded machine, yet below the wait a standard time-out would take.
  EXPECT_LT(spent, std::chrono::milliseconds(20 * FirstByteTimeoutFactor + 1200));
  EXPECT_EQ(SendCommand(session.link, "09", 1),
            "021");  // the deco answers the next command normally
}

TEST(TransactionTest, TrickleWithoutCrIsBounded) {
  sim::Settings settings = InService();
  settings.Fault.TrickleAt = 1;
  SimSession session(settings);
  session.link.SetBaseTimeout(50);
  OpenAt(session, 115200);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SerialErrorCodeOf([&] { SendCommand(session.link, "09", 1); }), 9997);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_GT(session.link.InputWaiting(), 0);  // nothing received is lost
}

// Every character of a transaction is counted, as a number, both ways: the command with its
// CR LF and the reply with its CR. A count set before the open goes on across a reopen.
TEST(TransactionTest, CharactersAreCountedBothWays) {
  SimSession session(InService());
  uint64_t characters = 0;
  session.link.CountCharacters([&characters](uint64_t count) { characters += count; });
  session.Open(115200);
  EXPECT_EQ(SendCommand(session.link, "09", 1), "021");
  EXPECT_EQ(characters, 4u + 4u);
  session.link.Close();
  session.Open(115200);
  SendCommand(session.link, "0221FF7FE00000", 1);
  EXPECT_EQ(characters, 8u + 16u + 516u);
  session.link.CountCharacters(nullptr);
  SendCommand(session.link, "09", 1);
  EXPECT_EQ(characters, 8u + 16u + 516u);
}

TEST(TransactionTest, NoLinkIsAnError) {
  DecoLink link;
  EXPECT_EQ(SerialErrorCodeOf([&] { SendCommand(link, "09", 1); }), 9994);
}

TEST(StatusTest, LinesFromTwoThreadsArriveWholeAndInOrder) {
  testing_support::StatusRecorder recorder;
  DecoLink link(&recorder);
  auto post = [&link](const std::string& prefix) {
    for (int i = 0; i < 200; ++i) PostStatus(link, prefix + std::to_string(i));
  };
  std::thread worker(post, "w");
  post("m");
  worker.join();
  PostStatus(link, "");
  auto lines = recorder.Lines();
  ASSERT_EQ(lines.size(), 400u);
  int nextW = 0, nextM = 0;
  for (const auto& line : lines) {
    int& next = line[0] == 'w' ? nextW : nextM;
    EXPECT_EQ(line.substr(1), std::to_string(next++)) << line;
  }
  EXPECT_EQ(link.StatusText(), "");
}

TEST(WaitTest, WholeSecondsOnTheLinksClock) {
  FastClock clock;
  DecoLink link(nullptr, clock);
  WaitSeconds(link, 0);
  EXPECT_EQ(clock.TotalSleptMs(), 0u);
  uint64_t start = ClockReading(link);
  WaitSeconds(link, 5);
  uint64_t end = ClockReading(link);
  EXPECT_EQ(ElapsedSeconds(start, end), 5);
  EXPECT_EQ(ElapsedSeconds(end, start), 5);
  EXPECT_EQ(ElapsedSeconds(1000, 1999), 0);
  // Another link's clock is not this one's.
  FastClock other;
  DecoLink elsewhere(nullptr, other);
  WaitSeconds(elsewhere, 2);
  EXPECT_EQ(clock.TotalSleptMs(), 5000u);
  EXPECT_EQ(other.TotalSleptMs(), 2000u);
}

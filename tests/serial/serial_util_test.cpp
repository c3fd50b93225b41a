#include "serial/serial_util.h"

#include <gtest/gtest.h>

#include "serial/parity_marks.h"

using serial::Deadline;
using serial::FindLineEnd;
using serial::SplitList;

// Read at fixed clock readings; the start lies just below 2^32 so that a deadline after it
// shows that the 64-bit reading does not wrap where the classic tick does.
TEST(DeadlineTest, TimeLeftAtEachReading) {
  constexpr uint64_t Start = 0xFFFFFF00u;
  struct Row {
    int32_t timeoutMs;
    uint64_t elapsedMs;
    int32_t left;
    bool passed;
  } rows[] = {
      {1000, 0, 1000, false},
      {1000, 400, 600, false},
      {1000, 999, 1, false},
      {1000, 1000, 0, true},
      {1000, 5000, 0, true},  // never negative once over
      {0, 0, 0, true},
      {-1, 0, -1, false},  // a negative time-out has no end
      {-1, uint64_t{1} << 40, -1, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.timeoutMs << " ms after " << row.elapsedMs);
    Deadline deadline(row.timeoutMs, Start);
    EXPECT_EQ(deadline.LeftMs(Start + row.elapsedMs), row.left);
    EXPECT_EQ(deadline.Passed(Start + row.elapsedMs), row.passed);
  }
}

TEST(DeadlineTest, OnTheOneMonotonicClock) {
  uint64_t before = serial::MonotonicMs();
  uint32_t tick = serial::CurrentTick();
  Deadline now(0);
  Deadline never(-1);
  constexpr int32_t Hour = 3600 * 1000;
  Deadline hour(Hour);
  uint64_t after = serial::MonotonicMs();
  ASSERT_LE(before, after);
  // The classic tick is the same clock, cut to 32 bits.
  EXPECT_LE(serial::TickSpan(static_cast<uint32_t>(before), tick), after - before);
  EXPECT_TRUE(now.Passed());
  EXPECT_FALSE(never.Passed());
  EXPECT_EQ(never.LeftMs(), -1);
  EXPECT_FALSE(hour.Passed());
  EXPECT_LE(hour.LeftMs(), Hour + 1);
  EXPECT_GT(hour.LeftMs(), Hour - 60 * 1000);
  // A wait begun within the millisecond of a reading may not end a millisecond early.
  uint64_t reading = serial::MonotonicMs();
  Deadline oneMs(1);
  EXPECT_GE(oneMs.LeftMs(reading), 2);
}

TEST(TickTest, SpanFollowsTheWrapRule) {
  struct Row {
    uint32_t earlier, later, span;
  } rows[] = {{0xFFFFFFF0u, 0x00000010u, 32}, {100, 100, 0}, {200, 100, 100}, {100, 250, 150}};
  for (const Row& row : rows)
    EXPECT_EQ(serial::TickSpan(row.earlier, row.later), row.span)
        << row.earlier << " " << row.later;
}

// Ten bits a character: a speed carries a tenth of its baud rate in characters each second.
TEST(WireTimeTest, OneSecondOfLine) {
  struct Row {
    int64_t characters;
    uint32_t baud;
  } rows[] = {{960, 9600}, {3840, 38400}, {11520, 115200}, {960, 0}};  // 0: not yet set, 9600
  for (const Row& row : rows)
    EXPECT_EQ(serial::WireTimeMs(row.characters, row.baud), 1000) << row.baud;
}

TEST(FindLineEndTest, EarliestFormWinsAndPairsBeatSingles) {
  auto a = FindLineEnd("ab\n\rc");
  EXPECT_EQ(a.Position, 3u);
  EXPECT_EQ(a.Form, "\n\r");
  auto b = FindLineEnd("ab\r\n");
  EXPECT_EQ(b.Position, 3u);
  EXPECT_EQ(b.Form, "\r\n");
  auto c = FindLineEnd("abc");
  EXPECT_EQ(c.Position, 0u);
  EXPECT_EQ(c.Form, "");
  auto d = FindLineEnd("a\nb\r");
  EXPECT_EQ(d.Position, 2u);
  EXPECT_EQ(d.Form, "\n");
}

TEST(SplitListTest, FieldsQuotesAndTrimming) {
  struct Row {
    const char* text;
    std::vector<std::string> items;
  } rows[] = {
      {"COM1,COM3", {"COM1", "COM3"}},
      {"", {}},
      {"a,,b", {"a", "", "b"}},
      {"a,b,", {"a", "b"}},
      {",a", {"", "a"}},
      {"\"x,y\",z", {"\"x,y\"", "z"}},
      {"COM1, COM2", {"COM1", "COM2"}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> list{"stale"};
    SplitList(row.text, ',', list);
    EXPECT_EQ(list, row.items) << row.text;
  }
}

TEST(SplitListTest, JoinQuotesWhatNeedsIt) {
  EXPECT_EQ(serial::JoinList({"COM1", "COM3"}), "COM1,COM3");
  EXPECT_EQ(serial::JoinList({""}), "\"\"");
  EXPECT_EQ(serial::JoinList({"a b", "q\"t", "c,d"}), "\"a b\",\"q\"\"t\",\"c,d\"");
  std::vector<std::string> back;
  SplitList(serial::JoinList({"/dev/ttyS0", "/dev/pts/4"}), ',', back);
  EXPECT_EQ(back, (std::vector<std::string>{"/dev/ttyS0", "/dev/pts/4"}));
}

TEST(ByteOrderTest, PackAndReverse) {
  EXPECT_EQ(serial::PackInt32BE(0x11223344u), std::string("\x11\x22\x33\x44", 4));
  EXPECT_EQ(serial::ReverseBytes32(0x11223344u), 0x44332211u);
  EXPECT_EQ(serial::ReverseBytes32(0x000000FFu), 0xFF000000u);
}

TEST(ParityMarkTest, MarkersNeverReachTheCaller) {
  const uint8_t raw[] = {'A', 0xFF, 0x00, 'B', 0xFF, 0xFF, 'C', 0xFF, 0x00};
  uint8_t out[16];
  auto result = serial::RemoveParityMarks(raw, sizeof raw, out, sizeof out);
  EXPECT_TRUE(result.ParityError);
  ASSERT_EQ(result.Written, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), std::string("AB\xFF"
                                                                      "C"));
  EXPECT_EQ(result.Consumed, 7u);  // the incomplete marker waits for its third byte
  EXPECT_EQ(serial::UnmarkedCount(raw, sizeof raw), result.Written);  // what is pending

  const uint8_t clean[] = {'0', '2', '1', '\r'};
  auto plain = serial::RemoveParityMarks(clean, sizeof clean, out, sizeof out);
  EXPECT_FALSE(plain.ParityError);
  EXPECT_EQ(plain.Written, 4u);
}

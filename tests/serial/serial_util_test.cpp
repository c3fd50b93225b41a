#include "serial/serial_util.h"

#include <gtest/gtest.h>

#include "serial/parity_marks.h"

using serial::FindLineEnd;
using serial::SplitList;

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
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), std::string("AB\xFF" "C"));
  EXPECT_EQ(result.Consumed, 7u);  // the incomplete marker waits for its third byte
  EXPECT_EQ(serial::UnmarkedCount(raw, sizeof raw), result.Written);  // what is pending

  const uint8_t clean[] = {'0', '2', '1', '\r'};
  auto plain = serial::RemoveParityMarks(clean, sizeof clean, out, sizeof out);
  EXPECT_FALSE(plain.ParityError);
  EXPECT_EQ(plain.Written, 4u);
}

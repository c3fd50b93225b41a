#include "protocol/hex_codec.h"

#include <gtest/gtest.h>

using namespace protocol;

TEST(HexCodecTest, ToHexPadsAndNeverCuts) {
  EXPECT_EQ(ToHex(0, 8), "00000000");
  EXPECT_EQ(ToHex(0x7FE00000u, 8), "7FE00000");
  EXPECT_EQ(ToHex(1920, 4), "0780");
  EXPECT_EQ(ToHex(255, 2), "FF");
  EXPECT_EQ(ToHex(0x12345, 2), "12345");
}

TEST(HexCodecTest, PairValuesIncludingNonHex) {
  EXPECT_EQ(HexPairToByte('7', 'F'), 127);
  EXPECT_EQ(HexPairToByte('0', '0'), 0);
  EXPECT_EQ(HexPairToByte('0', 'x'), 255);
  EXPECT_EQ(HexPairToByte('x', '0'), 240);
  EXPECT_EQ(HexPairToByte('a', 'b'), HexPairToByte('x', 'x'));
}

TEST(HexCodecTest, BytesInOrderWordsReversed) {
  std::string reply = "021" + std::string("00FF7F80") + std::string(504, '0');
  uint8_t bytes[128];
  uint8_t words[256];
  EXPECT_EQ(DecodeHexBytes128(reply, 3, bytes), HexData::Good);
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0xFF);
  EXPECT_EQ(bytes[2], 0x7F);
  EXPECT_EQ(bytes[3], 0x80);
  EXPECT_EQ(DecodeHexWords256(reply, 3, words), HexData::Good);
  EXPECT_EQ(words[0], 0x80);
  EXPECT_EQ(words[1], 0x7F);
  EXPECT_EQ(words[2], 0xFF);
  EXPECT_EQ(words[3], 0x00);
}

TEST(HexCodecTest, ShortAndNonHexDataAreReported) {
  uint8_t words[256];
  EXPECT_EQ(DecodeHexWords256("", 3, words), HexData::Short);
  EXPECT_EQ(DecodeHexWords256("021" + std::string(511, 'A'), 3, words), HexData::Short);
  EXPECT_EQ(DecodeHexWords256("021" + std::string(512, 'a'), 3, words), HexData::NotHex);
  EXPECT_EQ(DecodeHexWords256("021" + std::string(512, 'A') + "zz", 3, words), HexData::Good);
  uint8_t bytes[128];
  std::string reply = "0610000" + std::string(255, '1') + "G";
  EXPECT_EQ(DecodeHexBytes128(reply, 7, bytes), HexData::NotHex);
}

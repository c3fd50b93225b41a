#include "protocol/hex_codec.h"

namespace protocol {

namespace {
constexpr char Alphabet[] = "0123456789ABCDEF";

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes count pairs; place maps the pair index to its destination index.
template <typename Place>
HexData DecodePairs(const std::string& reply, size_t offset, uint8_t* destination, int count,
                    Place place) {
  HexData result = HexData::Good;
  for (int k = 0; k < count; ++k) {
    size_t at = offset + 2 * static_cast<size_t>(k);
    if (at + 1 >= reply.size()) {
      destination[place(k)] = 0;
      result = HexData::Short;
      continue;
    }
    char high = reply[at];
    char low = reply[at + 1];
    if (result == HexData::Good && (DigitValue(high) < 0 || DigitValue(low) < 0))
      result = HexData::NotHex;
    destination[place(k)] = HexPairToByte(high, low);
  }
  return result;
}
}  // namespace

std::string ToHex(uint32_t value, int width) {
  std::string digits;
  do {
    digits.insert(digits.begin(), Alphabet[value & 15]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(digits.size()) < width)
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return digits;
}

uint8_t HexPairToByte(char high, char low) {
  return static_cast<uint8_t>((16 * DigitValue(high) + DigitValue(low)) & 0xFF);
}

HexData DecodeHexBytes128(const std::string& reply, size_t offset, uint8_t* destination) {
  return DecodePairs(reply, offset, destination, EepromLineBytes, [](int k) { return k; });
}

HexData DecodeHexWords256(const std::string& reply, size_t offset, uint8_t* destination) {
  return DecodePairs(reply, offset, destination, ReadBlockBytes,
                     [](int k) { return 4 * (k / 4) + 3 - (k % 4); });
}

std::string DescribeHexData(HexData result, const std::string& reply) {
  switch (result) {
    case HexData::Good: return "OK";
    case HexData::Short:
      return "reply of " + std::to_string(reply.size()) + " characters is too short for its data";
    case HexData::NotHex: return "reply holds characters that are not upper-case hex digits";
  }
  return "";
}

}  // namespace protocol

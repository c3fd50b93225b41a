// Hexadecimal text as it crosses the serial line.
#pragma once

#include <cstdint>
#include <string>

namespace protocol {

inline constexpr int EepromLineBytes = 128;
inline constexpr int ReadBlockBytes = 256;

// Upper-case hex digits of value, padded on the left with "0" to at least width digits.
std::string ToHex(uint32_t value, int width);

// (16 * high + low) mod 256, where a character outside "0123456789ABCDEF" counts as -1.
uint8_t HexPairToByte(char high, char low);

// What the decoders found in the data area.
enum class HexData { Good, Short, NotHex };

// 256 hex digits from offset on become 128 bytes in reply order. Never reads past the reply's
// end: missing bytes are stored as 0 and the result says Short.
HexData DecodeHexBytes128(const std::string& reply, size_t offset, uint8_t* destination);

// 512 hex digits from offset on are 64 word texts; each word lands little-endian.
HexData DecodeHexWords256(const std::string& reply, size_t offset, uint8_t* destination);

// A line for the log that says what was wrong with a data area.
std::string DescribeHexData(HexData result, const std::string& reply);

}  // namespace protocol

// The decoders of flash and EEPROM replies on any reply: never past its end, and what they call
// good is exactly the hex text they were given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/hex_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t offset = data[0] % 16;
  const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);

  uint8_t bytes[protocol::EepromLineBytes];
  protocol::HexData result = protocol::DecodeHexBytes128(reply, offset, bytes);
  protocol::DescribeHexData(result, reply);
  if (result == protocol::HexData::Good) {
    std::string again;
    for (uint8_t byte : bytes) again += protocol::ToHex(byte, 2);
    if (reply.compare(offset, again.size(), again) != 0) std::abort();
  }

  uint8_t words[protocol::ReadBlockBytes];
  result = protocol::DecodeHexWords256(reply, offset, words);
  protocol::DescribeHexData(result, reply);
  if (result == protocol::HexData::Good) {
    std::string again;
    for (size_t w = 0; w < sizeof words; w += 4) {
      uint32_t word = static_cast<uint32_t>(words[w]) | static_cast<uint32_t>(words[w + 1]) << 8 |
                      static_cast<uint32_t>(words[w + 2]) << 16 |
                      static_cast<uint32_t>(words[w + 3]) << 24;
      again += protocol::ToHex(word, 8);
    }
    if (reply.compare(offset, again.size(), again) != 0) std::abort();
  }
  return 0;
}

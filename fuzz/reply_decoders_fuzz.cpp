// The decoders of flash and EEPROM replies on any reply: never past its end, and what they call
// good is exactly the hex text they were given. A form learned from a reply fits that reply.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "protocol/hex_codec.h"
#include "protocol/reply_form.h"

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

  // Three reads that differ wherever reads of their kind do: a form they agree on fits each.
  const std::pair<protocol::ReplyKind, std::vector<std::string>> reads[] = {
      {protocol::ReplyKind::FlashBlock, {"0221FF7FFFFF00", "0221FF7FFFFE00", "0221FF7FFFFD00"}},
      {protocol::ReplyKind::EepromLine, {"061008080", "061020080", "061038080"}}};
  for (const auto& [kind, commands] : reads) {
    const auto form = protocol::AgreedForm(kind, commands, {reply, reply, reply});
    for (const std::string& command : commands)
      if (form && !protocol::FormMismatch(*form, command, reply).empty()) std::abort();
    if (form) protocol::FormMismatch(*form, commands.front(), reply.substr(1));
  }
  return 0;
}

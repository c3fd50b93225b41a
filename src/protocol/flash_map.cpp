#include "protocol/flash_map.h"

#include "protocol/block_read.h"
#include "protocol/hex_codec.h"
#include "protocol/protocol_error.h"
#include "protocol/reply_form.h"
#include "protocol/transaction.h"

namespace protocol {

namespace {
constexpr const char* SectorEraseData = "000C0030";
constexpr const char* FlashWritePrefix = "0220";
constexpr const char* ReadCommandPrefix = "0221FF";
}  // namespace

std::string FlashBlockCommand(uint32_t address) {
  return ReadCommandPrefix + ToHex(address, 8);
}

void EraseSector(DecoLink& link, int sector) {
  for (const char* line : EraseCommands) SendCommand(link, line, 1);
  SendCommand(
      link, FlashWritePrefix + ToHex(SectorBase[static_cast<size_t>(sector)], 8) + SectorEraseData,
      1);
}

void ProgramWord(DecoLink& link, uint32_t address, uint32_t value) {
  for (const char* line : ProgramCommands) SendCommand(link, line, 1);
  SendCommand(link, FlashWritePrefix + ToHex(address, 8) + ToHex(value, 8), 1);
}

void ReadFlashBlock(DecoLink& link, uint32_t address, uint8_t* block) {
  const std::string command = FlashBlockCommand(address);
  ReadBlock(
      link, command, [address] { return "the flash block at " + ToHex(address, 8); }, block,
      ReadBlockBytes,
      [&](uint8_t* destination) {
        std::string reply = SendCommand(link, command, 1);
        HexData data =
            DecodeHexWords256(reply, DataStartOf(ReplyKind::FlashBlock), destination);
        if (data != HexData::Good) throw EBadReply(command, DescribeHexData(data, reply));
        // Noise before the reply would shift its data by a digit or more.
        CheckReplyForm(link, ReplyKind::FlashBlock, command, reply);
      });
}

}  // namespace protocol

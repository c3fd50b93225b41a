#include "protocol/flash_map.h"

#include "protocol/block_read.h"
#include "protocol/hex_codec.h"
#include "protocol/protocol_error.h"
#include "protocol/transaction.h"

namespace protocol {

namespace {
constexpr const char* SectorEraseData = "000C0030";
constexpr const char* FlashWritePrefix = "0220";
constexpr const char* ReadCommandPrefix = "0221FF";
constexpr size_t ReadReplyDataOffset = 3;
}  // namespace

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
  std::string command = ReadCommandPrefix + ToHex(address, 8);
  ReadBlock(
      link, command, [address] { return "the flash block at " + ToHex(address, 8); }, block,
      ReadBlockBytes,
      [&](uint8_t* destination) {
        std::string reply = SendCommand(link, command, 1);
        HexData data = DecodeHexWords256(reply, ReadReplyDataOffset, destination);
        if (data != HexData::Good) throw EBadReply(command, DescribeHexData(data, reply));
      });
}

}  // namespace protocol

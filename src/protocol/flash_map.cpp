#include "protocol/flash_map.h"

#include "protocol/block_read.h"
#include "protocol/hex_codec.h"
#include "protocol/protocol_error.h"
#include "protocol/transaction.h"

namespace protocol {


namespace {
constexpr uint32_t FirstLargeSector = 0x7FE40000u;
constexpr uint32_t LargeSectorSize = 0x20000u;
constexpr int FixedSectors = 5;
constexpr const char* Unlock1 = "02207FE01554005500AA";
constexpr const char* Unlock2 = "02207FE00AA800AA0055";
constexpr const char* EraseSetup = "02207FE0155400010080";
constexpr const char* ProgramSetup = "02207FE01554000500A0";
constexpr const char* SectorEraseData = "000C0030";
constexpr const char* FlashWritePrefix = "0220";
constexpr const char* ReadCommandPrefix = "0221FF";
constexpr size_t ReadReplyDataOffset = 3;
}  // namespace

void FillFlashTables() {
  const uint32_t fixed[FixedSectors] = {0x7FE00000u, 0x7FE08000u, 0x7FE0C000u, 0x7FE10000u,
                                        0x7FE20000u};
  for (int s = 0; s < FixedSectors; ++s) SectorBase()[static_cast<size_t>(s)] = fixed[s];
  for (int k = 0; k <= SectorCount - FixedSectors; ++k)
    SectorBase()[static_cast<size_t>(FixedSectors + k)] =
        FirstLargeSector + static_cast<uint32_t>(k) * LargeSectorSize;
  SetSectorFlags(0);
  EraseCommands() = {Unlock1, Unlock2, EraseSetup, Unlock1, Unlock2};
  ProgramCommands() = {Unlock1, Unlock2, ProgramSetup};
}

void SetSectorFlags(uint8_t value) {
  SectorFlags().fill(value);
}

void EraseSector(int sector) {
  for (const std::string& line : EraseCommands()) SendCommand(line, 1);
  SendCommand(
      FlashWritePrefix + ToHex(SectorBase()[static_cast<size_t>(sector)], 8) + SectorEraseData, 1);
}

void ProgramWord(uint32_t address, uint32_t value) {
  for (const std::string& line : ProgramCommands()) SendCommand(line, 1);
  SendCommand(FlashWritePrefix + ToHex(address, 8) + ToHex(value, 8), 1);
}

void ReadFlashBlock(uint32_t address, uint8_t* block) {
  std::string command = ReadCommandPrefix + ToHex(address, 8);
  ReadBlock(command, [address] { return "the flash block at " + ToHex(address, 8); }, block,
            ReadBlockBytes,
            [&](uint8_t* destination) {
    std::string reply = SendCommand(command, 1);
    HexData data = DecodeHexWords256(reply, ReadReplyDataOffset, destination);
    if (data != HexData::Good) throw EBadReply(command, DescribeHexData(data, reply));
  });
}

}  // namespace protocol

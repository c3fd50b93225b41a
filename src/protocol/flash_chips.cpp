#include "protocol/flash_chips.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "protocol/clock.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/resync.h"
#include "protocol/transaction.h"

namespace protocol {

namespace {

constexpr uint32_t UnlockAddress = FlashBase + 0x1554;  // word 555 of each chip
constexpr uint8_t AutoselectCommand = 0x90;
constexpr uint8_t ReadArrayCommand = 0xF0;
constexpr uint8_t UnlockBypassCommand = 0x20;
constexpr uint8_t BypassResetCommand = 0x90;
constexpr uint8_t BypassResetData = 0x00;

// Common 8-Mbit bottom-boot parts, as two of them make the deco's flash.
constexpr std::array<FlashPart, 4> KnownParts = {{
    {0x01, 0x225B, "AMD Am29LV800BB", true},
    {0x01, 0x2258, "AMD Am29F800BB", false},
    {0x04, 0x225B, "Fujitsu MBM29LV800BA", true},
    {0x20, 0x225B, "ST M29W800DB", true},
}};

void Unlock(DecoLink& link) {
  SendCommand(link, ProgramCommands[0], 1);
  SendCommand(link, ProgramCommands[1], 1);
}

}  // namespace

std::string ChipCommandLine(uint32_t address, uint8_t command) {
  return "0220" + ToHex(address, 8) + ToHex(ChipCommandWord(command), 8);
}

const FlashPart* FindFlashPart(const ChipCodes& codes) {
  for (const FlashPart& part : KnownParts)
    if (part.Manufacturer == codes.Manufacturer && part.Device == codes.Device) return &part;
  return nullptr;
}

const char* WiringName(HighByteWiring wiring) {
  switch (wiring) {
    case HighByteWiring::Reversed: return "reversed";
    case HighByteWiring::Straight: return "straight";
    case HighByteWiring::Either: break;
  }
  return "either";
}

std::string CodesText(const ChipCodes& codes) {
  // A manufacturer code beyond a byte is a chip answering otherwise than expected: shown whole.
  return ToHex(codes.Manufacturer, codes.Manufacturer > 0xFF ? 4 : 2) + " " +
         ToHex(codes.Device, 4);
}

FlashChips IdentifyFlashChips(DecoLink& link) {
  std::array<uint8_t, ReadBlockBytes> block{};
  try {
    Unlock(link);
    SendCommand(link, ChipCommandLine(UnlockAddress, AutoselectCommand), 1);
    ReadFlashBlock(link, FlashBase, block.data());
    SendCommand(link, ChipCommandLine(FlashBase, ReadArrayCommand), 1);
  } catch (...) {
    // Chips left in autoselect mode would hear no erase or program command.
    try {
      SendCommand(link, ChipCommandLine(FlashBase, ReadArrayCommand), 1);
    } catch (...) {
    }
    throw;
  }
  const uint32_t manufacturer = FlashWord(block.data());
  const uint32_t device = FlashWord(block.data() + 4);
  FlashChips chips;
  chips.Lower = {static_cast<uint16_t>(manufacturer), static_cast<uint16_t>(device)};
  auto upper = [&](HighByteWiring wiring) {
    return ChipCodes{UpperLaneValue(manufacturer, wiring), UpperLaneValue(device, wiring)};
  };
  const bool reversed = upper(HighByteWiring::Reversed) == chips.Lower;
  const bool straight = upper(HighByteWiring::Straight) == chips.Lower;
  chips.Upper = upper(straight && !reversed ? HighByteWiring::Straight : HighByteWiring::Reversed);
  if (reversed || straight) {
    chips.UpperHighByte = reversed && straight ? HighByteWiring::Either
                          : reversed           ? HighByteWiring::Reversed
                                               : HighByteWiring::Straight;
    chips.Part = FindFlashPart(chips.Lower);
  }
  return chips;
}

std::optional<uint32_t> WaitSectorErased(DecoLink& link, int sector, StopToken stop) {
  const uint32_t address = SectorBase[static_cast<size_t>(sector)];
  Clock& clock = link.Time();
  const uint64_t start = clock.NowMs();
  const Deadline limit(clock, static_cast<int32_t>(EraseTimeLimitMs), Deadline::Of::Pause);
  std::array<uint8_t, ReadBlockBytes> block{};
  bool erasedBefore = false;
  for (;;) {
    ReadFlashBlock(link, address, block.data());
    const uint64_t elapsed = clock.NowMs() - start;
    const bool erased =
        std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0xFF; });
    // One all-FF read may come before the erase is done; the status's toggle bits stand still
    // only once it is, so the read right after it must agree.
    if (erased && erasedBefore) return static_cast<uint32_t>(elapsed);
    erasedBefore = erased;
    if (erased) continue;
    if (limit.Passed())
      throw std::runtime_error("Sector " + std::to_string(sector) + " was not erased within " +
                               std::to_string(EraseTimeLimitMs / 1000) + " s (" +
                               ToHex(address, 8) + " reads " + ToHex(FlashWord(block.data()), 8) +
                               ")");
    if (stop.Requested()) return std::nullopt;
    clock.SleepMs(ErasePollIntervalMs);
  }
}

void EnterUnlockBypass(DecoLink& link) {
  Unlock(link);
  SendCommand(link, ChipCommandLine(UnlockAddress, UnlockBypassCommand), 1);
}

void BypassProgramWord(DecoLink& link, uint32_t address, uint32_t value) {
  SendCommand(link, ProgramCommands[2], 1);
  SendCommand(link, "0220" + ToHex(address, 8) + ToHex(value, 8), 1);
}

void LeaveUnlockBypass(DecoLink& link) {
  SendCommand(link, ChipCommandLine(FlashBase, BypassResetCommand), 1);
  SendCommand(link, ChipCommandLine(FlashBase, BypassResetData), 1);
}

void LeaveUnlockBypassAfterFailure(DecoLink& link, uint32_t address) noexcept {
  for (int round = 0; round < 2; ++round) {
    for (uint8_t command : {BypassResetCommand, BypassResetData}) {
      try {
        SendCommand(link, ChipCommandLine(address, command), 1);
      } catch (...) {
        // A line that is gone or still failing: the next job's start leaves bypass instead.
      }
    }
  }
}

void ReturnChipsToRead(DecoLink& link) {
  // Chips cut off after a program set-up take the next cycle as the word's data: all ones,
  // which programming cannot add to any word, so that a READ never changes the flash.
  SendCommand(link, "0220" + ToHex(FlashBase, 8) + ToHex(UnchangingData, 8), 1);
  for (int round = 0; round < 2; ++round) LeaveUnlockBypass(link);
  SendCommand(link, ChipCommandLine(FlashBase, ReadArrayCommand), 1);
  // Now that the chips read the array, what this deco's flash replies look like.
  const ResyncResult learned = LearnReplyForm(link, ReplyKind::FlashBlock);
  if (!learned.InStep)
    throw std::runtime_error("the deco's flash replies could not be learned: " + learned.Why);
  if (learned.Discarded > 0) PostStatus(link, DiscardedNote(learned));
}

}  // namespace protocol

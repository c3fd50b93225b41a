// The deco's 2 MB flash: its 19 sectors, per-sector flags, and the command sequences that
// erase a sector and program one 32-bit word (common JEDEC NOR sequences).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/deco_link.h"

namespace protocol {

inline constexpr int SectorCount = 19;
inline constexpr int ProtectedSector = 18;
inline constexpr int LastChannelSector = 6;
inline constexpr uint32_t FlashBase = 0x7FE00000u;
// Sectors 0..2 are only erased by a write; from this sector on the image's words are programmed.
inline constexpr int FirstProgrammedSector = 3;
// After erasing sector 0 a write programs this many zero words at its start.
inline constexpr int ZeroWordsAtStart = 8;

// Entries 0..18: first address of each sector; entry 19: the first address after the flash.
// Sectors 0..4 are of 32, 16, 16, 64 and 128 KB; the rest of 128 KB each.
inline constexpr std::array<uint32_t, SectorCount + 1> SectorBase = {
    0x7FE00000u, 0x7FE08000u, 0x7FE0C000u, 0x7FE10000u, 0x7FE20000u, 0x7FE40000u, 0x7FE60000u,
    0x7FE80000u, 0x7FEA0000u, 0x7FEC0000u, 0x7FEE0000u, 0x7FF00000u, 0x7FF20000u, 0x7FF40000u,
    0x7FF60000u, 0x7FF80000u, 0x7FFA0000u, 0x7FFC0000u, 0x7FFE0000u, 0x80000000u};
// One flag per sector (and one for the end): nonzero = to be written, or found to differ.
using SectorFlags = std::array<uint8_t, SectorCount + 1>;

// The JEDEC unlock cycles before a sector erase and before programming a word.
inline constexpr std::array<const char*, 5> EraseCommands = {
    "02207FE01554005500AA", "02207FE00AA800AA0055", "02207FE0155400010080", "02207FE01554005500AA",
    "02207FE00AA800AA0055"};
inline constexpr std::array<const char*, 3> ProgramCommands = {
    "02207FE01554005500AA", "02207FE00AA800AA0055", "02207FE01554000500A0"};

// The word whose little-endian bytes begin at bytes, as image files and read blocks hold words.
inline uint32_t FlashWord(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

// The size of sector s in bytes.
constexpr uint32_t SectorSize(int s) {
  return SectorBase[static_cast<size_t>(s) + 1] - SectorBase[static_cast<size_t>(s)];
}

// The read of the 256 bytes at address.
std::string FlashBlockCommand(uint32_t address);
void EraseSector(DecoLink& link, int sector);
void ProgramWord(DecoLink& link, uint32_t address, uint32_t value);
// Reads the 256 bytes at address into block (little-endian words, as image files hold them);
// a reply that does not carry them, or is not of the form the link learned, throws EBadReply
// naming the command.
void ReadFlashBlock(DecoLink& link, uint32_t address, uint8_t* block);

}  // namespace protocol

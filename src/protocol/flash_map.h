// The deco's 2 MB flash: its 19 sectors, per-sector flags, and the command sequences that
// erase a sector and program one 32-bit word (common JEDEC NOR sequences).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

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
std::array<uint32_t, SectorCount + 1>& SectorBase();
// Nonzero: the sector is to be written (write job) or differs (verify).
std::array<uint8_t, SectorCount + 1>& SectorFlags();
std::vector<std::string>& EraseCommands();
std::vector<std::string>& ProgramCommands();

// Fills SectorBase(), clears SectorFlags() and fills the two command tables.
void FillFlashTables();
void SetSectorFlags(uint8_t value);
void EraseSector(int sector);
void ProgramWord(uint32_t address, uint32_t value);
// Reads the 256 bytes at address into block (little-endian words, as image files hold them);
// a reply that does not carry them throws EBadReply naming the command.
void ReadFlashBlock(uint32_t address, uint8_t* block);

}  // namespace protocol

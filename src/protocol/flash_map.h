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

// Entries 0..18: first address of each sector; entry 19: the first address after the flash.
extern std::array<uint32_t, SectorCount + 1> SectorBase;
// Nonzero: the sector is to be written (write job) or differs (verify).
extern std::array<uint8_t, SectorCount + 1> SectorFlags;
extern std::vector<std::string> EraseCommands;
extern std::vector<std::string> ProgramCommands;

// Fills SectorBase, clears SectorFlags and fills the two command tables.
void FillFlashTables();
void SetSectorFlags(uint8_t value);
void EraseSector(int sector);
void ProgramWord(uint32_t address, uint32_t value);

}  // namespace protocol

// Reading and writing the deco's 2 KB EEPROM in sixteen lines of 128 bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/hex_codec.h"

namespace protocol {

inline constexpr int EepromLines = 16;
inline constexpr int EepromBytes = EepromLines * EepromLineBytes;

std::array<uint8_t, EepromLineBytes>& EepromBuffer();

// Reads the EEPROM into fileName. Throws on a serial error, a bad reply or a file error.
bool ReadEeprom(const std::string& fileName);
// The EEPROM's 2 KB, read without a file or a log line.
std::string ReadEepromImage();
// Writes fileName into the EEPROM; refuses a missing or short file before sending anything.
bool WriteEeprom(const std::string& fileName);

}  // namespace protocol

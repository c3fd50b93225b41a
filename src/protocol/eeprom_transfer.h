// Reading and writing the deco's 2 KB EEPROM in sixteen lines of 128 bytes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "protocol/deco_link.h"
#include "protocol/hex_codec.h"
#include "protocol/stop_token.h"

namespace protocol {

inline constexpr int EepromLines = 16;
inline constexpr int EepromBytes = EepromLines * EepromLineBytes;

using EepromLine = std::array<uint8_t, EepromLineBytes>;

// Reads line (0-15), repeating a failed read as the link's read policy allows.
EepromLine ReadEepromLine(DecoLink& link, int line);
// Reads the EEPROM into fileName. Throws on a serial error, a bad reply or a file error.
bool ReadEeprom(DecoLink& link, const std::string& fileName);
// The EEPROM's 2 KB into image, read without a file or a log line. A stop request, looked at
// before each line, ends the reading: then false, and image holds the lines read. lineRead, when
// given, hears of each line as it comes, for a progress bar.
bool ReadEepromImage(DecoLink& link, std::string& image, StopToken stop = {},
                     const std::function<void()>& lineRead = {});
// Writes fileName into the EEPROM; refuses a missing or short file before sending anything.
bool WriteEeprom(DecoLink& link, const std::string& fileName);

}  // namespace protocol

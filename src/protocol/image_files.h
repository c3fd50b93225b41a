// Firmware, channel and EEPROM image files: raw memory contents, flash images as little-endian
// 32-bit words.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace protocol {

inline constexpr int64_t FirmwareImageBytes = 2097152;
inline constexpr int64_t ChannelImageBytes = 524288;
inline constexpr int64_t EepromImageBytes = 2048;
inline constexpr int32_t ChannelWords = 131072;

// Size in bytes; 0 when no such file exists; -1 when it exists but cannot be opened. A file
// larger than the 32-bit result can hold answers its largest value, never a wrapped one.
int32_t FileSizeOf(const std::string& name);
// The same with the full 64-bit size.
int64_t FileSize64(const std::string& name);

// Writes the first count 32-bit words of source into a new destination. False, and nothing
// created, when source holds fewer than 4 * count bytes; EFileError when a file fails.
bool CopyLeadingWords(const std::string& source, const std::string& destination, int32_t count);

// Builds output from the channel image's whole words followed by the firmware's words beyond
// them; answers the number of whole words in firmware. addLine receives the log line.
int32_t MergeChannelIntoFirmware(const std::string& channel, const std::string& firmware,
                                 const std::string& output,
                                 const std::function<void(const std::string&)>& addLine);

// Up to maxBytes from the start of name; EFileError when it cannot be opened or read.
std::string ReadWholeFile(const std::string& name, int64_t maxBytes);

// The file-name part of a path, without its folder.
std::string BareFileName(const std::string& path);
// Whether two names lead to the same existing file.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace protocol

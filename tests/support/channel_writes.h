// The channel-list WRITEs that the fault tests give the simulated deco, and what each promises
// the flash holds after it: sector 0 erased with its zero words, and for the fast WRITE sector 3
// with new code in its first block and blank after.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/flash_map.h"
#include "protocol/image_files.h"

namespace testing_support {

inline constexpr uint32_t Sector0Size = 0x8000;
inline constexpr uint32_t ZeroBytesAtStart = 4 * protocol::ZeroWordsAtStart;
inline constexpr uint32_t FastSector = 0x10000;  // sector 3
inline constexpr uint32_t FastSectorSize = 0x10000;
inline constexpr uint32_t FastCodeBytes = 256;

// What the channel list holds after the WRITE, from the flash before it.
inline std::string PromisedChannel(const std::string& flashBefore, bool fast) {
  std::string promised = flashBefore.substr(0, protocol::ChannelImageBytes);
  for (uint32_t i = 0; i < Sector0Size; ++i)
    promised[i] = static_cast<char>(i < ZeroBytesAtStart ? 0 : 0xFF);
  if (fast) {
    for (uint32_t i = FastSector; i < FastSector + FastSectorSize; ++i)
      promised[i] = static_cast<char>(i < FastSector + FastCodeBytes ? promised[i] ^ 0x5A : 0xFF);
  }
  return promised;
}

}  // namespace testing_support

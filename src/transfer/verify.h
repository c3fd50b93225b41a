// Comparing an image file with a read-back of the flash, sector by sector.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/flash_map.h"

namespace transfer {

// What a comparison found beyond its count.
struct VerifyDetail {
  bool WholeImage = true;  // the read-back was long enough to compare all of the image
  std::array<int64_t, protocol::SectorCount> DifferingWords{};  // per sector
};

// Flags every sector that holds a differing word and logs the result; answers the number of
// differing 32-bit words below the verification limit.
int32_t VerifyBlocks(const std::string& imageFile, const std::string& readBackFile,
                     VerifyDetail* detail = nullptr);

}  // namespace transfer

// Comparing an image file with a read-back of the flash, sector by sector.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "protocol/flash_map.h"

namespace transfer {

// What a comparison found.
struct VerifyResult {
  // The differing 32-bit words below the verification limit (sector 18 of a protected model is
  // not compared).
  int32_t Count = 0;
  protocol::SectorFlags SectorFlags{};  // nonzero: the sector holds a differing word
  std::array<int64_t, protocol::SectorCount> DifferingWords{};  // per sector
  bool WholeImage = true;  // the read-back was long enough to compare all of the image
  std::vector<int> DifferingSectors() const;
};

// Compares the image with the read-back word by word and logs the result through the link's
// status line. Sector 18 of a deco that protects it is not compared.
VerifyResult VerifyBlocks(protocol::DecoLink& link, bool block18Protected,
                          const std::string& imageFile, const std::string& readBackFile);
// The same with the image's imageSize bytes given as a stream (named imageFile in messages): an
// image as a write leaves it, for one.
VerifyResult VerifyBlocks(protocol::DecoLink& link, bool block18Protected, std::istream& image,
                          int64_t imageSize, const std::string& imageFile,
                          const std::string& readBackFile);

}  // namespace transfer

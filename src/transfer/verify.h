// Comparing an image file with a read-back of the flash, sector by sector.
#pragma once

#include <cstdint>
#include <string>

namespace transfer {

// Flags every sector that holds a differing word and logs the result; answers the number of
// differing 32-bit words below the verification limit. wholeImage, when given, tells whether
// the read-back was long enough to compare all of the image.
int32_t VerifyBlocks(const std::string& imageFile, const std::string& readBackFile,
                     bool* wholeImage = nullptr);

}  // namespace transfer

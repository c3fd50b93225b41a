// With parity checking on, the Linux line discipline marks a byte received with a parity or
// framing error as FF 00 c and doubles a real FF byte (PARMRK). On a 7-bit line a real byte is
// never FF, so the marker is unambiguous.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serial {

struct UnmarkResult {
  size_t Written = 0;   // bytes stored in out
  size_t Consumed = 0;  // raw bytes used; the rest is an incomplete marker to keep for later
  bool ParityError = false;
};

UnmarkResult RemoveParityMarks(const uint8_t* raw, size_t rawCount, uint8_t* out, size_t room);
// How many bytes RemoveParityMarks makes of the complete markers and bytes in raw: what a
// caller may count on receiving.
size_t UnmarkedCount(const uint8_t* raw, size_t rawCount);

}  // namespace serial

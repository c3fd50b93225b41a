#include "serial/parity_marks.h"

namespace serial {

namespace {
constexpr uint8_t MarkByte = 0xFF;
}

UnmarkResult RemoveParityMarks(const uint8_t* raw, size_t rawCount, uint8_t* out, size_t room) {
  UnmarkResult result;
  size_t i = 0;
  while (i < rawCount && result.Written < room) {
    if (raw[i] != MarkByte) {
      out[result.Written++] = raw[i++];
      continue;
    }
    if (i + 1 >= rawCount) break;
    if (raw[i + 1] == MarkByte) {
      out[result.Written++] = MarkByte;
      i += 2;
      continue;
    }
    if (i + 2 >= rawCount) break;
    result.ParityError = true;
    out[result.Written++] = raw[i + 2];
    i += 3;
  }
  result.Consumed = i;
  return result;
}

size_t UnmarkedCount(const uint8_t* raw, size_t rawCount) {
  size_t count = 0;
  size_t i = 0;
  while (i < rawCount) {
    size_t length = raw[i] != MarkByte ? 1 : (i + 1 < rawCount && raw[i + 1] == MarkByte ? 2 : 3);
    if (i + length > rawCount) break;
    ++count;
    i += length;
  }
  return count;
}

}  // namespace serial

// Small routines shared by the serial layer and its users: tick arithmetic, line ends, the
// joined-text lists of port names and 32-bit byte order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace serial {

// Milliseconds on the system's monotonic tick; wraps like the classic 32-bit counter.
uint32_t CurrentTick();

// Milliseconds elapsed from earlier to later, with the wrap rule of the 32-bit tick.
uint32_t TickSpan(uint32_t earlier, uint32_t later);

// The earliest line end in text: position is 1-based (0 = none), form is the end found
// (CR LF, LF CR, CR or LF; empty when none).
struct LineEnd {
  size_t Position = 0;
  std::string Form;
};
LineEnd FindLineEnd(const std::string& text);

// Takes one field off the front of remaining; quote characters stay in the item.
std::string FetchItem(std::string& remaining, char delimiter, char quote);

// Clears list and adds one trimmed item for every field of text.
void SplitList(const std::string& text, char delimiter, std::vector<std::string>& list);

// Joins names with commas, quoting the ones that need it.
std::string JoinList(const std::vector<std::string>& names);

std::string PackInt32BE(uint32_t value);
uint32_t ReverseBytes32(uint32_t value);

}  // namespace serial

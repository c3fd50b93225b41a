// Small routines shared by the serial layer and its users: the monotonic clock and time-outs on
// it, tick arithmetic, wire time, line ends, the joined-text lists of port names and 32-bit byte
// order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace serial {

// Milliseconds from an arbitrary start on the program's one monotonic clock: it never jumps with
// the wall clock and, being 64-bit, never wraps. Every time-out and duration reads this.
uint64_t MonotonicMs();
// The same clock in microseconds, for waits on the characters of a line.
uint64_t MonotonicUs();

// The classic 32-bit tick: MonotonicMs cut to 32 bits, so it wraps as the classic counter does.
uint32_t CurrentTick();

// Milliseconds elapsed from earlier to later, with the wrap rule of the 32-bit tick.
uint32_t TickSpan(uint32_t earlier, uint32_t later);

// The end of a time-out that starts now (or at startMs), on MonotonicMs. A wait that goes in
// steps asks it what is left rather than subtracting what each step took.
class Deadline {
 public:
  // A negative time-out has no end. The clock reads whole milliseconds: the wait begins up to
  // one after the reading, so a time-out from now lasts one more, never less than asked.
  explicit Deadline(int32_t timeoutMs) : Deadline(StartingAt(timeoutMs, MonotonicMs())) {}
  Deadline(int32_t timeoutMs, uint64_t startMs);
  // A time-out from nowMs, a reading of another clock of whole milliseconds, with the same
  // rounding.
  static Deadline StartingAt(int32_t timeoutMs, uint64_t nowMs) {
    return Deadline(timeoutMs > 0 && timeoutMs < INT32_MAX ? timeoutMs + 1 : timeoutMs, nowMs);
  }

  // What is left for the next wait: never negative once there is an end (0 when it has
  // passed); -1, the waits' "no limit", when there is none.
  int32_t LeftMs() const { return LeftMs(MonotonicMs()); }
  int32_t LeftMs(uint64_t nowMs) const;
  bool Passed() const { return Passed(MonotonicMs()); }
  bool Passed(uint64_t nowMs) const { return LeftMs(nowMs) == 0; }

 private:
  bool endless_;
  uint64_t endMs_;
};

// What a character takes on the line: start, seven data, parity and stop (or eight data without
// parity).
inline constexpr int64_t BitsPerCharacter = 10;
// Milliseconds the line takes for characters at baud; a speed not yet set (0) counts as 9600.
int64_t WireTimeMs(int64_t characters, uint32_t baud);
// The same in microseconds, for waits shorter than a millisecond.
int64_t WireTimeUs(int64_t characters, uint32_t baud);

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

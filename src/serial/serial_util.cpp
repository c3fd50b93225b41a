#include "serial/serial_util.h"

#include <chrono>
#include <limits>

namespace serial {

namespace {
constexpr uint32_t TopBit = 0x80000000u;
constexpr uint32_t UnsetBaud = 9600;
}  // namespace

// The standard's steady clock is monotonic by contract on every system the program builds for,
// so the one clock needs no code of its own per system.
uint64_t MonotonicMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t MonotonicUs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t CurrentTick() {
  return static_cast<uint32_t>(MonotonicMs());
}

uint32_t TickSpan(uint32_t earlier, uint32_t later) {
  if (earlier == later) return 0;
  if (earlier < later) return later - earlier;
  if ((earlier & TopBit) == (later & TopBit)) return earlier - later;
  return later - earlier;  // unsigned arithmetic gives the distance across the wrap
}

Deadline::Deadline(int32_t timeoutMs, uint64_t startMs)
    : endless_(timeoutMs < 0),
      endMs_(startMs + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs)) {}

int32_t Deadline::LeftMs(uint64_t nowMs) const {
  if (endless_) return -1;
  if (nowMs >= endMs_) return 0;
  uint64_t left = endMs_ - nowMs;
  constexpr uint64_t Longest = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(left < Longest ? left : Longest);
}

int64_t WireTimeMs(int64_t characters, uint32_t baud) {
  return characters * BitsPerCharacter * 1000 / (baud ? baud : UnsetBaud);
}

int64_t WireTimeUs(int64_t characters, uint32_t baud) {
  return characters * BitsPerCharacter * 1000000 / (baud ? baud : UnsetBaud);
}

LineEnd FindLineEnd(const std::string& text) {
  static const char* const Forms[] = {"\r\n", "\n\r", "\r", "\n"};
  LineEnd best;
  for (const char* form : Forms) {
    size_t at = text.find(form);
    if (at == std::string::npos) continue;
    size_t position = at + 1;
    if (best.Position == 0 || position < best.Position) {
      best.Position = position;
      best.Form = form;
    }
  }
  return best;
}

std::string FetchItem(std::string& remaining, char delimiter, char quote) {
  std::string item;
  bool inside = false;
  size_t i = 0;
  while (i < remaining.size()) {
    char c = remaining[i];
    if (inside) {
      item += c;
      ++i;
      if (c == quote) inside = false;
    } else {
      if (c == delimiter) {
        ++i;
        break;
      }
      item += c;
      ++i;
      inside = c == quote;
    }
  }
  remaining.erase(0, i);
  return item;
}

namespace {
std::string Trim(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

bool NeedsQuotes(const std::string& name) {
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 1 && u <= 32) || c == '"' || c == ',') return true;
  }
  return false;
}
}  // namespace

void SplitList(const std::string& text, char delimiter, std::vector<std::string>& list) {
  list.clear();
  std::string remaining = text;
  while (!remaining.empty()) list.push_back(Trim(FetchItem(remaining, delimiter, '"')));
}

std::string JoinList(const std::vector<std::string>& names) {
  if (names.size() == 1 && names[0].empty()) return "\"\"";
  std::string joined;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) joined += ',';
    const std::string& name = names[i];
    if (!NeedsQuotes(name)) {
      joined += name;
      continue;
    }
    joined += '"';
    for (char c : name) {
      if (c == '"') joined += '"';
      joined += c;
    }
    joined += '"';
  }
  return joined;
}

std::string PackInt32BE(uint32_t value) {
  std::string packed(4, '\0');
  for (int i = 0; i < 4; ++i) packed[i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
  return packed;
}

uint32_t ReverseBytes32(uint32_t value) {
  std::string packed = PackInt32BE(value);
  uint32_t result = 0;
  for (int i = 3; i >= 0; --i) result = (result << 8) | static_cast<unsigned char>(packed[i]);
  return result;
}

}  // namespace serial

#include "serial/serial_util.h"

#include "serial/port_backend.h"

namespace serial {

namespace {
constexpr uint32_t TopBit = 0x80000000u;
}

uint32_t CurrentTick() { return SystemTick(); }

uint32_t TickSpan(uint32_t earlier, uint32_t later) {
  if (earlier == later) return 0;
  if (earlier < later) return later - earlier;
  if ((earlier & TopBit) == (later & TopBit)) return earlier - later;
  return later - earlier;  // unsigned arithmetic gives the distance across the wrap
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

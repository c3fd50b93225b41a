#include "serial/line_trace.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "serial/port_backend.h"
#include "serial/system_name.h"

namespace serial {

namespace {

uint64_t NowUs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "2026-12-10 22:50:01 UTC": the same on every system and in every time zone.
std::string UtcNow() {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss time{now - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02ld:%02ld:%02ld UTC",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<long>(time.hours().count()),
                static_cast<long>(time.minutes().count()),
                static_cast<long>(time.seconds().count()));
  return text;
}

}  // namespace

uint32_t TraceChecksum(uint32_t crc, const std::string& data) {
  crc = ~crc;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

LineTrace::LineTrace(const std::string& path, const std::string& recorder)
    : file_(std::fopen(path.c_str(), "wb")), startUs_(NowUs()) {
  if (!file_)
    throw std::runtime_error("cannot create the trace " + path + ": " +
                             SystemErrorMessage(errno));
  Put("# pyrelink line trace: microseconds, event, text\n");
  Put("# recorded " + UtcNow() + (recorder.empty() ? "" : " by " + recorder) + " on " +
      SystemName() + "\n");
}

LineTrace::~LineTrace() {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(checksum_));
  std::fprintf(file_, "%s%s\n", ChecksumComment, hex);
  std::fclose(file_);
}

void LineTrace::Put(const std::string& text) {
  std::fputs(text.c_str(), file_);
  std::fflush(file_);
  checksum_ = TraceChecksum(checksum_, text);
}

void LineTrace::WriteLine(const std::string& event, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  char time[24];
  std::snprintf(time, sizeof time, "%10llu ", static_cast<unsigned long long>(NowUs() - startUs_));
  Put(time + event + " " + text + "\n");
}

void LineTrace::Event(const std::string& event, const std::string& text) {
  // A marker's text is one line, whatever it holds.
  WriteLine(event, EscapeBytes(text));
}

void LineTrace::Bytes(const char* event, const uint8_t* data, size_t count) {
  WriteLine(event, EscapeBytes(std::string(reinterpret_cast<const char*>(data), count)));
}

std::string EscapeBytes(const std::string& bytes) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\\') {
      text += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += Digits[c >> 4];
      text += Digits[c & 0xF];
    }
  }
  return text;
}

bool UnescapeBytes(const std::string& text, std::string& bytes) {
  bytes.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case 'r': bytes += '\r'; break;
      case 'n': bytes += '\n'; break;
      case '\\': bytes += '\\'; break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high << 4 | low);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

bool ParseTraceLine(const std::string& line, TraceEvent& event) {
  size_t at = line.find_first_not_of(' ');
  if (at == std::string::npos || line[at] == '#') return false;
  size_t end = line.find(' ', at);
  if (end == std::string::npos) return false;
  const std::string number = line.substr(at, end - at);
  if (number.find_first_not_of("0123456789") != std::string::npos) return false;
  event.Us = std::stoull(number);
  const size_t eventEnd = line.find(' ', end + 1);
  if (eventEnd == std::string::npos) return false;
  event.Event = line.substr(end + 1, eventEnd - end - 1);
  return UnescapeBytes(line.substr(eventEnd + 1), event.Text);
}

bool ParseSpeedEvent(const std::string& text, uint32_t& baud) {
  const size_t end = text.find(' ');
  const std::string number = text.substr(0, end);
  if (number.empty() || number.size() > 9 ||
      number.find_first_not_of("0123456789") != std::string::npos)
    return false;
  // "<speed> <frame> failed: <why>": the port kept its speed.
  if (end != std::string::npos && text.find(" failed", end) != std::string::npos) return false;
  baud = static_cast<uint32_t>(std::stoul(number));
  return true;
}

}  // namespace serial

#include "serial/line_trace.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "serial/port_backend.h"

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

}  // namespace

LineTrace::LineTrace(const std::string& path) : file_(std::fopen(path.c_str(), "w")), startUs_(NowUs()) {
  if (!file_)
    throw std::runtime_error("cannot create the trace " + path + ": " +
                             SystemErrorMessage(errno));
  std::fputs("# pyrelink line trace: microseconds, event, text\n", file_);
  std::fflush(file_);
}

LineTrace::~LineTrace() { std::fclose(file_); }

void LineTrace::WriteLine(const std::string& event, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(file_, "%10llu %s %s\n", static_cast<unsigned long long>(NowUs() - startUs_),
               event.c_str(), text.c_str());
  std::fflush(file_);
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

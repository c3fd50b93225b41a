// A record of the line for the first look at a deco that behaves otherwise than expected: every
// byte sent and received with its time and direction, grouped as it passed the port, the port's
// events, and the tool's own markers. One event a line, written (and flushed) as it happens, so
// a crash loses nothing already seen:
//   <microseconds from the start> <event> <text>
// Events: open, speed, purge, error, close (the port's); send, recv (bytes, escaped: \r, \n,
// a backslash doubled and \xNN for anything not printable, so a line holds exactly what passed);
// mark (the tool's: job, status, retry, resync). Lines that begin with # are comments.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace serial {

class LineTrace {
 public:
  // Creates path anew; a file that cannot be made throws std::runtime_error saying why.
  explicit LineTrace(const std::string& path);
  ~LineTrace();
  LineTrace(const LineTrace&) = delete;
  LineTrace& operator=(const LineTrace&) = delete;

  void Event(const std::string& event, const std::string& text);
  void Bytes(const char* event, const uint8_t* data, size_t count);

 private:
  void WriteLine(const std::string& event, const std::string& text);

  std::mutex mutex_;
  std::FILE* file_;
  uint64_t startUs_;
};

struct TraceEvent {
  uint64_t Us = 0;
  std::string Event;
  std::string Text;  // bytes of send and recv unescaped
};

// The trace's form of bytes, and back; false for a text that is no escaped form.
std::string EscapeBytes(const std::string& bytes);
bool UnescapeBytes(const std::string& text, std::string& bytes);
// One line of a trace; false for a comment, an empty line or a line of another form.
bool ParseTraceLine(const std::string& line, TraceEvent& event);
// The speed a speed event's text ("115200 7E1") set the port to; false when setting it failed
// or the text is of another form.
bool ParseSpeedEvent(const std::string& text, uint32_t& baud);

}  // namespace serial

// A record of the line for the first look at a deco that behaves otherwise than expected: every
// byte sent and received with its time and direction, grouped as it passed the port, the port's
// events, and the tool's own markers. One event a line, written (and flushed) as it happens, so
// a crash loses nothing already seen:
//   <microseconds from the start> <event> <text>
// Events: open, speed, purge, error, close (the port's); send, recv (bytes, escaped: \r, \n,
// a backslash doubled and \xNN for anything not printable, so a line holds exactly what passed);
// mark (the tool's: job, status, retry, resync, port, message, exit). Lines that begin with # are
// comments: the head says when, by which program and on which system the trace was recorded;
// the last line, written when the recording ends, holds a checksum of every byte before it, so
// that a trace changed afterwards can be told from one as recorded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace serial {

class LineTrace {
 public:
  // Creates path anew, its head naming recorder ("pyrelink-cli 1.0.0"); a file that cannot be
  // made throws std::runtime_error saying why.
  explicit LineTrace(const std::string& path, const std::string& recorder = "");
  ~LineTrace();
  LineTrace(const LineTrace&) = delete;
  LineTrace& operator=(const LineTrace&) = delete;

  void Event(const std::string& event, const std::string& text);
  void Bytes(const char* event, const uint8_t* data, size_t count);

 private:
  void WriteLine(const std::string& event, const std::string& text);
  // Writes text and adds it to the checksum; under mutex_ once the trace is shared.
  void Put(const std::string& text);

  std::mutex mutex_;
  std::FILE* file_;
  uint64_t startUs_;
  uint32_t checksum_ = 0;
};

// The comment that ends a trace: the checksum of every byte before it.
inline constexpr const char* ChecksumComment = "# checksum crc32 ";
// The CRC-32 (as zip files have it) of data, going on from crc, the value of the bytes before.
uint32_t TraceChecksum(uint32_t crc, const std::string& data);

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

#include "sim/replay.h"

#include <fstream>
#include <iostream>
#include <stdexcept>

#include "serial/line_trace.h"

namespace sim {

namespace {
constexpr const char* LineEnd = "\r\n";
}

Replay::Replay(const std::string& path, double speed) : speed_(speed > 0 ? speed : 1) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read the trace " + path);
  std::string sent;          // bytes sent that do not yet end a command line
  bool replyBegun = false;   // the last command's reply has its first bytes
  uint64_t sentUs = 0;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    serial::TraceEvent event;
    if (!serial::ParseTraceLine(text, event)) {
      const size_t first = text.find_first_not_of(' ');
      if (first == std::string::npos || text[first] == '#') continue;
      throw std::runtime_error(path + ":" + std::to_string(number) + ": not a trace line: " + text);
    }
    if (event.Event == "send") {
      sent += event.Text;
      for (size_t end; (end = sent.find(LineEnd)) != std::string::npos;) {
        exchanges_.push_back({sent.substr(0, end), "", 0, number});
        sent.erase(0, end + 2);
        sentUs = event.Us;
        replyBegun = false;
      }
    } else if (event.Event == "recv" && !exchanges_.empty()) {
      // Bytes before the first command were left on the line by someone else: not a reply.
      Exchange& last = exchanges_.back();
      if (!replyBegun) last.DelayUs = event.Us - sentUs;
      replyBegun = true;
      last.Reply += event.Text;
    }
  }
}

std::optional<ReplayAnswer> Replay::Answer(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!parting_.empty()) return std::nullopt;
  if (next_ >= exchanges_.size()) {
    parting_ = "the tool sent \"" + serial::EscapeBytes(line) +
               "\" after the trace's last command";
  } else if (exchanges_[next_].Command != line) {
    const Exchange& expected = exchanges_[next_];
    parting_ = "command " + std::to_string(next_ + 1) + ": the tool sent \"" +
               serial::EscapeBytes(line) + "\", the trace holds \"" +
               serial::EscapeBytes(expected.Command) + "\" (its line " +
               std::to_string(expected.TraceLine) + ")";
  }
  if (!parting_.empty()) {
    std::cerr << "pyrelink-sim: the replay parts from the trace at " << parting_
              << "; no more answers\n";
    return std::nullopt;
  }
  const Exchange& exchange = exchanges_[next_++];
  return ReplayAnswer{exchange.Reply,
                      static_cast<int>(static_cast<double>(exchange.DelayUs) / 1000.0 / speed_)};
}

std::string Replay::Parting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return parting_;
}

bool Replay::Finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return next_ == exchanges_.size();
}

}  // namespace sim

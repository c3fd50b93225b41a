#include "sim/replay.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "serial/line_trace.h"

namespace sim {

namespace {
constexpr const char* LineEnd = "\r\n";
constexpr uint64_t BitsPerCharacter = 10;  // start, 7 data, parity, stop

uint64_t WireUs(size_t characters, uint32_t baud) {
  return baud ? characters * BitsPerCharacter * 1000000 / baud : 0;
}

bool StartsWith(const std::string& text, const char* start) {
  return text.rfind(start, 0) == 0;
}

// What a command asks of the deco, in a technician's words.
std::string StepOf(const std::string& command) {
  constexpr size_t FlashReadLength = 14;  // "0221FF" and an address
  if (command == "VORTANE") return "asks for service mode";
  if (command == "100") return "sends the deco to standby";
  if (StartsWith(command, "021020004000")) return "switches the line's speed";
  // The initialisation's reads are at addresses no block begins at.
  if (StartsWith(command, "0221FF") && command.size() == FlashReadLength &&
      command.compare(FlashReadLength - 2, 2, "00") == 0)
    return "reads the flash";
  if (StartsWith(command, "0610")) return "reads the EEPROM";
  if (StartsWith(command, "060")) return "writes the EEPROM";
  if (StartsWith(command, "0220")) return "sends the flash chips a command";
  return "initialises the deco";
}
}  // namespace

Replay::Replay(const std::string& path, double speed) : speed_(speed > 0 ? speed : 1) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read the trace " + path);
  Parse(in, path);
}

void Replay::Parse(std::istream& in, const std::string& path) {
  std::string sent;          // bytes sent that do not yet end a command line
  bool replyBegun = false;   // the last command's reply has its first bytes
  uint64_t sentUs = 0;
  uint32_t baud = 0;
  std::string text;
  uint32_t checksum = 0;
  for (int number = 1; std::getline(in, text); ++number) {
    if (StartsWith(text, serial::ChecksumComment)) {
      char hex[9];
      std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(checksum));
      seal_ = text.substr(std::string(serial::ChecksumComment).size()) == hex ? Seal::Intact
                                                                               : Seal::Changed;
      continue;
    }
    // Lines after the checksum were added later.
    if (seal_ == Seal::Intact) seal_ = Seal::Changed;
    checksum = serial::TraceChecksum(checksum, text + "\n");
    serial::TraceEvent event;
    if (!serial::ParseTraceLine(text, event)) {
      const size_t first = text.find_first_not_of(' ');
      if (first == std::string::npos || text[first] == '#') continue;
      throw std::runtime_error(path + ":" + std::to_string(number) + ": not a trace line: " + text);
    }
    if (event.Event == "mark" && job_.empty() && StartsWith(event.Text, "job ")) job_ = event.Text.substr(4);
    if (event.Event == "send") {
      sent += event.Text;
      for (size_t end; (end = sent.find(LineEnd)) != std::string::npos;) {
        Exchange exchange;
        exchange.Command = sent.substr(0, end);
        exchange.Baud = baud;
        exchange.TraceLine = number;
        exchanges_.push_back(exchange);
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
    } else if (event.Event == "speed") {
      uint32_t set = 0;
      if (!serial::ParseSpeedEvent(event.Text, set)) continue;
      if (!exchanges_.empty()) exchanges_.back().ReadAfterAWait = true;
      baud = set;
    }
  }
}

int Replay::DelayMsOf(const Exchange& exchange) const {
  // The speed switch's reply came as soon as the deco had heard it: the trace only says when the
  // tool, done waiting, read it.
  if (exchange.ReadAfterAWait) return 0;
  // The trace holds when the tool read the reply's first bytes; the command's bytes and the
  // reply's first took their wire time before: the reply goes no later than the tool read it.
  const uint64_t wire = WireUs(exchange.Command.size() + 2 + 1, exchange.Baud);
  const uint64_t delayUs = exchange.DelayUs > wire ? exchange.DelayUs - wire : 0;
  return static_cast<int>(static_cast<double>(delayUs) / 1000.0 / speed_);
}

void Replay::NoteWrongSpeed(const std::string& line, uint32_t baud, const Exchange& expected) {
  if (!wrongSpeed_.empty()) return;
  wrongSpeed_ = "the tool sent \"" + serial::EscapeBytes(line) + "\" at " + std::to_string(baud) +
                " baud; the trace heard it at " + std::to_string(expected.Baud) + " (its line " +
                std::to_string(expected.TraceLine) + ")";
  std::cerr << "pyrelink-sim: " << wrongSpeed_ << ": not answered\n";
}

std::optional<ReplayAnswer> Replay::Answer(const std::string& line, uint32_t baud) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!parting_.empty()) return std::nullopt;
  if (next_ >= exchanges_.size()) {
    parting_ = "after its last command (" + std::to_string(exchanges_.size()) +
               "): the tool sent \"" + serial::EscapeBytes(line) + "\"; it " + StepOf(line) +
               " where the trace's job had ended";
  } else if (exchanges_[next_].Command != line) {
    const Exchange& expected = exchanges_[next_];
    parting_ = "at command " + std::to_string(next_ + 1) + ": the tool sent \"" +
               serial::EscapeBytes(line) + "\", the trace holds \"" +
               serial::EscapeBytes(expected.Command) + "\" (its line " +
               std::to_string(expected.TraceLine) + "); " + HowTheJobsDiffer(line, expected);
  }
  if (!parting_.empty()) {
    std::cerr << "pyrelink-sim: the replay parts from the trace " << parting_
              << ". No more answers: the line is closed.\n";
    return std::nullopt;
  }
  // At another speed the traced deco would have heard noise: the tool must keep the trace's.
  const Exchange& exchange = exchanges_[next_];
  if (exchange.Baud != 0 && baud != exchange.Baud) {
    NoteWrongSpeed(line, baud, exchange);
    return std::nullopt;
  }
  ++next_;
  return ReplayAnswer{exchange.Reply, DelayMsOf(exchange)};
}

std::string Replay::HowTheJobsDiffer(const std::string& line, const Exchange& expected) const {
  const std::string job = job_.empty() ? "the trace's job" : "the trace's job (" + job_ + ")";
  if (StepOf(line) != StepOf(expected.Command))
    return "the tool " + StepOf(line) + " where " + job + " " + StepOf(expected.Command) +
           ": the tool runs another job than the trace's";
  return "the tool " + StepOf(line) + " as " + job +
         " did, with other data: other files or options than the trace's, or a changed dialogue";
}

std::vector<std::string> Replay::Describe(const std::string& path) const {
  std::vector<std::string> lines{"replaying " + path + ": " + std::to_string(exchanges_.size()) +
                                 " commands of " +
                                 (job_.empty() ? "a job it does not name" : "the job " + job_)};
  if (seal_ == Seal::Changed)
    lines.push_back("warning: " + path +
                    " was changed after it was recorded (its checksum does not match): the "
                    "answers may not be the deco's");
  if (seal_ == Seal::Unsealed)
    lines.push_back("note: " + path +
                    " has no checksum: its recording did not end (the tool was killed?), or an "
                    "older version made it");
  return lines;
}

std::string Replay::Parting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return parting_;
}

std::string Replay::WrongSpeed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wrongSpeed_;
}

bool Replay::Finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return next_ == exchanges_.size();
}

}  // namespace sim

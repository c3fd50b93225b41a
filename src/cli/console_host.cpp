#include "cli/console_host.h"

#include <unistd.h>

#include <cstdio>

#include "cli/typed_line.h"
#include "serial/serial_util.h"
#include "transfer/time_left.h"

namespace cli {

namespace {
constexpr int BarWidth = 30;
constexpr int PlainProgressStep = 10;

}  // namespace

ConsoleHost::ConsoleHost(bool assumeYes, std::FILE* out, std::FILE* err)
    : assumeYes_(assumeYes), out_(out), err_(err), barOnTerminal_(::isatty(::fileno(err)) != 0) {}

void ConsoleHost::SetLinePrefix(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(mutex_);
  linePrefix_ = prefix;
  barOnTerminal_ = false;
}

void ConsoleHost::ClearBar() {
  if (barShown_) {
    std::fputs("\r\033[K", err_);
    barShown_ = false;
  }
}

void ConsoleHost::PrintLine(const std::string& line) {
  if (OnRecord) OnRecord(line, false);
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBar();
  std::fprintf(out_, "%s%s\n", linePrefix_.c_str(), line.c_str());
  std::fflush(out_);
}

void ConsoleHost::PhaseStarted(transfer::PhaseKind, uint64_t bytes, const std::string& label) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The size of what the phase moves, for the throughput figure.
    phaseBytes_ = bytes;
    phaseStartMs_ = serial::MonotonicMs();
    lastProgress_ = 0;
    timeLeft_.reset();
  }
  if (OnPhase) OnPhase(label, true);
}

void ConsoleHost::PhaseEnded(transfer::PhaseKind, const std::string& label) {
  if (OnPhase) OnPhase(label, false);
}

void ConsoleHost::ShowStatusText(const std::string& line) {
  if (line.empty()) return;
  PrintLine(line);
}

void ConsoleHost::AddLogLine(const std::string& text) {
  PrintLine(text);
}

void ConsoleHost::UpdateProgress(int32_t progress, const std::string& message) {
  if (!message.empty()) PrintLine(message);
  if (progress < 0 || !message.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!barOnTerminal_) {
    // A log file wants a line per step, not per percentage point.
    if (progress % PlainProgressStep == 0)
      std::fprintf(err_, "%sprogress %d%%\n", linePrefix_.c_str(), progress);
    return;
  }
  DrawBar(progress);
}

void ConsoleHost::DrawBar(int32_t progress) {
  lastProgress_ = progress;
  double seconds = static_cast<double>(serial::MonotonicMs() - phaseStartMs_) / 1000.0;
  double done = static_cast<double>(phaseBytes_) * progress / 100.0;
  double rate = seconds > 0 ? done / seconds : 0;
  int filled = progress * BarWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(BarWidth - filled), '-');
  std::optional<uint64_t> left = timeLeft_;
  if (!left && progress > 0 && seconds > 0)
    left = static_cast<uint64_t>(seconds * (100 - progress) / progress);
  const std::string eta = left ? transfer::TimeLeft::Text(*left) : "--:--";
  std::fprintf(err_, "\r[%s] %3d%%  %7.1f KiB/s  ETA %s\033[K", bar.c_str(), progress,
               rate / 1024.0, eta.c_str());
  std::fflush(err_);
  barShown_ = true;
}

void ConsoleHost::ShowTimeLeft(uint64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  timeLeft_ = seconds;
  if (barOnTerminal_) DrawBar(lastProgress_);
}

void ConsoleHost::SetBarColour(uint32_t) {}

bool ConsoleHost::Confirm(const std::string& text) {
  if (assumeYes_) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBar();
  if (!::isatty(STDIN_FILENO)) {
    std::fprintf(err_, "%s -> No (no terminal to ask; --yes answers Yes)\n", text.c_str());
    return false;
  }
  std::fprintf(err_, "%s [y/N] ", text.c_str());
  std::fflush(err_);
  std::string answer;
  if (!ReadTypedLine(answer, stop_)) {
    std::fputs("\n", err_);
    return false;
  }
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

void ConsoleHost::MarkExit(int status) {
  if (trace_) trace_->Event("mark", "exit " + std::to_string(status));
}

void ConsoleHost::Message(const std::string& text) {
  if (OnRecord) OnRecord(text, true);
  if (trace_) trace_->Event("mark", "message " + text);
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBar();
  std::fprintf(err_, "%s%s\n", linePrefix_.c_str(), text.c_str());
}

}  // namespace cli

#include "cli/run_record.h"

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "protocol/protocol_error.h"
#include "transfer/job_values.h"

namespace cli {

namespace {

constexpr const char* PhaseEnd = " is finished 100% (";
constexpr const char* TemporarySuffix = ".tmp";

std::string WallClockStamp() {
  std::tm local = transfer::LocalCalendarTime(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

bool IsPhaseStart(const std::string& line) {
  if (line == "Read FIRMWARE ..." || line == "Read CHANNEL ...") return true;
  const std::string tail = " to deco ...";
  return line.rfind("Write ", 0) == 0 && line.size() > tail.size() &&
         line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
}

RunRecord::RunRecord(const std::string& logFile, const std::string& reportFile)
    : reportFile_(reportFile) {
  if (logFile.empty()) return;
  log_ = std::fopen(logFile.c_str(), "a");
  if (!log_) throw protocol::EFileError("Cannot open", logFile, errno);
}

RunRecord::~RunRecord() {
  if (log_) std::fclose(log_);
}

void RunRecord::Line(const std::string& text, bool message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (log_) {
    std::fprintf(log_, "%s %s%s\n", WallClockStamp().c_str(), message ? "! " : "", text.c_str());
    std::fflush(log_);
  }
  if (message) return;
  lines_.push_back(text);
  if (IsPhaseStart(text)) {
    inPhase_ = true;
    phaseStart_ = Clock::now();
    phaseCharacters_ = characters_;
    phases_.push_back(PhaseRecord{text, 0, 0});
  } else if (inPhase_ && text.rfind(phases_.back().Name + PhaseEnd, 0) == 0) {
    inPhase_ = false;
    phases_.back().Seconds = std::chrono::duration<double>(Clock::now() - phaseStart_).count();
    phases_.back().Characters = characters_ - phaseCharacters_;
  }
}

std::vector<std::string> RunRecord::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<PhaseRecord> RunRecord::Phases() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return phases_;
}

void RunRecord::WriteReport(const std::string& json) const {
  std::string temporary = reportFile_ + TemporarySuffix;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << json << "\n";
    out.close();
    if (!out) throw protocol::EFileError("Cannot write", temporary, errno);
  }
  std::error_code error;
  std::filesystem::rename(temporary, reportFile_, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw protocol::EFileError("Cannot rename", temporary, "to " + reportFile_);
  }
}

}  // namespace cli

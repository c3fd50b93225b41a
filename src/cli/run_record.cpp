#include "cli/run_record.h"

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "protocol/protocol_error.h"
#include "serial/serial_util.h"
#include "transfer/own_files.h"
#include "transfer/time_stamp.h"

namespace cli {

namespace {

constexpr const char* TemporarySuffix = ".tmp";

std::string LocalTimeText(std::time_t when, const char* format) {
  std::tm local = transfer::LocalCalendarTime(when);
  char text[32];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

std::string WallClockStamp() {
  return LocalTimeText(std::time(nullptr), "%Y-%m-%d %H:%M:%S");
}

}  // namespace

std::string IsoLocalTime(std::time_t when) {
  return LocalTimeText(when, "%Y-%m-%dT%H:%M:%S");
}

RunRecord::RunRecord(const std::string& logFile)
    : started_(std::time(nullptr)), startMs_(serial::MonotonicMs()) {
  if (logFile.empty()) return;
  log_ = std::fopen(logFile.c_str(), "a");
  if (!log_) throw protocol::EFileError("Cannot open", logFile, errno);
}

RunRecord::~RunRecord() {
  if (log_) std::fclose(log_);
}

void RunRecord::Line(const std::string& text, bool message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!log_) return;
  std::fprintf(log_, "%s %s%s\n", WallClockStamp().c_str(), message ? "! " : "", text.c_str());
  std::fflush(log_);
}

void RunRecord::PhaseStarted(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  inPhase_ = true;
  phaseStartMs_ = serial::MonotonicMs();
  phaseCharacters_ = characters_;
  phases_.push_back(PhaseRecord{name, 0, 0, false});
}

void RunRecord::PhaseEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!inPhase_) return;
  inPhase_ = false;
  phases_.back().Seconds = static_cast<double>(serial::MonotonicMs() - phaseStartMs_) / 1000.0;
  phases_.back().Characters = characters_ - phaseCharacters_;
  phases_.back().Whole = true;
}

double RunRecord::Seconds() const {
  return static_cast<double>(serial::MonotonicMs() - startMs_) / 1000.0;
}

std::vector<PhaseRecord> RunRecord::Phases() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<PhaseRecord> phases = phases_;
  if (inPhase_) {
    phases.back().Seconds = static_cast<double>(serial::MonotonicMs() - phaseStartMs_) / 1000.0;
    phases.back().Characters = characters_ - phaseCharacters_;
  }
  return phases;
}

void WriteReportFile(const std::string& file, const std::string& json) {
  // Created exclusively: another run reporting to the same name keeps its own temporary file.
  std::string temporary = transfer::ClaimOwnFile(file + TemporarySuffix);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << json << "\n";
    out.close();
    if (!out) throw protocol::EFileError("Cannot write", temporary, errno);
  }
  std::error_code error;
  std::filesystem::rename(temporary, file, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw protocol::EFileError("Cannot rename", temporary, "to " + file);
  }
}

}  // namespace cli

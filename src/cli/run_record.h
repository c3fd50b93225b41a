// The record of one command-line run: every log line and message with a time stamp in the log
// file (appended), and the figures of its phases for the report.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace cli {

// Local date and time in ISO 8601, 2026-12-08T07:18:29.
std::string IsoLocalTime(std::time_t when);
// Writes a report (a JSON text) to file through a temporary file and a rename, so that it is
// either whole or absent; throws on failure.
void WriteReportFile(const std::string& file, const std::string& json);

struct PhaseRecord {
  std::string Name;  // the phase's start line, "Read FIRMWARE ..." and the like
  double Seconds = 0;
  uint64_t Characters = 0;  // sent and received on the line during the phase
  bool Whole = false;       // it ended whole; otherwise its figures run to when they were asked
};

class RunRecord {
 public:
  // An empty name: no log file. Throws when the log file cannot be opened.
  explicit RunRecord(const std::string& logFile);
  ~RunRecord();
  RunRecord(const RunRecord&) = delete;
  RunRecord& operator=(const RunRecord&) = delete;

  // Every log line (message false) and every message for the user (message true).
  void Line(const std::string& text, bool message);
  // A flash phase begins (its start line as its name), or the one begun last ended whole.
  void PhaseStarted(const std::string& name);
  void PhaseEnded();
  // Characters that crossed the line, from the serial port's status hook.
  void Characters(uint64_t count) { characters_ += count; }

  // The phases so far; one that has not ended (a failed one) with its figures until now.
  std::vector<PhaseRecord> Phases() const;
  // When the run began (its record was made), and its seconds until now.
  std::time_t Started() const { return started_; }
  double Seconds() const;

 private:
  mutable std::mutex mutex_;
  std::FILE* log_ = nullptr;
  std::time_t started_;
  uint64_t startMs_;
  std::vector<PhaseRecord> phases_;
  bool inPhase_ = false;
  uint64_t phaseStartMs_ = 0;
  uint64_t phaseCharacters_ = 0;
  std::atomic<uint64_t> characters_{0};
};

}  // namespace cli

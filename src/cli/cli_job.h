// One READ or WRITE from the command line: the checks and questions, connect, the job on the
// worker, and what the deco is left in. The exit status is the truth: 0 only when every step
// the job promises was done.
#pragma once

#include <atomic>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/console_host.h"
#include "transfer/job_plan.h"
#include "protocol/clock.h"
#include "protocol/stop_token.h"

namespace cli {

inline constexpr int ExitDone = 0;
inline constexpr int ExitJobFailed = 1;
inline constexpr int ExitUsage = 2;
// `verify`: a read that never came the same twice, and no difference proven.
inline constexpr int ExitLineTrouble = 3;
inline constexpr int ExitAborted = 130;

struct JobOptions {
  std::string port;
  std::string baud = "115200";
  bool service = false;  // the deco already shows -SE-
  // Find the deco's state and speed first (service and baud are then only the first guess).
  bool autoConnect = false;
  bool write = false;
  std::string method = "normal";
  // A WRITE ends by reading back what it wrote last and comparing it.
  bool finalCheck = true;
  // A READ leaves FILE.sha256 beside each dump.
  bool checksums = false;
  // A READ reads every block until two reads agree.
  bool doubleRead = false;
  // A READ goes on with the flash dump's FILE.partial that an ended READ of the same deco left.
  bool resume = false;
  // A block read that fails (no reply, a bad one, a line error) is sent again this often.
  int retries = transfer::DefaultReadRetries;
  // A WRITE leaves out the FFFFFFFF words of the sectors it erased; needs a comparison after it.
  bool skipBlankWords = false;
  // A WRITE waits for each erase by reading the sector instead of a fixed pause.
  bool erasePoll = false;
  // A WRITE programs in unlock bypass when the flash chips offer it; needs a comparison after it.
  bool fastProgram = false;
  // --fast: Safe (unless a method was given) with the three options above and the final check.
  bool fast = false;
  std::string logFile;     // every line with a time stamp, appended; empty: none
  std::string reportFile;  // the JSON report of the run; empty: none
  std::string traceFile;   // the line trace of the run; empty: none
  bool verbose = false;    // also the device, its line settings and each phase's figures
  // Added to the time stamp of the files the run itself creates, so that runs on several
  // decos at once keep theirs apart; "" for one deco.
  std::string nameTag;
  // Where a WRITE puts the files it makes for itself (read-back, merged image, backup); "" the
  // current folder.
  std::string workDir;
  // A WRITE first reads what it is about to change into backup-<stamp>; the command line asks
  // for it unless --no-backup.
  bool backup = false;
  // The folder that takes backup-<stamp> instead of the work folder; "" none.
  std::string backupDir;
  std::vector<std::string> commandLine;  // the program's arguments as given, for the report
  transfer::JobSelection selection;
  // The clock the run's link reads; null: the real one. A test gives its virtual clock.
  protocol::Clock* clock = nullptr;
};

inline protocol::Clock& RunClock(const JobOptions& options) {
  return options.clock ? *options.clock : protocol::RealTime();
}

// What a run leaves for a caller that sums up several runs.
struct RunEnd {
  std::string Error;      // why the run failed ("" when it did not)
  nlohmann::json Report;  // the run's entry in a report's "runs"
};

// Runs the job; stop is the user's Ctrl-C, which stops it at its next check point (or
// before it starts). Writes the report when options name one; end, when given, receives the
// run's end.
int RunReadOrWrite(const JobOptions& options, ConsoleHost& host,
                   protocol::StopToken stop, RunEnd* end = nullptr);

// The write method a --method value names.
transfer::WriteMethod MethodOf(const std::string& name);

}  // namespace cli

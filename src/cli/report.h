// What a command-line job did, and the JSON report made of it.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_job.h"
#include "cli/run_record.h"
#include "protocol/flash_chips.h"
#include "transfer/job_plan.h"
#include "transfer/job_results.h"

namespace cli {

struct JobOutcome {
  std::vector<transfer::WritePass> Passes;
  std::vector<std::vector<int>> Comparisons;  // the differing sectors of each comparison
  transfer::FinalCheckResult Check;
  transfer::VerifiedMemories Verified;
  // The files this run wrote: a READ's dumps, or the partial files of those it did not finish.
  transfer::JobSelection Written;
  // The dumps a READ read in full and put in place (only the check boxes count).
  transfer::JobSelection Complete;
  // A resumed READ: the blocks it kept of the flash dump; and whether the dump was refused as
  // not this deco's.
  int32_t ResumedBlocks = 0;
  bool ResumeRefused = false;
  std::string Error;  // what ended or shortened the job
  // What Connect learned.
  std::string Model;
  bool Protected = false;
  uint64_t Rereads = 0;            // reads beyond the second ones (double read)
  uint64_t Retries = 0;            // failed reads sent again
  uint64_t SkippedBlankWords = 0;  // FFFFFFFF words left to the erase
  std::optional<protocol::FlashChips> Chips;  // when the WRITE identified them
  uint64_t FastProgrammedWords = 0;
  bool FastProgramFellBack = false;
  // The files a WRITE made for itself (merged image, read-back, backup), and its backup folder.
  std::vector<transfer::MadeFile> MadeFiles;
  std::string BackupFolder;
  std::string BackupNotMade;  // why a backup asked for is not there
};

// One port's run, an entry of the report's "runs".
nlohmann::json ReportRun(const JobOptions& options, const JobOutcome& outcome,
                         const RunRecord& record, int exitCode);
// The report as JSON text: the tool, its version, the command line and the runs, one per port.
std::string ReportJson(const std::vector<std::string>& commandLine,
                       const std::vector<nlohmann::json>& runs);

}  // namespace cli

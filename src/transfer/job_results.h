// What a job did, as values: its flash write passes, as they happened, and its final check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/deco_link.h"
#include "transfer/job_plan.h"

namespace transfer {

struct SectorErase {
  int Sector = 0;
  uint32_t Ms = 0;  // from the erase command until the sector read as erased
  bool operator==(const SectorErase&) const = default;
};

// One flash write pass: the image it wrote from, the sectors it erased and those it wrote in
// full, each recorded when it happened, so that a pass cut short still says what it changed.
struct WritePass {
  std::string ImageFile;
  std::vector<int> Erased;
  std::vector<int> Sectors;  // erased and written in full
  bool Complete = false;
  // Where an unfinished pass stopped: the flash address of the next word it would have
  // programmed, or the sector it would have erased.
  uint32_t StoppedAt = 0;
  // A sector whose erase was sent and not confirmed (its chips may have begun it), or -1.
  int EraseUnconfirmed = -1;
  // How long each erase took, when the write waited for it by reading.
  std::vector<SectorErase> EraseTimes;
};

// The roles of the files a job makes, as the report names them.
inline constexpr const char* MadeReadBack = "read-back";
// Different blocks' comparison read: the deco as it was, not what the WRITE left.
inline constexpr const char* MadeReadBeforeWriting = "read before writing";
inline constexpr const char* MadeMergedImage = "merged image";
inline constexpr const char* MadeBackupPrefix = "backup ";  // and the memory's name

// A file the job made for itself (a read-back, a backup), with its role in the report.
struct MadeFile {
  std::string Role;
  std::string Name;
  bool operator==(const MadeFile&) const = default;
};

// What the final check found.
enum class FinalCheckVerdict {
  NotRun,       // the job did not reach it, or a shortfall left nothing sure to check
  Passed,       // everything read back equal
  Failed,       // something read back different
  Interrupted,  // a stop request ended it first
  Skipped,      // the WRITE was done without it, as its plan asked
};

// The first word of a sector that reads back other than written.
struct DifferingWord {
  uint32_t Address = 0;
  uint32_t Deco = 0;
  uint32_t Written = 0;
  bool operator==(const DifferingWord&) const = default;
};

// The reading back, after a WRITE, of what it wrote last, and of the EEPROM.
struct FinalCheckResult {
  FinalCheckVerdict Verdict = FinalCheckVerdict::NotRun;
  std::vector<int> CheckedSectors;
  std::vector<int> DifferingSectors;
  std::vector<DifferingWord> FirstDifferingWords;  // one for each differing sector
  bool FlashChecked = false;  // the flash's part ended: its verdict holds even if the EEPROM's did not
  bool EepromChecked = false;
  bool EepromEqual = false;
};

// How a job ended.
enum class JobEnd {
  Running,     // not ended yet
  Done,        // every step done as promised
  Incomplete,  // every step run, some doing less than promised (the shortfall says what)
  Failed,      // an error ended it (the error text says which)
  Stopped,     // a stop request ended it before its end
};

// The memories a WRITE wrote and read back equal to their files: a WRITE that goes on from it
// need not write them again.
struct VerifiedMemories {
  bool Flash = false;   // by the final check
  bool Eeprom = false;  // by Safe's reading back, unless the final check then found it different
};

// What the worker did, as values: whole once the worker has ended.
struct JobResult {
  JobEnd End = JobEnd::Running;
  // The text of the error that ended the job; empty when none did.
  std::string ErrorText;
  // Why the job did less than it promises (a sector skipped, a write that could not start, a
  // comparison that covered only part of the image); empty when it did every step.
  std::string Shortfall;
  // Every flash write pass, in order (the last one may be unfinished).
  std::vector<WritePass> Passes;
  // The differing sectors of every comparison of the image with the flash.
  std::vector<std::vector<int>> Comparisons;
  // Whether a comparison followed the last write pass (and so proved it).
  bool ComparedSinceLastPass = false;
  FinalCheckResult FinalCheck;
  VerifiedMemories Verified;
  uint64_t SkippedBlankWords = 0;
  // Words programmed in unlock bypass; and whether a sector so written did not hold, so that
  // the rest was written the usual way.
  uint64_t FastProgrammedWords = 0;
  bool FastProgramFellBack = false;
  // What the link's block reads needed beyond one read a block, up to the job's end.
  protocol::ReadCounters Reads;
  // The WRITE went past its backup to its first change of the deco.
  bool WriteBegun = false;
  // The files the job made, in the order made; the backup folder when one was made.
  std::vector<MadeFile> MadeFiles;
  std::string BackupFolder;
  // Why the backup the plan asked for was not made (its files are removed); empty when it was.
  std::string BackupNotMade;
  // The memories a READ read in full (only the check boxes count): a READ that did not finish
  // still puts these in place.
  JobSelection ReadInFull;
  // The flash dump a READ was to resume does not hold what this deco holds: it must be read
  // afresh.
  bool ResumeRefused = false;

  // The last complete write pass that no comparison proved since; no sectors when none.
  WritePass LastWritePass() const;
};

// The log line naming a WRITE's backup folder, or why no backup was made (a JobResult's
// BackupFolder and BackupNotMade); "" when the plan asked for none.
std::string BackupLine(const std::string& folder, const std::string& notMade);

}  // namespace transfer

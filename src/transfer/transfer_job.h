// The steps of one READ or WRITE job, as the worker runs them on its thread: the read job, the
// flash read, the three write methods over one flash writer, and the final check. Its results
// are values the owner reads once the job has ended; a stop request ends it at its next check
// point.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "protocol/deco_link.h"
#include "protocol/flash_map.h"
#include "protocol/stop_token.h"
#include "transfer/job_plan.h"
#include "transfer/job_results.h"
#include "transfer/time_left.h"
#include "transfer/transfer_host.h"

namespace transfer {

// The pause after each sector erase, for the deco to finish it.
inline constexpr unsigned EraseWaitSeconds = 5;

class TransferJob {
 public:
  TransferJob(TransferHost& host, protocol::DecoLink& link, JobPlan plan,
              protocol::StopToken stop);
  TransferJob(const TransferJob&) = delete;
  TransferJob& operator=(const TransferJob&) = delete;

  // Runs the job; an error leaves as an exception, after what was done is recorded.
  void Run();
  // Set while the job writes flash; the front ends word their Abort and close questions by it.
  bool FlashWriteActive() const { return flashWriteActive_; }
  JobResult Result() const;
  // The error that ended the job, for its result.
  void NoteError(const std::string& text);

  int32_t FProgress = -1;
  std::string FMessage;

 private:
  struct Phase {
    PhaseKind kind;
    std::string startText;
    int32_t lastShown = -1;
    uint64_t start = 0;
    uint64_t blocks = 0;  // a read's
    TimeLeft work;  // a read's blocks are planned by StartPhase, a write's by the writer
  };
  // Posts the phase's start line and tells the host.
  Phase StartPhase(PhaseKind kind, uint64_t bytes, const std::string& startText);
  // Every step has run: the result says how the job ended (a WRITE done without its final
  // check, as its plan asked, says the check was skipped), and the owner is told.
  void Finish();
  void RunReadJob();
  void RunWriteJob();
  // Reads the EEPROM and the flash the job writes into the plan's backup folder, except the
  // flash of Different blocks, whose comparison reads it before writing; false when stopped.
  // A backup that cannot be made is an error that comes before anything is changed.
  bool Backup();
  // How the backup's blocks are read: see JobPlan::BackupDoubleRead.
  protocol::ReadPolicy BackupReads() const;
  // A backup cut short is no backup: its folder goes, and the result says why there is none.
  void DropIncompleteBackup(const std::string& why);
  // Different blocks' read-back holds the flash as it was: a copy of it is the flash's backup.
  void KeepReadBackAsBackup(const std::string& readBack);
  std::string BackupFile(const std::string& memory) const;
  void NoteMade(const std::string& role, const std::string& name);
  // False when Safe's read-back of the EEPROM differs from its file.
  bool WriteEepromPart();
  void WriteNormal();
  void WriteSafe();
  void WriteDifferentBlocks();
  void VerifyAndRewrite();
  void FinalCheck();
  // A WRITE that ended done tells the link's record so, and what its final check proved.
  void RecordWhatTheWriteProved();
  // Reads blockCount blocks from the start of flash into fileName; false when stopped first.
  // From firstBlock on when fileName already holds the blocks before it (a resumed READ).
  bool ReadFlash(int32_t blockCount, const std::string& fileName, PhaseKind kind,
                 int32_t firstBlock = 0);
  // Opens a resumed READ's dump after its firstBlock whole blocks, once a random sample of them
  // (see BlocksToCompare), read again from the deco, is found equal: throws naming the block,
  // and marks the resume refused, when one is not.
  std::fstream OpenToResume(const std::string& fileName, int32_t firstBlock);
  // Erases and programs the wanted sectors of the plan's image; false when stopped or when a
  // sector had to be left out.
  bool WriteFlash(const protocol::SectorFlags& wanted, PhaseKind kind);
  std::string ImageToWrite() const;
  // The first block of a sector the image does not leave blank (Address 0: none), and whether
  // the flash holds it: the proof that programming in unlock bypass takes on these chips.
  struct FirstProgrammedBlock {
    uint32_t Address;
    bool Holds;
  };
  FirstProgrammedBlock CheckFirstProgrammedBlock(std::ifstream& file, const std::string& fileName,
                                                 int sector);

  void UpdateProgress();
  void ShowProgress(Phase& phase, uint64_t done, uint64_t total);
  // Tells the host the time the phase has left, after work of kind came to done units.
  void ShowTimeLeft(Phase& phase, WorkKind kind, uint64_t done);
  void FinishPhase(const Phase& phase);
  void NoteShortfall(const std::string& reason);
  template <typename Change>
  void Record(Change&& change) {
    std::lock_guard<std::mutex> lock(resultMutex_);
    change(result_);
  }

  TransferHost& host_;
  protocol::DecoLink& link_;
  const JobPlan plan_;
  const protocol::StopToken stop_;
  std::atomic<bool> flashWriteActive_{false};
  mutable std::mutex resultMutex_;
  JobResult result_;
  // Unlock bypass has been seen to take on these chips; or it did not, and is not used again.
  bool fastProgramProven_ = false;
  bool fastProgramRefused_ = false;
  std::string backupFolder_;  // the folder made for the backup; empty: none
};

// A block a resume reads again from the deco, by its offset in the kept dump.
struct BlockToCompare {
  int Sector;
  size_t Offset;
};
// One of count blocks (0 .. count - 1); a resume draws it at random, afresh each run.
using PickBlock = std::function<size_t(size_t count)>;
// The blocks a resume reads again, in flash order: of each sector the kept bytes cover, its first
// block and one chosen by pick in each stretch of 16 from its start; and the last kept block. A
// change that fills a stretch (any 31 blocks in a row of a sector, or all of it) is always seen;
// a smaller one only as often as the pick lands on it.
std::vector<BlockToCompare> BlocksToCompare(size_t keptBytes, const PickBlock& pick);
// The first of blocks that the deco's flash does not hold as held does; none when all match.
std::optional<BlockToCompare> FirstDiffering(protocol::DecoLink& link, const std::string& held,
                                             const std::vector<BlockToCompare>& blocks);

// round(done / total * 100) with ties to even.
int32_t PercentOf(uint64_t done, uint64_t total);

}  // namespace transfer

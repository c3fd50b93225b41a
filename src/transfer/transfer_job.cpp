#include "transfer/transfer_job.h"

#include <optional>
#include <stdexcept>

#include "protocol/eeprom_transfer.h"
#include "protocol/image_files.h"
#include "protocol/transaction.h"
#include "transfer/final_check.h"
#include "transfer/own_files.h"
#include "transfer/scope_exit.h"
#include "transfer/verify.h"

namespace transfer {

namespace {
constexpr unsigned PhaseWaitSeconds = 2;
constexpr unsigned RewriteWaitSeconds = 3;
constexpr unsigned ReadJobEndWaitSeconds = 1;
constexpr const char* FinalCheckStart = "Final check ...";

protocol::SectorFlags AllSectors() {
  protocol::SectorFlags all;
  all.fill(1);
  return all;
}
}  // namespace

int32_t PercentOf(uint64_t done, uint64_t total) {
  if (total == 0) return 100;
  uint64_t scaled = done * 100;
  uint64_t quotient = scaled / total;
  uint64_t twice = 2 * (scaled % total);
  if (twice > total || (twice == total && (quotient & 1))) ++quotient;
  return static_cast<int32_t>(quotient);
}

WritePass JobResult::LastWritePass() const {
  if (Passes.empty() || ComparedSinceLastPass || !Passes.back().Complete) return WritePass{};
  return Passes.back();
}

TransferJob::TransferJob(TransferHost& host, protocol::DecoLink& link, JobPlan plan,
                         protocol::StopToken stop)
    : host_(host), link_(link), plan_(std::move(plan)), stop_(stop) {}

JobResult TransferJob::Result() const {
  std::lock_guard<std::mutex> lock(resultMutex_);
  JobResult result = result_;
  result.Reads = link_.Counts();
  return result;
}

void TransferJob::NoteError(const std::string& text) {
  Record([&](JobResult& result) {
    result.ErrorText = text;
    result.End = JobEnd::Failed;
  });
}

void TransferJob::NoteShortfall(const std::string& reason) {
  Record([&](JobResult& result) {
    if (!result.Shortfall.empty()) result.Shortfall += "; ";
    result.Shortfall += reason;
  });
}

void TransferJob::Run() {
  link_.SetReadPolicy(plan_.Reads);
  if (plan_.IsWriteJob) {
    RunWriteJob();
  } else {
    RunReadJob();
  }
  // Short of an error, only a stop request ends a job before its end.
  Record([](JobResult& result) {
    if (result.End == JobEnd::Running) result.End = JobEnd::Stopped;
  });
}

void TransferJob::Finish() {
  Record([&](JobResult& result) {
    result.End = result.Shortfall.empty() ? JobEnd::Done : JobEnd::Incomplete;
    if (plan_.IsWriteJob && !plan_.FinalCheck && result.End == JobEnd::Done)
      result.FinalCheck.Verdict = FinalCheckVerdict::Skipped;
  });
  if (plan_.IsWriteJob) RecordWhatTheWriteProved();
  host_.PostWorkerDone();
}

void TransferJob::UpdateProgress() {
  host_.UpdateProgress(FProgress, FMessage);
}

namespace {
bool WritesFlash(PhaseKind kind) { return kind == PhaseKind::WriteFlash || kind == PhaseKind::Rewrite; }
}  // namespace

void TransferJob::ShowProgress(Phase& phase, uint64_t done, uint64_t total) {
  int32_t percent = PercentOf(done, total);
  FProgress = percent;
  // A write counts words; a read counts what its caller counts, in blocks for the estimate.
  if (WritesFlash(phase.kind))
    phase.work.Done(WorkKind::Word, done, protocol::ClockReading(link_));
  else if (total > 0)
    phase.work.Done(WorkKind::Block, done * phase.blocks / total, protocol::ClockReading(link_));
  if (percent > phase.lastShown) {
    host_.ShowTimeLeft(phase.work.SecondsLeft());
    FMessage.clear();
    UpdateProgress();
    phase.lastShown = percent;
  }
}

void TransferJob::ShowTimeLeft(Phase& phase, WorkKind kind, uint64_t done) {
  phase.work.Done(kind, done, protocol::ClockReading(link_));
  host_.ShowTimeLeft(phase.work.SecondsLeft());
}

TransferJob::Phase TransferJob::StartPhase(PhaseKind kind, uint64_t bytes,
                                           const std::string& startText) {
  static constexpr uint32_t Colours[] = {ColourReadJob, ColourReadBack, ColourWrite, ColourRewrite,
                                         ColourReadBack};
  host_.SetBarColour(Colours[static_cast<int>(kind)]);
  protocol::PostStatus(link_, startText);
  host_.PhaseStarted(kind, bytes, startText);
  const uint64_t now = protocol::ClockReading(link_);
  Phase phase{kind, startText, -1, now, 0,
              TimeLeft(protocol::CharacterMs(link_), plan_.ErasePoll, plan_.FastProgram)};
  phase.work.Start(now);
  if (!WritesFlash(kind)) {
    phase.blocks = (bytes + protocol::ReadBlockBytes - 1) / protocol::ReadBlockBytes;
    phase.work.Plan(WorkKind::Block, phase.blocks);
  }
  return phase;
}

void TransferJob::FinishPhase(const Phase& phase) {
  uint64_t end = protocol::ClockReading(link_);
  FProgress = 100;
  FMessage = phase.startText + " is finished 100% (" +
             std::to_string(protocol::ElapsedSeconds(phase.start, end)) + " sec.)";
  UpdateProgress();
  host_.PhaseEnded(phase.kind, phase.startText);
}

// ---- the read job -------------------------------------------------------------------------------

void TransferJob::RunReadJob() {
  link_.SetBaseTimeout(protocol::StandardBaseTimeout);
  const JobSelection& selection = plan_.Selection;
  if (selection.Eeprom) {
    protocol::ReadEeprom(link_, selection.EepromFile);
    Record([](JobResult& result) { result.ReadInFull.Eeprom = true; });
    protocol::WaitSeconds(link_, PhaseWaitSeconds);
  }
  if (selection.TouchesFlash()) {
    bool read = ReadFlash(plan_.BlockCount, plan_.ImageFileName, PhaseKind::ReadFlash,
                          plan_.ResumeFromBlock);
    const bool firmware = plan_.BlockCount == FirmwareBlocks;
    if (read)
      Record([&](JobResult& result) {
        (firmware ? result.ReadInFull.Firmware : result.ReadInFull.Channel) = true;
      });
    if (read && firmware && selection.Channel) {
      if (protocol::CopyLeadingWords(plan_.ImageFileName, selection.ChannelFile,
                                     protocol::ChannelWords)) {
        Record([](JobResult& result) { result.ReadInFull.Channel = true; });
        protocol::PostStatus(link_, "CHANNEL is extracted from FIRMWARE. OK!");
      }
    }
  }
  protocol::WaitSeconds(link_, ReadJobEndWaitSeconds);
  if (!stop_.Requested()) Finish();
}

// ---- the write job ------------------------------------------------------------------------------

std::string TransferJob::ImageToWrite() const {
  return plan_.ChannelMerged ? plan_.MergedFileName : plan_.ImageFileName;
}

void TransferJob::RunWriteJob() {
  link_.SetBaseTimeout(protocol::StandardBaseTimeout);
  if (!Backup() || stop_.Requested()) return;
  Record([](JobResult& result) { result.WriteBegun = true; });
  link_.Record().Changing(plan_.Selection.TouchesFlash(), plan_.Selection.Eeprom);
  // An EEPROM-only job keeps it set to its end: its questions are those of a write.
  flashWriteActive_ = true;
  const bool eepromVerified = WriteEepromPart();
  if (plan_.Selection.TouchesFlash()) {
    if (plan_.DifferentBlocksMethod) {
      WriteDifferentBlocks();
    } else if (plan_.SafeMethod) {
      WriteSafe();
    } else {
      WriteNormal();
    }
  }
  if (stop_.Requested()) return;
  FinalCheck();
  // A stop during the final check leaves the WRITE unproven: it is not done.
  if (stop_.Requested()) return;
  if (!eepromVerified)
    throw std::runtime_error("the EEPROM differs from " + plan_.Selection.EepromFile +
                             " after it was written twice");
  Finish();
}

bool TransferJob::WriteEepromPart() {
  if (!plan_.Selection.Eeprom) return true;
  protocol::WriteEeprom(link_, plan_.Selection.EepromFile);
  protocol::WaitSeconds(link_, PhaseWaitSeconds);
  // Safe writes the EEPROM twice, then reads it back; a difference fails the WRITE.
  bool verified = true;
  if (plan_.SafeMethod) {
    const std::string& file = plan_.Selection.EepromFile;
    protocol::WriteEeprom(link_, file);
    verified = EepromHolds(link_, file, {});
    Record([&](JobResult& result) { result.Verified.Eeprom = verified; });
    protocol::PostStatus(link_, std::string("Verify EEPROM: ") +
                                    (verified ? "equal to " : "differs from ") +
                                    protocol::BareFileName(file) + ".");
  }
  protocol::WaitSeconds(link_, PhaseWaitSeconds);
  return verified;
}

// Write once.
void TransferJob::WriteNormal() {
  WriteFlash(AllSectors(), PhaseKind::WriteFlash);
  protocol::WaitSeconds(link_, PhaseWaitSeconds);
}

// Write, verify, rewrite the differing sectors.
void TransferJob::WriteSafe() {
  if (!WriteFlash(AllSectors(), PhaseKind::WriteFlash)) {
    protocol::WaitSeconds(link_, PhaseWaitSeconds);
    return;
  }
  VerifyAndRewrite();
}

// Verify first, write only the differing sectors.
void TransferJob::WriteDifferentBlocks() {
  VerifyAndRewrite();
}

void TransferJob::VerifyAndRewrite() {
  if (stop_.Requested()) return;
  protocol::WaitSeconds(link_, PhaseWaitSeconds);
  const bool firmware = plan_.Selection.Firmware;
  const std::string& plannedReadBack =
      firmware ? plan_.FirmwareReadBackName : plan_.ChannelReadBackName;
  // Created new: a read-back of another run in this folder is never overwritten or compared.
  std::string readBack = ClaimOwnFile(plannedReadBack);
  if (readBack != plannedReadBack)
    protocol::PostStatus(link_, plannedReadBack + " exists already: the read-back is " + readBack);
  NoteMade(plan_.DifferentBlocksMethod ? MadeReadBeforeWriting : MadeReadBack, readBack);
  const int32_t blocks = firmware ? FirmwareBlocks : ChannelBlocks;
  // Different blocks keeps this read as the flash's backup: it is read as a backup is.
  const bool asBackup = plan_.DifferentBlocksMethod && !backupFolder_.empty();
  {
    if (asBackup) link_.SetReadPolicy(BackupReads());
    ScopeExit usualReads([this] { link_.SetReadPolicy(plan_.Reads); });
    if (!ReadFlash(blocks, readBack, PhaseKind::ReadBack) || stop_.Requested()) return;
  }
  if (asBackup) KeepReadBackAsBackup(readBack);
  protocol::WaitSeconds(link_, PhaseWaitSeconds);
  const std::string image = ImageToWrite();
  VerifyResult found = VerifyBlocks(link_, plan_.Block18Protected, image, readBack);
  Record([&](JobResult& result) {
    // What was written before this comparison is proven by it.
    result.ComparedSinceLastPass = true;
    result.Comparisons.push_back(found.DifferingSectors());
  });
  if (!found.WholeImage)
    NoteShortfall(protocol::BareFileName(image) +
                  " is longer than the flash read back; its rest was not compared");
  if (found.Count > 0) {
    protocol::WaitSeconds(link_, RewriteWaitSeconds);
    WriteFlash(found.SectorFlags, PhaseKind::Rewrite);
  }
}

void TransferJob::RecordWhatTheWriteProved() {
  const JobResult result = Result();
  if (result.End != JobEnd::Done) return;
  link_.Record().ChangesDone();
  // Only the final check proves: a firmware image's covers the whole flash, a channel list's
  // only its sectors.
  if (result.FinalCheck.Verdict != FinalCheckVerdict::Passed) return;
  // Different blocks takes a shorter image too, and compares only as far as it goes.
  const bool wholeImage = plan_.Selection.Firmware &&
                          protocol::FileSize64(ImageToWrite()) >= protocol::FirmwareImageBytes;
  link_.Record().Proven(wholeImage, plan_.Selection.Eeprom);
}

void TransferJob::FinalCheck() {
  const JobResult sofar = Result();
  if (!plan_.FinalCheck || !sofar.Shortfall.empty()) return;
  const WritePass lastPass = sofar.LastWritePass();
  const uint64_t bytes = FinalCheckBytes(lastPass, plan_.Selection);
  // Up to minutes of reading after the WRITE's own 100%: shown as a phase of its own, when
  // there is anything to read.
  std::optional<Phase> phase;
  if (bytes > 0) phase = StartPhase(PhaseKind::FinalCheck, bytes, FinalCheckStart);
  const FinalCheckResult check =
      RunFinalCheck(link_, lastPass, plan_.Selection, stop_,
                    [&](uint64_t done) {
                      if (phase) ShowProgress(*phase, done, bytes);
                    });
  if (phase && check.Verdict != FinalCheckVerdict::Interrupted) FinishPhase(*phase);
  for (const std::string& line : FinalCheckLines(check, lastPass, plan_.Selection))
    protocol::PostStatus(link_, line);
  Record([&](JobResult& result) {
    result.FinalCheck = check;
    // An interrupted check may have read part of a memory only: it proves none.
    if (check.Verdict != FinalCheckVerdict::Passed && check.Verdict != FinalCheckVerdict::Failed)
      return;
    if (check.FlashChecked) result.Verified.Flash = check.DifferingSectors.empty();
    if (check.EepromChecked) result.Verified.Eeprom = check.EepromEqual;
  });
  // A WRITE whose result differs from its image has failed, whatever its passes said.
  if (check.Verdict == FinalCheckVerdict::Failed)
    throw std::runtime_error(FinalCheckFailure(check, plan_.Selection));
}

}  // namespace transfer

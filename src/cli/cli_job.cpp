#include "cli/cli_job.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "cli/chip_command.h"
#include "cli/cli_connect.h"
#include "cli/report.h"
#include "cli/resume_command.h"
#include "cli/run_outputs.h"
#include "cli/sectors_left_erased.h"
#include "cli/write_again.h"
#include "protocol/flash_chips.h"
#include "protocol/transaction.h"
#include "transfer/adapter_delay.h"
#include "transfer/connection.h"
#include "transfer/final_check.h"
#include "transfer/io_thread.h"
#include "transfer/job_setup.h"
#include "transfer/memories.h"
#include "transfer/read_dumps.h"
#include "transfer/scope_exit.h"
#include "transfer/time_stamp.h"

namespace cli {

transfer::WriteMethod MethodOf(const std::string& name) {
  if (name == "safe") return transfer::WriteMethod::Safe;
  if (name == "diff") return transfer::WriteMethod::DifferentBlocks;
  return transfer::WriteMethod::Normal;
}

namespace {

// How often the announcer looks at Ctrl-C: often enough to be at once to a person, seldom enough
// to cost nothing beside the line's own waits.
constexpr int StopLookIntervalMs = 100;
constexpr unsigned AbortSettleSeconds = 1;
constexpr const char* RefusedBeforeJob = "refused before the job";
constexpr const char* InterruptedBeforeJob = "interrupted before the job started";

// A WRITE that did not finish leaves the deco as it is, in service mode, so that it can be
// written again at once; returning it to standby with a half-written flash could leave it dead.
void TellKeptInServiceMode(const JobOptions& options, ConsoleHost& host, bool writeBegun,
                           const JobOutcome& outcome, const protocol::DecoFindings& deco) {
  const bool known = deco.Now != protocol::DecoMode::Unknown;
  const std::string state =
      known ? "the deco is still in service mode (-SE-) at " + options.baud + " baud. "
            : "this run does not know what the deco is in now (" + deco.NowWhy + "). ";
  const bool flash = options.selection.TouchesFlash();
  if (!writeBegun) {
    host.Tell(state + "Nothing was written: its memory is unchanged.");
  } else {
    const std::string written = flash ? transfer::WhatWasWritten(outcome.Passes) : "its EEPROM";
    host.Tell(state + "Do not switch it off: its memory may be incomplete (" + written + ").");
  }
  host.Tell("write again with: " + WriteAgainCommand(options, outcome.Verified, deco));
  if (flash)
    host.Tell("(--method diff reads the flash first and writes only the sectors that still differ)");
}

// `chip` or a fast WRITE that a dead line cut off leaves the chips in identification mode or
// unlock bypass, where a READ would store their codes as the flash and a WRITE go unheard.
void ReturnChipsToReading(protocol::DecoLink& link, const transfer::JobSelection& selection) {
  if (!selection.Firmware && !selection.Channel) return;
  try {
    protocol::ReturnChipsToRead(link);
  } catch (const std::exception& failure) {
    throw std::runtime_error(std::string("the flash chips could not be returned to reading: ") +
                             failure.what());
  }
}

// The exit status of how the job ended, told on the way; stopRequested: the Abort was given.
int ExitStatusOf(const transfer::JobResult& result, bool stopRequested, ConsoleHost& host,
                 protocol::DecoLink& link) {
  const bool finished =
      result.End == transfer::JobEnd::Done || result.End == transfer::JobEnd::Incomplete;
  if (stopRequested && !finished) {
    protocol::WaitSeconds(link, AbortSettleSeconds);
    // The window's "Thread Aborted" says nothing of where; the last status line does.
    host.Tell("the job stopped at Ctrl-C, during: " + link.StatusText());
    if (result.FinalCheck.Verdict == transfer::FinalCheckVerdict::Interrupted)
      host.Tell("the final check was interrupted: what was written is not proven");
    return ExitAborted;
  }
  switch (result.End) {
    case transfer::JobEnd::Done:
      return ExitDone;
    case transfer::JobEnd::Failed:
      host.Tell("job failed: " + result.ErrorText);
      return ExitJobFailed;
    case transfer::JobEnd::Incomplete:
      host.Tell("job incomplete: " + result.Shortfall);
      return ExitJobFailed;
    case transfer::JobEnd::Running:
    case transfer::JobEnd::Stopped:
      break;
  }
  host.Tell("job did not finish");
  return ExitJobFailed;
}

// The run's own files: one stamp for all, tagged for a batch, in the folders the options name.
transfer::RunNames NamesOf(const JobOptions& options) {
  const std::string stamp =
      transfer::LocalTimeStamp() + (options.nameTag.empty() ? "" : "_" + options.nameTag);
  transfer::RunNames names = transfer::TimeStampedNames(stamp, options.workDir);
  if (!options.backupDir.empty())
    names.BackupFolderName = transfer::BackupFolderName(stamp, options.backupDir);
  return names;
}

// One READ or WRITE, step by step: the checks and questions, the claim of a READ's dumps,
// connect, the plan, the job on the worker, what it tells afterwards, the dumps put in place,
// and what the deco is left in. The options become what the connect found the deco in.
class JobRun {
 public:
  JobRun(JobOptions& options, ConsoleHost& host, protocol::StopToken stop,
         RunRecord& record, JobOutcome& outcome);
  int Run();

 private:
  // Each of these answers false when the run ends there, after telling why.
  bool CheckBeforeJob();
  bool ClaimDumps();
  bool Connect();

  transfer::JobPlan Plan();
  int RunPlan(const transfer::JobPlan& plan);
  int RunOnWorker(const transfer::JobPlan& plan);
  // Ctrl-C before the job: no step of it may follow.
  int Interrupted();
  void TellWhatTheJobDid();
  void PutDumpsInPlace();
  // A READ that did not finish still gives the dumps it read in full their names.
  void PutCompleteDumpsInPlace();
  int LeaveDeco(int result);
  void NameFilesMade();

  JobOptions& options_;
  ConsoleHost& host_;
  protocol::StopToken stop_;  // the Abort
  RunRecord& record_;
  JobOutcome& outcome_;
  const transfer::JobSelection& selection_;
  const bool writesFlash_;
  const transfer::RunNames names_;
  const transfer::WriteMethod method_;
  const protocol::ReadPolicy reads_;
  protocol::DecoLink link_;
  std::optional<transfer::ReadDumps> dumps_;  // a READ's; none for a WRITE
  bool fastProgramChosen_ = false;  // the chips offer unlock bypass and it was asked for
  bool jobStarted_ = false;
  // The job went past its backup: the deco may have been changed.
  bool writeBegun_ = false;
};

JobRun::JobRun(JobOptions& options, ConsoleHost& host, protocol::StopToken stop,
               RunRecord& record, JobOutcome& outcome)
    : options_(options),
      host_(host),
      stop_(stop),
      record_(record),
      outcome_(outcome),
      selection_(options.selection),
      writesFlash_(options.write && selection_.TouchesFlash()),
      names_(NamesOf(options)),
      method_(MethodOf(options.method)),
      reads_{options.retries, options.doubleRead && !options.write},
      link_(&host, RunClock(options)) {
  link_.SetReadPolicy(reads_);
  if (!options.write) dumps_.emplace(selection_);
}

int JobRun::Run() {
  if (!CheckBeforeJob() || !ClaimDumps()) return stop_.Requested() ? Interrupted() : ExitJobFailed;
  // A READ that never reached the deco leaves no empty partial dump behind.
  transfer::ScopeExit clearUnusedDumps([this] {
    if (!dumps_) return;
    try {
      dumps_->TellWhereTheyAre(host_);
    } catch (const std::exception& failure) {
      host_.Tell(failure.what());
    }
  });
  outcome_.Error.clear();
  if (stop_.Requested()) return Interrupted();
  if (!Connect()) return ExitJobFailed;
  clearUnusedDumps.Dismiss();

  int result = ExitJobFailed;
  try {
    // Ctrl-C while connecting is honoured before the chips hear their reset.
    result = stop_.Requested() ? Interrupted() : RunPlan(Plan());
  } catch (const std::exception& failure) {
    host_.Tell(failure.what());
    if (outcome_.Error.empty()) outcome_.Error = failure.what();
    transfer::RecordIfDecoLost(link_, failure);
    result = ExitJobFailed;
  }
  bool resumable = false;
  if (dumps_) {
    if (result != ExitDone) {
      PutCompleteDumpsInPlace();
      dumps_->TellWhereTheyAre(host_);
      resumable = !outcome_.ResumeRefused && dumps_->FlashDumpResumable();
    }
    dumps_->Release();
  }
  result = LeaveDeco(result);
  // Once the deco is left: the command names what it is in now.
  if (resumable)
    host_.Tell("resume the READ with: " +
               ResumeReadCommand(options_, outcome_.Complete, link_.Record().Read()));
  NameFilesMade();
  return result;
}

bool JobRun::CheckBeforeJob() {
  if (options_.write) {
    outcome_.Error = RefusedBeforeJob;
    if (!host_.Confirm("Patch deco is risky.  Continue?")) return false;
    if (!transfer::CheckWriteFiles(selection_, method_, names_, host_)) return false;
  } else if (!transfer::CheckReadFiles(selection_, host_) ||
             !transfer::AskReadOverwrites(selection_, host_)) {
    outcome_.Error = RefusedBeforeJob;
    return false;
  }
  return CheckRunOutputs(options_, names_, host_, outcome_.Error);
}

bool JobRun::ClaimDumps() {
  if (!dumps_) return true;
  if (!dumps_->Claim(host_, outcome_.Error, options_.resume)) return false;
  outcome_.Written = dumps_->Partial();
  outcome_.ResumedBlocks = dumps_->ResumeBlocks();
  return true;
}

bool JobRun::Connect() {
  protocol::DecoFacts deco;
  const bool connected = ConnectFromCli(link_, options_, host_, stop_, outcome_.Error, deco);
  outcome_.Model = deco.Model;
  outcome_.Protected = deco.Block18Protected;
  if (!connected) return false;
  if (options_.verbose)
    host_.Tell("connected through " + link_.DevicePath() + " at " + std::to_string(link_.Speed()) +
               " baud" + (link_.LatencyNote().empty() ? "" : "; " + link_.LatencyNote()));
  // Every character on the line, for the report's figures.
  link_.CountCharacters([this](uint64_t count) { record_.Characters(count); });
  return true;
}

transfer::JobPlan JobRun::Plan() {
  ReturnChipsToReading(link_, selection_);
  transfer::JobPlan plan = options_.write
                               ? transfer::WriteJobPlan(selection_, method_, names_, host_)
                               : transfer::ReadJobPlan(dumps_->Partial());
  plan.Reads = reads_;
  plan.Block18Protected = outcome_.Protected;
  if (!options_.write) {
    plan.ResumeFromBlock = dumps_->ResumeBlocks();
    return plan;
  }
  plan.SkipBlankWords = options_.skipBlankWords && writesFlash_;
  plan.FinalCheck = options_.finalCheck;
  if (options_.backup) plan.BackupFolder = names_.BackupFolderName;
  plan.BackupDoubleRead = options_.doubleRead;
  if (plan.ChannelMerged)
    outcome_.MadeFiles.push_back({transfer::MadeMergedImage, plan.MergedFileName});
  plan.ErasePoll = options_.erasePoll && writesFlash_;
  if (writesFlash_ && (options_.fastProgram || options_.verbose)) {
    protocol::FlashChips chips;
    plan.FastProgram = fastProgramChosen_ = ChooseFastProgram(link_, options_, host_, chips);
    outcome_.Chips = chips;
  }
  return plan;
}

int JobRun::Interrupted() {
  host_.Tell(InterruptedBeforeJob);
  return ExitAborted;
}

int JobRun::RunPlan(const transfer::JobPlan& plan) {
  if (stop_.Requested()) return Interrupted();  // while the plan was made
  // A line that holds every reply back is said before the hours it may cost.
  for (const std::string& line : transfer::HeldBackReplyLines(link_, plan)) host_.Tell(line);
  jobStarted_ = true;
  const int result = RunOnWorker(plan);
  TellWhatTheJobDid();
  if (!options_.write && result == ExitDone) PutDumpsInPlace();
  return result;
}

// Runs the plan on the worker; the interrupt is the Abort.
int JobRun::RunOnWorker(const transfer::JobPlan& plan) {
  // The job sees Ctrl-C itself, at its next check point: nothing here needs to look for it.
  transfer::TIOThread worker(host_, link_, plan, stop_);
  worker.Resume();
  worker.WaitFor();
  const transfer::JobResult result = worker.Result();
  outcome_.Passes = result.Passes;
  outcome_.Comparisons = result.Comparisons;
  outcome_.Check = result.FinalCheck;
  outcome_.Verified = result.Verified;
  outcome_.SkippedBlankWords = result.SkippedBlankWords;
  outcome_.FastProgrammedWords = result.FastProgrammedWords;
  outcome_.FastProgramFellBack = result.FastProgramFellBack;
  outcome_.Retries = result.Reads.Retries;
  outcome_.Rereads = result.Reads.Rereads;
  outcome_.MadeFiles.insert(outcome_.MadeFiles.end(), result.MadeFiles.begin(),
                            result.MadeFiles.end());
  outcome_.BackupFolder = result.BackupFolder;
  outcome_.BackupNotMade = result.BackupNotMade;
  writeBegun_ = result.WriteBegun;
  outcome_.Complete = result.ReadInFull;
  outcome_.ResumeRefused = result.ResumeRefused;
  outcome_.Error = result.ErrorText.empty() ? result.Shortfall : result.ErrorText;
  return ExitStatusOf(result, stop_.Requested(), host_, link_);
}

void JobRun::TellWhatTheJobDid() {
  if (outcome_.Retries > 0)
    host_.AddLogLine("Retries: " + std::to_string(outcome_.Retries) + " read(s) repeated.");
  if (writesFlash_ && options_.skipBlankWords)
    host_.AddLogLine("Blank words skipped: " + std::to_string(outcome_.SkippedBlankWords) +
                     " (FFFFFFFF, already held by the erased sectors).");
  if (outcome_.Check.Verdict == transfer::FinalCheckVerdict::Skipped)
    host_.AddLogLine("Final check skipped (--no-final-check).");
  if (options_.fast && writesFlash_) {
    const std::string programming =
        !fastProgramChosen_               ? "words programmed the usual way (no unlock bypass to use)"
        : outcome_.FastProgramFellBack ? "unlock bypass until it did not take, then the usual way"
                                       : "words programmed in unlock bypass";
    host_.AddLogLine("--fast used: erases waited for by reading; " + programming + "; " +
                     std::to_string(outcome_.SkippedBlankWords) +
                     " blank word(s) left to the erase; the final check.");
  }
  if (writesFlash_) TellSectorsLeftErased(outcome_.Passes, host_);
  if (options_.verbose)
    for (const transfer::WritePass& pass : outcome_.Passes)
      for (const transfer::SectorErase& erase : pass.EraseTimes)
        host_.Tell("sector " + std::to_string(erase.Sector) + " erased in " +
                   std::to_string(erase.Ms) + " ms");
}

void JobRun::PutDumpsInPlace() {
  if (options_.doubleRead)
    host_.AddLogLine("Double read: every block read twice and equal; " +
                     std::to_string(outcome_.Rereads) + " more read(s) to settle.");
  dumps_->NameComplete(selection_, host_);
  outcome_.Written = selection_;
  outcome_.Complete = selection_;
  if (options_.checksums) WriteChecksums(selection_, host_);
}

void JobRun::PutCompleteDumpsInPlace() {
  const transfer::JobSelection complete = outcome_.Complete;
  outcome_.Complete = transfer::JobSelection{};
  try {
    for (const std::string& named : dumps_->NameComplete(complete, host_))
      host_.Tell("the READ did not finish, but " + named + " was read in full and is in place");
  } catch (const std::exception& failure) {
    host_.Tell(failure.what());
    return;
  }
  outcome_.Complete = complete;
  transfer::JobSelection named = selection_;
  for (const transfer::Memory& memory : transfer::Memories) {
    named.*memory.Ticked = selection_.*memory.Ticked && complete.*memory.Ticked;
    if (named.*memory.Ticked) outcome_.Written.*memory.File = selection_.*memory.File;
  }
  if (!options_.checksums) return;
  try {
    WriteChecksums(named, host_);
  } catch (const std::exception& failure) {
    host_.Tell(failure.what());
  }
}

int JobRun::LeaveDeco(int result) {
  transfer::AskLostDeco(link_);
  bool stateTold = false;
  try {
    if (!transfer::EndSession(link_)) {
      const protocol::DecoFindings deco = link_.Record().Read();
      // A WRITE that ended done is no half-written deco: it only stays for want of a proof.
      if (options_.write && result != ExitDone) {
        TellKeptInServiceMode(options_, host_, jobStarted_ && writeBegun_, outcome_, deco);
        stateTold = true;
      } else {
        TellLeftInServiceMode(host_, options_, deco);
      }
    }
  } catch (const std::exception& failure) {
    const std::string why = std::string("disconnect failed: ") + failure.what();
    host_.Tell(why);
    if (result == ExitDone) result = ExitJobFailed;
    // The report names why the run failed, this too.
    if (outcome_.Error.empty()) outcome_.Error = why;
  }
  if (!stateTold) TellIfStateUnknown(host_, link_.Record().Read());
  // The run's reads, the connect's and the chips' among them.
  const protocol::ReadCounters counts = link_.Counts();
  outcome_.Rereads = counts.Rereads;
  outcome_.Retries = counts.Retries;
  return result;
}

// The last lines name every file the WRITE made for itself, so that none is left unnoticed.
void JobRun::NameFilesMade() {
  for (const transfer::MadeFile& made : outcome_.MadeFiles)
    host_.AddLogLine("Made " + made.Name + " (" + made.Role + ").");
  const std::string backup = transfer::BackupLine(outcome_.BackupFolder, outcome_.BackupNotMade);
  if (!backup.empty())
    host_.AddLogLine(backup);
  else if (options_.write && !options_.backup && jobStarted_)
    host_.AddLogLine("No backup of the deco was made: --no-backup.");
}

}  // namespace

int RunReadOrWrite(const JobOptions& options, ConsoleHost& host,
                   protocol::StopToken stop, RunEnd* end) {
  std::unique_ptr<RunRecord> record;
  try {
    record = std::make_unique<RunRecord>(options.logFile);
  } catch (const std::exception& failure) {
    host.Tell(failure.what());
    if (end) {
      JobOutcome outcome;
      outcome.Error = failure.what();
      end->Error = outcome.Error;
      end->Report = ReportRun(options, outcome, RunRecord(""), ExitJobFailed);
    }
    return ExitJobFailed;
  }
  host.SetStop(stop);
  host.OnRecord = [&record](const std::string& text, bool message) { record->Line(text, message); };
  host.OnPhase = [&record](const std::string& label, bool started) {
    if (started) {
      record->PhaseStarted(label);
    } else {
      record->PhaseEnded();
    }
  };
  JobOutcome outcome;
  JobOptions run = options;  // what the connect found: the report's speed, the advice
  int result;
  {
    // Ctrl-C is answered at once; the job itself stops at its next check point, which can be a
    // few seconds away (an erase pause, a reply's time-out).
    bool ran = false;
    std::mutex ranMutex;
    std::condition_variable ranChanged;
    std::thread announcer([&] {
      std::unique_lock<std::mutex> lock(ranMutex);
      while (!ranChanged.wait_for(lock, std::chrono::milliseconds(StopLookIntervalMs),
                                  [&] { return ran; })) {
        if (!stop.Requested()) continue;
        host.Tell("Ctrl-C: stopping at the next safe point, please wait");
        return;
      }
    });
    transfer::ScopeExit joinAnnouncer([&] {
      {
        std::lock_guard<std::mutex> lock(ranMutex);
        ran = true;
      }
      ranChanged.notify_all();
      announcer.join();
    });
    result = JobRun(run, host, stop, *record, outcome).Run();
  }
  if (options.verbose) {
    for (const PhaseRecord& phase : record->Phases()) {
      char figures[96];
      std::snprintf(
          figures, sizeof figures, ": %.1f s, %.0f characters/s", phase.Seconds,
          phase.Seconds > 0 ? static_cast<double>(phase.Characters) / phase.Seconds : 0.0);
      host.Tell(phase.Name + figures);
    }
  }
  nlohmann::json report = ReportRun(run, outcome, *record, result);
  if (!options.reportFile.empty()) {
    try {
      WriteReportFile(options.reportFile, ReportJson(options.commandLine, {report}));
    } catch (const std::exception& failure) {
      host.Tell(std::string("no report: ") + failure.what());
      if (result == ExitDone) result = ExitJobFailed;
    }
  }
  if (end) {
    end->Error = result == ExitDone ? "" : outcome.Error;
    end->Report = std::move(report);
  }
  host.OnRecord = nullptr;
  host.OnPhase = nullptr;
  return result;
}

}  // namespace cli

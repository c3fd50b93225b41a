#include "cli/cli_job.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "cli/chip_command.h"
#include "cli/cli_connect.h"
#include "cli/report.h"
#include "cli/sha256.h"
#include "protocol/block_read.h"
#include "protocol/flash_chips.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "protocol/transaction.h"
#include "transfer/connection.h"
#include "transfer/final_check.h"
#include "transfer/io_thread.h"
#include "transfer/job_setup.h"
#include "transfer/own_files.h"
#include "transfer/scope_exit.h"
#include "transfer/time_stamp.h"

namespace cli {

transfer::WriteMethod MethodOf(const std::string& name) {
  if (name == "safe") return transfer::WriteMethod::Safe;
  if (name == "diff") return transfer::WriteMethod::DifferentBlocks;
  return transfer::WriteMethod::Normal;
}

namespace {

constexpr auto AbortPollInterval = std::chrono::milliseconds(10);
constexpr unsigned AbortSettleSeconds = 1;
constexpr const char* PartialSuffix = ".partial";

std::string Quoted(const std::string& text) {
  return text.find_first_of(" \t'\"") == std::string::npos ? text : "'" + text + "'";
}

// The command that writes the same files again into a deco that is still in service mode. It
// runs without questions (a script has no terminal to answer them) and by Different blocks, so
// that a long WRITE goes on from what is already in the flash instead of starting over.
std::string WriteAgainCommand(const JobOptions& options) {
  const transfer::JobSelection& s = options.selection;
  std::string command = "pyrelink-cli --port " + Quoted(options.port) + " --service --baud " +
                        options.baud + " write";
  if (s.Firmware) command += " --firmware " + Quoted(s.FirmwareFile);
  if (s.Eeprom) command += " --eeprom " + Quoted(s.EepromFile);
  if (s.Channel) command += " --channel " + Quoted(s.ChannelFile);
  if (options.erasePoll) command += " --erase-poll";
  if (options.fastProgram) command += " --fast-program";
  return command + " --method diff --yes";
}

// What the flash passes of a WRITE changed, for the message of one that did not finish.
std::string WhatWasWritten(const std::vector<transfer::WritePass>& passes) {
  std::vector<int> erased, written;
  uint32_t stoppedAt = 0;
  for (const transfer::WritePass& pass : passes) {
    erased.insert(erased.end(), pass.Erased.begin(), pass.Erased.end());
    written.insert(written.end(), pass.Sectors.begin(), pass.Sectors.end());
    if (!pass.Complete) stoppedAt = pass.StoppedAt;
  }
  if (erased.empty()) return "no flash sector was erased";
  std::string text = "sector(s) " + transfer::SectorNumbers(erased) + " erased, " +
                     (written.empty() ? std::string("none") : transfer::SectorNumbers(written)) +
                     " written in full";
  if (stoppedAt) text += "; the WRITE stopped at " + protocol::ToHex(stoppedAt, 8);
  return text;
}

// Sectors 0-2 hold the erase and the zero words, not the image's bytes: a technician who compares
// the image with a read-back sees them differ beside a passed final check, so the run says so
// and how to compare by the write's rule.
void TellSectorsLeftErased(const std::vector<transfer::WritePass>& passes, ConsoleHost& host) {
  std::vector<int> sectors;
  std::string imageFile;
  try {
    for (const transfer::WritePass& pass : passes) {
      std::ifstream image(pass.ImageFile, std::ios::binary);
      for (int s : pass.Sectors) {
        if (s >= protocol::FirstProgrammedSector ||
            std::find(sectors.begin(), sectors.end(), s) != sectors.end())
          continue;
        if (transfer::ImageSector(image, pass.ImageFile, s) ==
            transfer::SectorAsWritten(image, pass.ImageFile, s))
          continue;
        sectors.push_back(s);
        imageFile = pass.ImageFile;
      }
    }
  } catch (const std::exception&) {
    return;  // an image that cannot be read now leaves nothing sure to say; the verdict stands
  }
  if (sectors.empty()) return;
  std::sort(sectors.begin(), sectors.end());
  std::string line = "Sector(s) " + transfer::SectorNumbers(sectors) + " are erased";
  if (sectors.front() == 0)
    line += " and hold only the " + std::to_string(protocol::ZeroWordsAtStart) + " zero words at " +
            protocol::ToHex(protocol::FlashBase, 8);
  host.AddLogLine(line + ", not " + protocol::BareFileName(imageFile) +
                  "'s bytes there: compare with `pyrelink-cli diff --as-written`.");
}

// A WRITE that did not finish leaves the deco as it is, in service mode, so that it can be
// written again at once; returning it to standby with a half-written flash could leave it dead.
void KeepServiceMode(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
                     bool jobStarted, const JobOutcome& outcome) {
  link.Close();  // without a word to the deco
  std::string state = "the deco is still in service mode (-SE-) at " + options.baud + " baud. ";
  if (!jobStarted) {
    host.Tell(state + "Nothing was written: its memory is unchanged.");
  } else {
    host.Tell(state + "Do not switch it off: its memory may be incomplete (" +
              WhatWasWritten(outcome.Passes) + ").");
  }
  host.Tell("write again with: " + WriteAgainCommand(options));
  host.Tell("(--method diff reads the flash first and writes only the sectors that still differ)");
}

// Runs the prepared job on the worker; the interrupt is the Abort.
int RunJob(ConsoleHost& host, protocol::DecoLink& link, const transfer::JobPlan& plan,
           protocol::StopToken stop, JobOutcome& outcome) {
  transfer::TIOThread worker(host, link, plan);
  worker.Resume();
  while (!worker.Finished()) {
    std::this_thread::sleep_for(AbortPollInterval);
    if (stop.Requested() && !worker.Terminated()) worker.Terminate();
  }
  worker.WaitFor();
  const transfer::JobResult result = worker.Result();
  outcome.Passes = result.Passes;
  outcome.Comparisons = result.Comparisons;
  outcome.Check = result.FinalCheck;
  outcome.SkippedBlankWords = result.SkippedBlankWords;
  outcome.FastProgrammedWords = result.FastProgrammedWords;
  outcome.FastProgramFellBack = result.FastProgramFellBack;
  outcome.Retries = result.Reads.Retries;
  outcome.Rereads = result.Reads.Rereads;
  outcome.Error = result.ErrorText.empty() ? result.Shortfall : result.ErrorText;
  if (worker.Terminated() && !host.Done()) {
    protocol::WaitSeconds(link, AbortSettleSeconds);
    host.Message("Thread Aborted");
    if (result.FinalCheck.Result == "interrupted")
      host.Tell("the final check was interrupted: what was written is not proven");
    return ExitAborted;
  }
  if (!result.ErrorText.empty()) {
    host.Tell("job failed: " + result.ErrorText);
    return ExitJobFailed;
  }
  if (!result.Shortfall.empty()) {
    host.Tell("job incomplete: " + result.Shortfall);
    return ExitJobFailed;
  }
  if (!host.Done()) {
    host.Tell("job did not finish");
    return ExitJobFailed;
  }
  return ExitDone;
}

// A READ's dumps go to FILE.partial; only a complete dump takes FILE's name, so a READ that fails
// never leaves a shortened dump under the name of a good one. Each is created afresh and held
// until it is renamed or cleared away; one an ended run left goes first, one a live run holds
// refuses the READ (before the deco is asked anything): both runs would mean the same dump.
bool ClaimPartialDumps(const transfer::JobSelection& selection, ConsoleHost& host,
                       transfer::JobSelection& partial, std::vector<transfer::HeldFile>& held,
                       JobOutcome& outcome) {
  partial = selection;
  const std::pair<bool, std::string*> dumps[] = {{partial.Firmware, &partial.FirmwareFile},
                                                 {partial.Eeprom, &partial.EepromFile},
                                                 {partial.Channel, &partial.ChannelFile}};
  try {
    for (const auto& [ticked, file] : dumps) {
      if (!ticked) continue;
      std::string wanted = *file + PartialSuffix;
      transfer::LeftFile left = transfer::RemoveUnlessHeld(wanted);
      if (left == transfer::LeftFile::Held)
        throw protocol::EFileError("Cannot read into", *file,
                                   "another run is writing " + wanted + " now");
      if (left == transfer::LeftFile::Removed)
        host.AddLogLine("Removed " + wanted + ", left by an earlier READ.");
      held.push_back(transfer::ClaimHeldFile(wanted));
      *file = held.back().Name();
      if (*file != wanted) host.AddLogLine(wanted + " is in use: this READ writes " + *file);
    }
  } catch (const std::exception& failure) {
    for (const transfer::HeldFile& own : held) {
      std::error_code error;
      std::filesystem::remove(own.Name(), error);
    }
    held.clear();
    partial = selection;
    outcome.Error = failure.what();
    host.Tell(outcome.Error);
    return false;
  }
  return true;
}

void NameCompleteDumps(const transfer::JobSelection& partial,
                       const transfer::JobSelection& selection) {
  std::vector<std::string> from = transfer::TickedFiles(partial);
  std::vector<std::string> to = transfer::TickedFiles(selection);
  for (size_t i = 0; i < to.size(); ++i) {
    std::error_code error;
    std::filesystem::rename(from[i], to[i], error);
    if (error) throw protocol::EFileError("Cannot rename", from[i], error.message());
  }
}

// After a READ that did not finish: where its data is, and no empty partial file left behind.
void TellWherePartialDumpsAre(const transfer::JobSelection& partial,
                              const transfer::JobSelection& selection, ConsoleHost& host) {
  std::vector<std::string> from = transfer::TickedFiles(partial);
  std::vector<std::string> to = transfer::TickedFiles(selection);
  for (size_t i = 0; i < to.size(); ++i) {
    std::error_code error;
    if (!std::filesystem::exists(from[i], error)) continue;
    if (protocol::FileSize64(from[i]) == 0) {
      std::filesystem::remove(from[i], error);
      continue;
    }
    host.Tell("the READ did not finish: " + to[i] + " is unchanged; what was read is in " +
              from[i]);
  }
}

// FILE.sha256 beside each dump, in the form `sha256sum -c` reads in the dump's folder.
void WriteChecksums(const transfer::JobSelection& selection, ConsoleHost& host) {
  for (const std::string& file : transfer::TickedFiles(selection)) {
    std::string sums = file + ".sha256";
    std::ofstream out(sums, std::ios::binary | std::ios::trunc);
    out << Sha256OfFile(file) << "  " << protocol::BareFileName(file) << "\n";
    out.close();
    if (!out) throw protocol::EFileError("Cannot write", sums, errno);
    host.AddLogLine("SHA-256 of " + file + " is in " + sums);
  }
}

// Why the run could not write a file into folder ("" when it can): tried by creating one.
std::string FolderRefusal(const std::filesystem::path& folder) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error))
    return "the folder " + folder.string() + " does not exist";
  try {
    std::string probe = transfer::ClaimOwnFile((folder / ".pyrelink-probe").string());
    std::filesystem::remove(probe, error);
  } catch (const std::exception& failure) {
    return std::string("cannot write in ") + folder.string() + ": " + failure.what();
  }
  return "";
}

std::filesystem::path FolderOf(const std::string& file) {
  std::filesystem::path folder = std::filesystem::path(file).parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

}  // namespace

std::string ReportRefusal(const std::string& reportFile) {
  if (reportFile.empty()) return "";
  std::error_code error;
  if (std::filesystem::is_directory(reportFile, error)) return "a folder, not a file";
  return FolderRefusal(FolderOf(reportFile));
}

namespace {

// The run's own outputs are checked before anything is sent: a report or read-back that cannot
// be written would otherwise fail the run after the deco's work is done.
bool CheckRunOutputs(const JobOptions& options, const transfer::RunNames& names, ConsoleHost& host,
                     JobOutcome& outcome) {
  auto refuse = [&](const std::string& what, const std::string& why) {
    outcome.Error = what + ": " + why;
    host.Tell(outcome.Error);
    return false;
  };
  std::string why = ReportRefusal(options.reportFile);
  if (!why.empty()) return refuse("--report " + options.reportFile, why);
  const transfer::JobSelection& s = options.selection;
  bool readsBack = options.method != "normal";
  bool merges = s.Firmware && s.Channel;
  if (options.write && (readsBack || merges)) {
    std::string why = FolderRefusal(FolderOf(names.FirmwareReadBackName));
    if (!why.empty()) return refuse("the WRITE's read-back and merged image", why);
  }
  return true;
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

bool Connect(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
             protocol::StopToken stop, JobOutcome& outcome) {
  protocol::DecoFacts deco;
  bool connected = ConnectFromCli(link, options, host, stop, outcome.Error, deco);
  outcome.Model = deco.Model;
  outcome.Protected = deco.Block18Protected;
  return connected;
}

int Run(const JobOptions& options, ConsoleHost& host, protocol::StopToken stop,
        RunRecord& record, JobOutcome& outcome) {
  protocol::DecoLink link(&host, RunClock(options));
  const transfer::JobSelection& selection = options.selection;
  const bool writesFlash = options.write && (selection.Firmware || selection.Channel);
  const protocol::ReadPolicy reads{options.retries, options.doubleRead && !options.write};
  link.SetReadPolicy(reads);
  const transfer::RunNames names = transfer::TimeStampedNames(
      transfer::LocalTimeStamp() + (options.nameTag.empty() ? "" : "_" + options.nameTag));
  const transfer::WriteMethod method = MethodOf(options.method);

  if (options.write) {
    outcome.Error = "refused before the job";
    if (!host.Confirm("Patch deco is risky.  Continue?")) return ExitJobFailed;
    if (!transfer::CheckWriteFiles(selection, method, names, host)) return ExitJobFailed;
  } else if (!transfer::CheckReadFiles(selection, host) ||
             !transfer::AskReadOverwrites(selection, host)) {
    outcome.Error = "refused before the job";
    return ExitJobFailed;
  }
  if (!CheckRunOutputs(options, names, host, outcome)) return ExitJobFailed;
  transfer::JobSelection job = selection;
  std::vector<transfer::HeldFile> heldDumps;  // released after the rename or the clearing away
  const bool dumpsClaimed = !options.write;
  if (dumpsClaimed) {
    if (!ClaimPartialDumps(selection, host, job, heldDumps, outcome)) return ExitJobFailed;
    outcome.Written = job;
  }
  // A READ that never reached the deco leaves no empty partial dump behind.
  transfer::ScopeExit clearUnusedDumps([&] {
    if (!dumpsClaimed) return;
    try {
      TellWherePartialDumpsAre(job, selection, host);
    } catch (const std::exception& failure) {
      host.Tell(failure.what());
    }
  });
  outcome.Error.clear();
  if (!Connect(link, options, host, stop, outcome)) return ExitJobFailed;
  clearUnusedDumps.Dismiss();
  if (options.verbose)
    host.Tell("connected through " + link.DevicePath() + " at " + std::to_string(link.Speed()) +
              " baud" + (link.LatencyNote().empty() ? "" : "; " + link.LatencyNote()));
  // Every character on the line, for the report's figures.
  link.CountCharacters([&record](uint64_t count) { record.Characters(count); });

  int result = ExitJobFailed;
  // From here on a WRITE that does not finish leaves the deco in service mode; a merge that
  // fails comes before any work on the deco and disconnects as usual.
  bool writeUnderWay = false;
  bool jobStarted = false;
  try {
    ReturnChipsToReading(link, selection);
    transfer::JobPlan plan;
    if (options.write) {
      plan = transfer::WriteJobPlan(selection, method, names, host);
      plan.SkipBlankWords = options.skipBlankWords && writesFlash;
      plan.FinalCheck = options.finalCheck;
      plan.ErasePoll = options.erasePoll && writesFlash;
      if (writesFlash && (options.fastProgram || options.verbose)) {
        protocol::FlashChips chips;
        plan.FastProgram = ChooseFastProgram(link, options, host, chips);
        outcome.Chips = chips;
      }
      writeUnderWay = true;
    } else {
      plan = transfer::ReadJobPlan(job);
    }
    plan.Reads = reads;
    plan.Block18Protected = outcome.Protected;
    if (stop.Requested()) {
      // Ctrl-C while connecting: no step of the job may follow.
      host.Tell("interrupted before the job started");
      result = ExitAborted;
    } else {
      jobStarted = true;
      result = RunJob(host, link, plan, stop, outcome);
      if (outcome.Retries > 0)
        host.AddLogLine("Retries: " + std::to_string(outcome.Retries) + " read(s) repeated.");
      if (writesFlash && options.skipBlankWords)
        host.AddLogLine("Blank words skipped: " + std::to_string(outcome.SkippedBlankWords) +
                        " (FFFFFFFF, already held by the erased sectors).");
      if (options.write && result == ExitDone && !options.finalCheck) {
        host.AddLogLine("Final check skipped (--no-final-check).");
        outcome.Check.Result = "skipped";
      }
      if (writesFlash) TellSectorsLeftErased(outcome.Passes, host);
      if (options.verbose)
        for (const transfer::WritePass& pass : outcome.Passes)
          for (const transfer::SectorErase& erase : pass.EraseTimes)
            host.Tell("sector " + std::to_string(erase.Sector) + " erased in " +
                      std::to_string(erase.Ms) + " ms");
      if (!options.write && result == ExitDone) {
        if (options.doubleRead)
          host.AddLogLine("Double read: every block read twice and equal; " +
                          std::to_string(outcome.Rereads) + " more read(s) to settle.");
        NameCompleteDumps(job, selection);
        outcome.Written = selection;
        outcome.DumpsComplete = true;
        if (options.checksums) WriteChecksums(selection, host);
      }
    }
  } catch (const std::exception& failure) {
    host.Tell(failure.what());
    if (outcome.Error.empty()) outcome.Error = failure.what();
    result = ExitJobFailed;
  }
  if (dumpsClaimed && result != ExitDone) TellWherePartialDumpsAre(job, selection, host);
  heldDumps.clear();

  if (writeUnderWay && result != ExitDone) {
    KeepServiceMode(link, options, host, jobStarted, outcome);
  } else {
    try {
      transfer::DisconnectDeco(link);
    } catch (const std::exception& failure) {
      const std::string why = std::string("disconnect failed: ") + failure.what();
      host.Tell(why);
      if (result == ExitDone) result = ExitJobFailed;
      // The report names why the run failed, this too.
      if (outcome.Error.empty()) outcome.Error = why;
    }
  }
  // The run's reads, the connect's and the chips' among them.
  const protocol::ReadCounters counts = link.Counts();
  outcome.Rereads = counts.Rereads;
  outcome.Retries = counts.Retries;
  return result;
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
  host.OnRecord = [&record](const std::string& text, bool message) { record->Line(text, message); };
  host.OnPhase = [&record](const std::string& label, bool started) {
    if (started) {
      record->PhaseStarted(label);
    } else {
      record->PhaseEnded();
    }
  };
  JobOutcome outcome;
  int result;
  {
    // Ctrl-C is answered at once; the job itself stops at its next check point, which can be a
    // few seconds away (an erase pause, a reply's time-out).
    std::atomic<bool> ran{false};
    std::thread announcer([&] {
      while (!ran && !stop.Requested()) std::this_thread::sleep_for(AbortPollInterval);
      if (stop.Requested() && !ran)
        host.Tell("Ctrl-C: stopping at the next safe point, please wait");
    });
    transfer::ScopeExit joinAnnouncer([&] {
      ran = true;
      announcer.join();
    });
    result = Run(options, host, stop, *record, outcome);
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
  nlohmann::json report = ReportRun(options, outcome, *record, result);
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

#include "cli/cli_job.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "cli/access_hint.h"
#include "cli/report.h"
#include "cli/sha256.h"
#include "protocol/block_read.h"
#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "protocol/transaction.h"
#include "transfer/connection.h"
#include "transfer/final_check.h"
#include "transfer/io_thread.h"
#include "transfer/job_setup.h"

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

// The command that writes the same files again into a deco that is still in service mode.
std::string WriteAgainCommand(const JobOptions& options) {
  const transfer::JobSelection& s = options.selection;
  std::string command = "pyrelink-cli --port " + Quoted(options.port) + " --service --baud " +
                        options.baud + " write";
  if (s.Firmware) command += " --firmware " + Quoted(s.FirmwareFile);
  if (s.Eeprom) command += " --eeprom " + Quoted(s.EepromFile);
  if (s.Channel) command += " --channel " + Quoted(s.ChannelFile);
  return command + " --method " + options.method;
}

// A WRITE that did not finish leaves the deco as it is, in service mode, so that it can be
// written again at once; returning it to standby with a half-written flash could leave it dead.
void KeepServiceMode(const JobOptions& options, ConsoleHost& host) {
  protocol::SerialLink().reset();  // closes the port without a word to the deco
  host.Message(std::string(MessagePrefix) + "the deco is still in service mode (-SE-) at " +
               options.baud + " baud. Do not switch it off: its memory may be incomplete.");
  host.Message(std::string(MessagePrefix) + "write again with: " + WriteAgainCommand(options));
}

// Runs the prepared job on the worker; the interrupt is the Abort.
int RunJob(ConsoleHost& host, const transfer::JobSelection& selection,
           const std::atomic<bool>& interrupted, JobOutcome& outcome) {
  transfer::TIOThread worker(host, selection);
  worker.Resume();
  while (!worker.Finished()) {
    std::this_thread::sleep_for(AbortPollInterval);
    if (interrupted && !worker.Terminated()) worker.Terminate();
  }
  worker.WaitFor();
  outcome.LastPass = worker.LastWritePass();
  outcome.Passes = worker.WritePasses();
  outcome.Comparisons = worker.Comparisons();
  outcome.Error = worker.ErrorText();
  if (outcome.Error.empty()) outcome.Error = worker.Shortfall();
  if (worker.Terminated() && !host.Done()) {
    protocol::WaitSeconds(AbortSettleSeconds);
    host.Message("Thread Aborted");
    return ExitAborted;
  }
  if (!worker.ErrorText().empty()) {
    host.Message(std::string(MessagePrefix) + "job failed: " + worker.ErrorText());
    return ExitJobFailed;
  }
  if (!worker.Shortfall().empty()) {
    host.Message(std::string(MessagePrefix) + "job incomplete: " + worker.Shortfall());
    return ExitJobFailed;
  }
  if (!host.Done()) {
    host.Message(std::string(MessagePrefix) + "job did not finish");
    return ExitJobFailed;
  }
  return ExitDone;
}

std::string Numbers(const std::vector<int>& sectors) {
  std::string text;
  for (int s : sectors) {
    if (!text.empty()) text += ' ';
    text += std::to_string(s);
  }
  return text;
}

// Reads back what the WRITE wrote last (all of its sectors for Normal, what the rewrite or the
// Different blocks pass wrote otherwise; what a comparison already proved is not read again)
// and the EEPROM; the exit status of the WRITE.
int FinalCheck(const JobOptions& options, ConsoleHost& host, JobOutcome& outcome) {
  if (!options.finalCheck) {
    host.AddLogLine("Final check skipped (--no-final-check).");
    outcome.FinalCheck = "skipped";
    return ExitDone;
  }
  int result = ExitDone;
  const transfer::JobSelection& s = options.selection;
  const transfer::WritePass& lastPass = outcome.LastPass;
  outcome.CheckedSectors = lastPass.Sectors;
  if (s.Firmware || s.Channel) {
    if (lastPass.Sectors.empty()) {
      host.AddLogLine("Final check: no flash sector was written after the last comparison.");
    } else {
      std::vector<int> differing =
          transfer::SectorsDifferingFromWrite(lastPass.ImageFile, lastPass.Sectors);
      outcome.DifferingSectors = differing;
      if (differing.empty()) {
        host.AddLogLine("Final check: sector(s) " + Numbers(lastPass.Sectors) +
                        " hold what was written.");
      } else {
        host.AddLogLine("Final check FAILED: sector(s) " + Numbers(differing) + " differ from " +
                        protocol::BareFileName(lastPass.ImageFile) + ".");
        host.Message(std::string(MessagePrefix) + "the final check found sector(s) " +
                     Numbers(differing) + " different from what was written");
        result = ExitJobFailed;
      }
    }
  }
  if (s.Eeprom) {
    outcome.EepromChecked = true;
    outcome.EepromEqual = transfer::EepromHolds(s.EepromFile);
    if (outcome.EepromEqual) {
      host.AddLogLine("Final check: the EEPROM holds " + protocol::BareFileName(s.EepromFile) +
                      ".");
    } else {
      host.AddLogLine("Final check FAILED: the EEPROM differs from " +
                      protocol::BareFileName(s.EepromFile) + ".");
      host.Message(std::string(MessagePrefix) + "the final check found the EEPROM different from " +
                   s.EepromFile);
      result = ExitJobFailed;
    }
  }
  outcome.FinalCheck = result == ExitDone ? "passed" : "failed";
  if (result != ExitDone) outcome.Error = "the final check found a difference";
  return result;
}

// A READ's dumps go to FILE.partial; only a complete dump takes FILE's name, so a READ that fails
// never leaves a shortened dump under the name of a good one.
transfer::JobSelection PartialDumps(const transfer::JobSelection& selection) {
  transfer::JobSelection partial = selection;
  partial.FirmwareFile += PartialSuffix;
  partial.EepromFile += PartialSuffix;
  partial.ChannelFile += PartialSuffix;
  return partial;
}

void NameCompleteDumps(const transfer::JobSelection& selection) {
  for (const std::string& file : transfer::TickedFiles(selection)) {
    std::error_code error;
    std::filesystem::rename(file + PartialSuffix, file, error);
    if (error) throw protocol::EFileError("Cannot rename", file + PartialSuffix, error.message());
  }
}

void TellWherePartialDumpsAre(const transfer::JobSelection& selection, ConsoleHost& host) {
  for (const std::string& file : transfer::TickedFiles(selection)) {
    std::error_code error;
    if (!std::filesystem::exists(file + PartialSuffix, error)) continue;
    host.Message(std::string(MessagePrefix) + "the READ did not finish: " + file +
                 " is unchanged; what was read is in " + file + PartialSuffix);
  }
}

// FILE.sha256 beside each dump, in the form `sha256sum -c` reads (run it where the READ ran).
void WriteChecksums(const transfer::JobSelection& selection, ConsoleHost& host) {
  for (const std::string& file : transfer::TickedFiles(selection)) {
    std::string sums = file + ".sha256";
    std::ofstream out(sums, std::ios::binary | std::ios::trunc);
    out << Sha256OfFile(file) << "  " << file << "\n";
    out.close();
    if (!out) throw protocol::EFileError("Cannot write", sums, errno);
    host.AddLogLine("SHA-256 of " + file + " is in " + sums);
  }
}

bool Connect(const JobOptions& options, ConsoleHost& host, JobOutcome& outcome) {
  transfer::ConnectError error;
  if (transfer::ConnectDeco(options.port, options.baud, !options.service, error)) {
    host.AddLogLine("OK");
    return true;
  }
  outcome.Error = "connect failed: " + error.Text;
  host.Message(std::string(MessagePrefix) + "connect failed: " + error.Text);
  std::string hint = AccessHint(error.Code, error.Device.empty() ? options.port : error.Device);
  if (!hint.empty()) host.Message(MessagePrefix + hint);
  return false;
}

int Run(const JobOptions& options, ConsoleHost& host, const std::atomic<bool>& interrupted,
        RunRecord& record, JobOutcome& outcome) {
  protocol::MainWindowHandle() = &host;
  protocol::FillFlashTables();
  protocol::DoubleRead() = options.doubleRead && !options.write;
  protocol::Rereads() = 0;
  transfer::SkipBlankWords() = options.skipBlankWords && options.write;
  transfer::SkippedBlankWords() = 0;
  transfer::SetTimeStampedNames(transfer::LocalTimeStamp() +
                                 (options.nameTag.empty() ? "" : "_" + options.nameTag));
  const transfer::JobSelection& selection = options.selection;

  if (options.write) {
    outcome.Error = "refused before the job";
    if (!host.Confirm("Patch deco is risky.  Continue?")) return ExitJobFailed;
    transfer::SetWriteMethod(MethodOf(options.method));
    if (!transfer::CheckWriteFiles(selection, host)) return ExitJobFailed;
  } else if (!transfer::CheckReadFiles(selection, host) ||
             !transfer::AskReadOverwrites(selection, host)) {
    outcome.Error = "refused before the job";
    return ExitJobFailed;
  }
  outcome.Error.clear();
  if (!Connect(options, host, outcome)) return ExitJobFailed;
  if (options.verbose)
    host.Message(std::string(MessagePrefix) + "connected through " +
                 protocol::SerialLink()->DevicePath + " at " +
                 std::to_string(protocol::SerialLink()->LineSettings.BaudRate) + " baud" +
                 (protocol::SerialLink()->LatencyNote().empty()
                      ? ""
                      : "; " + protocol::SerialLink()->LatencyNote()));
  // Every character on the line, for the report's figures.
  protocol::SerialLink()->OnStatus =
      [&record](serial::TBlockSerial*, serial::THookSerialReason reason, const std::string& value) {
        if (reason == serial::HR_WriteCount || reason == serial::HR_ReadCount)
          record.Characters(std::stoull(value));
      };

  int result = ExitJobFailed;
  // From here on a WRITE that does not finish leaves the deco in service mode; a merge that
  // fails comes before any work on the deco and disconnects as usual.
  bool writeUnderWay = false;
  const transfer::JobSelection job = options.write ? selection : PartialDumps(selection);
  try {
    if (options.write) {
      transfer::MergeAndSetWriteJobValues(job, host);
      writeUnderWay = true;
    } else {
      transfer::SetReadJobValues(job);
    }
    if (interrupted) {
      // Ctrl-C while connecting: no step of the job may follow.
      host.Message(std::string(MessagePrefix) + "interrupted before the job started");
      result = ExitAborted;
    } else {
      result = RunJob(host, job, interrupted, outcome);
      if (options.skipBlankWords && options.write)
        host.AddLogLine("Blank words skipped: " + std::to_string(transfer::SkippedBlankWords()) +
                        " (FFFFFFFF, already held by the erased sectors).");
      if (options.write && result == ExitDone) result = FinalCheck(options, host, outcome);
      if (!options.write && result == ExitDone) {
        if (options.doubleRead)
          host.AddLogLine("Double read: every block read twice and equal; " +
                          std::to_string(protocol::Rereads()) + " more read(s) to settle.");
        NameCompleteDumps(selection);
        if (options.checksums) WriteChecksums(selection, host);
      }
    }
  } catch (const std::exception& failure) {
    host.Message(std::string(MessagePrefix) + failure.what());
    if (outcome.Error.empty()) outcome.Error = failure.what();
    result = ExitJobFailed;
  }
  if (!options.write && result != ExitDone) TellWherePartialDumpsAre(selection, host);

  if (writeUnderWay && result != ExitDone) {
    KeepServiceMode(options, host);
  } else {
    try {
      transfer::DisconnectDeco();
    } catch (const std::exception& failure) {
      host.Message(std::string(MessagePrefix) + "disconnect failed: " + failure.what());
      if (result == ExitDone) result = ExitJobFailed;
    }
  }
  // A link kept after a failed exit must not call into this run's record later.
  if (protocol::SerialLink()) protocol::SerialLink()->OnStatus = nullptr;
  protocol::MainWindowHandle() = nullptr;
  return result;
}

}  // namespace

int RunReadOrWrite(const JobOptions& options, ConsoleHost& host,
                   const std::atomic<bool>& interrupted, std::string* errorText) {
  std::unique_ptr<RunRecord> record;
  try {
    record = std::make_unique<RunRecord>(options.logFile, options.reportFile);
  } catch (const std::exception& failure) {
    host.Message(std::string(MessagePrefix) + failure.what());
    if (errorText) *errorText = failure.what();
    return ExitJobFailed;
  }
  host.OnRecord = [&record](const std::string& text, bool message) { record->Line(text, message); };
  JobOutcome outcome;
  int result = Run(options, host, interrupted, *record, outcome);
  if (errorText) *errorText = result == ExitDone ? "" : outcome.Error;
  if (options.verbose) {
    for (const PhaseRecord& phase : record->Phases()) {
      char figures[96];
      std::snprintf(
          figures, sizeof figures, ": %.1f s, %.0f characters/s", phase.Seconds,
          phase.Seconds > 0 ? static_cast<double>(phase.Characters) / phase.Seconds : 0.0);
      host.Message(std::string(MessagePrefix) + phase.Name + figures);
    }
  }
  if (record->WantsReport()) {
    try {
      record->WriteReport(ReportJson(options, outcome, *record, result));
    } catch (const std::exception& failure) {
      host.Message(std::string(MessagePrefix) + "no report: " + failure.what());
      if (result == ExitDone) result = ExitJobFailed;
    }
  }
  host.OnRecord = nullptr;
  return result;
}

}  // namespace cli

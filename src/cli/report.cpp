#include "cli/report.h"

#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/sha256.h"
#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "pyrelink_version.h"
#include "transfer/memories.h"

namespace cli {

namespace {

nlohmann::json FileEntry(const std::string& role, const std::string& name) {
  nlohmann::json entry{{"role", role}, {"name", name}};
  std::error_code error;
  if (!std::filesystem::exists(name, error)) {
    entry["size"] = nullptr;
    entry["sha256"] = nullptr;
    return entry;
  }
  int64_t size = protocol::FileSize64(name);
  entry["size"] = size;
  if (size >= 0) {
    try {
      entry["sha256"] = Sha256OfFile(name);
    } catch (const std::exception&) {
      entry["sha256"] = nullptr;
    }
  }
  return entry;
}

const char* FinalCheckText(transfer::FinalCheckVerdict verdict) {
  switch (verdict) {
    case transfer::FinalCheckVerdict::Passed:
      return "passed";
    case transfer::FinalCheckVerdict::Failed:
      return "failed";
    case transfer::FinalCheckVerdict::Interrupted:
      return "interrupted";
    case transfer::FinalCheckVerdict::Skipped:
      return "skipped";
    case transfer::FinalCheckVerdict::NotRun:
      break;
  }
  return "not run";
}

std::string ResultOf(int exitCode) {
  if (exitCode == ExitDone) return "done";
  if (exitCode == ExitAborted) return "aborted";
  return "failed";
}

}  // namespace

nlohmann::json ReportRun(const JobOptions& options, const JobOutcome& outcome,
                         const RunRecord& record, int exitCode) {
  const transfer::JobSelection& s = options.selection;
  nlohmann::json run;
  run["port"] = options.port;
  run["speed"] = std::stoi(options.baud);
  run["model"] = outcome.Model.empty() ? nlohmann::json(nullptr) : nlohmann::json(outcome.Model);
  run["protected"] = outcome.Protected;
  run["job"] = options.write ? "write" : "read";
  run["method"] = options.write ? nlohmann::json(options.method) : nlohmann::json(nullptr);
  if (options.skipBlankWords && options.write && s.TouchesFlash())
    run["skipped_blank_words"] = outcome.SkippedBlankWords;
  if (options.doubleRead && !options.write) run["double_read"] = {{"rereads", outcome.Rereads}};
  run["retries"] = outcome.Retries;
  if (outcome.Chips) {
    const protocol::FlashChips& chips = *outcome.Chips;
    auto codes = [](const protocol::ChipCodes& c) {
      return nlohmann::json{{"manufacturer", protocol::ToHex(c.Manufacturer, 2)},
                            {"device", protocol::ToHex(c.Device, 4)}};
    };
    run["flash_chips"] = {
        {"lower", codes(chips.Lower)},
        {"upper", codes(chips.Upper)},
        {"upper_high_byte", chips.UpperHighByte
                                ? nlohmann::json(protocol::WiringName(*chips.UpperHighByte))
                                : nlohmann::json(nullptr)},
        {"part", chips.Part ? nlohmann::json(chips.Part->Name) : nlohmann::json(nullptr)},
        {"unlock_bypass",
         chips.Part ? nlohmann::json(chips.Part->UnlockBypass) : nlohmann::json(nullptr)}};
  }
  if (options.fastProgram && options.write)
    run["fast_program"] = {{"words", outcome.FastProgrammedWords},
                           {"fell_back", outcome.FastProgramFellBack}};
  if (options.erasePoll && options.write) {
    nlohmann::json erases = nlohmann::json::array();
    for (const transfer::WritePass& pass : outcome.Passes)
      for (const transfer::SectorErase& erase : pass.EraseTimes)
        erases.push_back({{"sector", erase.Sector}, {"ms", erase.Ms}});
    run["erase_times"] = erases;
  }

  // A WRITE names the files it wrote from; a READ what it wrote itself: its dumps, or the
  // partial files of a READ that did not finish (never an earlier dump of the same name).
  const transfer::JobSelection& named = options.write ? s : outcome.Written;
  nlohmann::json files = nlohmann::json::array();
  for (const transfer::Memory& memory : transfer::Memories) {
    if (!(s.*memory.Ticked)) continue;
    files.push_back(FileEntry(memory.Name, named.*memory.File));
    if (!options.write) files.back()["complete"] = outcome.Complete.*memory.Ticked;
  }
  run["files"] = files;
  if (options.write) {
    nlohmann::json made = nlohmann::json::array();
    for (const transfer::MadeFile& file : outcome.MadeFiles)
      made.push_back(FileEntry(file.Role, file.Name));
    run["made_files"] = made;
    run["backup"] = outcome.BackupFolder.empty() ? nlohmann::json(nullptr)
                                                 : nlohmann::json(outcome.BackupFolder);
    if (!outcome.BackupNotMade.empty()) run["backup_not_made"] = outcome.BackupNotMade;
  }
  if (options.resume && !options.write) run["resumed_blocks"] = outcome.ResumedBlocks;

  std::set<int> erased;
  std::vector<int> written, rewritten;
  nlohmann::json stoppedAt = nullptr;
  for (size_t pass = 0; pass < outcome.Passes.size(); ++pass) {
    const transfer::WritePass& record = outcome.Passes[pass];
    erased.insert(record.Erased.begin(), record.Erased.end());
    for (int sector : record.Sectors) (pass == 0 ? written : rewritten).push_back(sector);
    if (!record.Complete) stoppedAt = protocol::ToHex(record.StoppedAt, 8);
  }
  run["sectors"] = {{"erased", std::vector<int>(erased.begin(), erased.end())},
                    {"written", written},
                    {"rewritten", rewritten},
                    {"stopped_at", stoppedAt}};
  nlohmann::json comparisons = nlohmann::json::array();
  for (const std::vector<int>& differing : outcome.Comparisons)
    comparisons.push_back({{"differing_sectors", differing}});
  run["comparisons"] = comparisons;
  const transfer::FinalCheckResult& check = outcome.Check;
  run["final_check"] = {
      {"result", FinalCheckText(check.Verdict)},
      {"sectors", check.CheckedSectors},
      {"differing_sectors", check.DifferingSectors},
      {"eeprom", check.EepromChecked ? nlohmann::json(check.EepromEqual ? "equal" : "differs")
                                     : nlohmann::json(nullptr)}};
  nlohmann::json phases = nlohmann::json::array();
  for (const PhaseRecord& phase : record.Phases()) {
    double perSecond =
        phase.Seconds > 0 ? static_cast<double>(phase.Characters) / phase.Seconds : 0;
    phases.push_back({{"phase", phase.Name},
                      {"seconds", phase.Seconds},
                      {"characters", phase.Characters},
                      {"characters_per_second", perSecond},
                      {"whole", phase.Whole}});
  }
  run["phases"] = phases;
  run["started"] = IsoLocalTime(record.Started());
  run["ended"] = IsoLocalTime(std::time(nullptr));
  run["seconds"] = record.Seconds();
  run["result"] = ResultOf(exitCode);
  run["exit_status"] = exitCode;
  run["error"] = outcome.Error.empty() ? nlohmann::json(nullptr) : nlohmann::json(outcome.Error);
  return run;
}

std::string ReportJson(const std::vector<std::string>& commandLine,
                       const std::vector<nlohmann::json>& runs) {
  nlohmann::json report{{"tool", "pyrelink-cli"},
                        {"version", PyrelinkVersion},
                        {"command_line", commandLine},
                        {"runs", runs}};
  // File names from old media and replies can hold bytes that are not UTF-8: such a byte becomes
  // U+FFFD rather than costing the report.
  return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace cli

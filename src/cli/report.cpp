#include "cli/report.h"

#include <nlohmann/json.hpp>
#include <set>

#include "cli/sha256.h"
#include "protocol/block_read.h"
#include "protocol/image_files.h"
#include "protocol/service_mode.h"

namespace cli {

namespace {

constexpr const char* ToolVersion = "1.0.0";
constexpr const char* ModelQueryLine = "Display of deco must show -SE-";

nlohmann::json FileEntry(const std::string& role, const std::string& name) {
  nlohmann::json entry{{"role", role}, {"name", name}};
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

std::string ResultOf(int exitCode) {
  if (exitCode == ExitDone) return "done";
  if (exitCode == ExitAborted) return "aborted";
  return "failed";
}

}  // namespace

std::string ReportJson(const JobOptions& options, const JobOutcome& outcome,
                       const RunRecord& record, int exitCode) {
  const transfer::JobSelection& s = options.selection;
  std::vector<std::string> lines = record.Lines();
  nlohmann::json run;
  run["port"] = options.port;
  run["speed"] = std::stoi(options.baud);
  run["model"] = nullptr;
  for (size_t i = 0; i + 1 < lines.size(); ++i)
    if (lines[i] == ModelQueryLine) run["model"] = lines[i + 1];
  run["protected"] = protocol::Block18Protected().load();
  run["job"] = options.write ? "write" : "read";
  run["method"] = options.write ? nlohmann::json(options.method) : nlohmann::json(nullptr);
  if (options.skipBlankWords && options.write)
    run["skipped_blank_words"] = transfer::SkippedBlankWords();
  if (options.doubleRead && !options.write)
    run["double_read"] = {{"rereads", protocol::Rereads().load()}};

  nlohmann::json files = nlohmann::json::array();
  if (s.Firmware) files.push_back(FileEntry("firmware", s.FirmwareFile));
  if (s.Eeprom) files.push_back(FileEntry("eeprom", s.EepromFile));
  if (s.Channel) files.push_back(FileEntry("channel", s.ChannelFile));
  run["files"] = files;

  std::set<int> erased;
  std::vector<int> written, rewritten;
  for (size_t pass = 0; pass < outcome.Passes.size(); ++pass) {
    for (int sector : outcome.Passes[pass].Sectors) {
      erased.insert(sector);
      (pass == 0 ? written : rewritten).push_back(sector);
    }
  }
  run["sectors"] = {{"erased", std::vector<int>(erased.begin(), erased.end())},
                    {"written", written},
                    {"rewritten", rewritten}};
  nlohmann::json comparisons = nlohmann::json::array();
  for (const std::vector<int>& differing : outcome.Comparisons)
    comparisons.push_back({{"differing_sectors", differing}});
  run["comparisons"] = comparisons;
  run["final_check"] = {
      {"result", outcome.FinalCheck},
      {"sectors", outcome.CheckedSectors},
      {"differing_sectors", outcome.DifferingSectors},
      {"eeprom", outcome.EepromChecked ? nlohmann::json(outcome.EepromEqual ? "equal" : "differs")
                                       : nlohmann::json(nullptr)}};
  nlohmann::json phases = nlohmann::json::array();
  for (const PhaseRecord& phase : record.Phases()) {
    double perSecond =
        phase.Seconds > 0 ? static_cast<double>(phase.Characters) / phase.Seconds : 0;
    phases.push_back({{"phase", phase.Name},
                      {"seconds", phase.Seconds},
                      {"characters", phase.Characters},
                      {"characters_per_second", perSecond}});
  }
  run["phases"] = phases;
  run["result"] = ResultOf(exitCode);
  run["exit_status"] = exitCode;
  run["error"] = outcome.Error.empty() ? nlohmann::json(nullptr) : nlohmann::json(outcome.Error);

  nlohmann::json report{{"tool", "pyrelink-cli"}, {"version", ToolVersion}};
  report["runs"] = nlohmann::json::array({run});
  return report.dump(2);
}

}  // namespace cli

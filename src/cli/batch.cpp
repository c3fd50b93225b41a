#include "cli/batch.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>

#include "cli/console_host.h"
#include "cli/report.h"
#include "cli/run_outputs.h"
#include "serial/serial_util.h"
#include "transfer/time_stamp.h"

namespace cli {

namespace {

constexpr const char* DevicePrefix = "/dev/";
// udev's stable names (by-id, by-path): the last part alone tells the port.
constexpr const char* StableNameFolder = "/dev/serial/";
constexpr size_t MaxPortFileName = 64;

struct PortRun {
  std::string port;
  int exitCode = ExitJobFailed;
  double seconds = 0;
  RunEnd end;
};

const char* ResultOf(int exitCode) {
  if (exitCode == ExitDone) return "done";
  if (exitCode == ExitAborted) return "aborted";
  return "FAILED";
}

}  // namespace

std::string PortFileName(const std::string& port) {
  std::string name = port;
  if (port.rfind(StableNameFolder, 0) == 0) {
    name = port.substr(port.rfind('/') + 1);
  } else if (port.rfind(DevicePrefix, 0) == 0) {
    name = port.substr(std::string(DevicePrefix).size());
  }
  for (char& c : name) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '_' || c == '-';
    if (!plain) c = '-';
  }
  // A leading '-' reads as an option to other tools, a leading '.' hides the file (or, as "..",
  // leaves the folder).
  name.erase(0, name.find_first_not_of("-."));
  if (name.size() <= MaxPortFileName) return name;
  // Adapters of one model differ only in the serial number near the end of their stable names:
  // a hash of the whole name keeps such names apart.
  uint32_t hash = 2166136261u;  // FNV-1a
  for (char c : name) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
  char suffix[10];
  std::snprintf(suffix, sizeof suffix, "-%08x", static_cast<unsigned>(hash));
  return name.substr(0, MaxPortFileName - std::strlen(suffix)) + suffix;
}

std::string ExpandPort(const std::string& name, const std::string& port) {
  std::string result = name;
  const std::string placeholder = PortPlaceholder;
  const std::string value = PortFileName(port);
  for (size_t at = result.find(placeholder); at != std::string::npos;
       at = result.find(placeholder, at + value.size()))
    result.replace(at, placeholder.size(), value);
  return result;
}

void ExpandPortInNames(JobOptions& options) {
  transfer::JobSelection& s = options.selection;
  for (std::string* name :
       {&s.FirmwareFile, &s.EepromFile, &s.ChannelFile, &options.logFile, &options.reportFile,
        &options.traceFile})
    *name = ExpandPort(*name, options.port);
}

std::string BatchRefusal(const JobOptions& options, const std::vector<std::string>& ports,
                         bool assumeYes) {
  if (ports.size() < 2) return "";
  if (!assumeYes) return "several decos run unattended: add --yes";
  auto lacks = [](const std::string& name) {
    return !name.empty() && name.find(PortPlaceholder) == std::string::npos;
  };
  if (!options.write) {
    for (const std::string& file : transfer::TickedFiles(options.selection)) {
      if (lacks(file))
        return "with several ports every READ file needs " + std::string(PortPlaceholder) +
               " in its name (" + file + ")";
    }
  }
  // Lines of several decos would interleave in one log; one report holds every port's run.
  if (lacks(options.logFile))
    return "with several ports --log needs " + std::string(PortPlaceholder) + " in its name";
  if (lacks(options.traceFile))
    return "with several ports --trace needs " + std::string(PortPlaceholder) + " in its name";
  for (size_t i = 0; i < ports.size(); ++i) {
    for (size_t k = i + 1; k < ports.size(); ++k) {
      if (PortFileName(ports[i]) == PortFileName(ports[k])) return ports[i] + " is given twice";
    }
  }
  return "";
}

int RunBatch(const JobOptions& options, const std::vector<std::string>& ports,
             protocol::StopToken stop, std::FILE* out, std::FILE* err) {
  // A report name without {port} is one report of every port's run, written when all ended.
  const bool oneReport = options.reportFile.find(PortPlaceholder) == std::string::npos;
  if (oneReport) {
    std::string why = ReportRefusal(options.reportFile);
    if (!why.empty()) {
      std::fprintf(err, "%s--report %s: %s\n", MessagePrefix, options.reportFile.c_str(),
                   why.c_str());
      return ExitJobFailed;
    }
  }
  std::vector<PortRun> runs(ports.size());
  // The locale's formats are read here, once, not by several port threads at the same time.
  transfer::LoadTimeFormats();
  std::vector<std::thread> threads;
  for (size_t i = 0; i < ports.size(); ++i) {
    threads.emplace_back([&, i] {
      PortRun& run = runs[i];
      run.port = ports[i];
      JobOptions mine = options;
      mine.port = ports[i];
      mine.nameTag = PortFileName(ports[i]);
      if (oneReport) mine.reportFile.clear();
      ExpandPortInNames(mine);
      // The run makes its own deco link, plan and worker: nothing is shared between ports.
      ConsoleHost host(true, out, err);
      host.SetLinePrefix("[" + mine.nameTag + "] ");
      uint64_t startMs = serial::MonotonicMs();
      run.exitCode = RunReadOrWrite(mine, host, stop, &run.end);
      run.seconds = static_cast<double>(serial::MonotonicMs() - startMs) / 1000.0;
    });
  }
  for (std::thread& thread : threads) thread.join();

  int result = ExitDone;
  if (oneReport && !options.reportFile.empty()) {
    std::vector<nlohmann::json> entries;
    for (const PortRun& run : runs) entries.push_back(run.end.Report);
    try {
      WriteReportFile(options.reportFile, ReportJson(options.commandLine, entries));
    } catch (const std::exception& failure) {
      std::fprintf(err, "%sno report: %s\n", MessagePrefix, failure.what());
      result = ExitJobFailed;
    }
  }
  size_t width = 4;
  for (const PortRun& run : runs) width = std::max(width, run.port.size());
  std::fprintf(out, "%-*s  %-7s  %8s  %s\n", static_cast<int>(width), "port", "result", "seconds",
               "reason");
  for (const PortRun& run : runs) {
    std::fprintf(out, "%-*s  %-7s  %8.1f  %s\n", static_cast<int>(width), run.port.c_str(),
                 ResultOf(run.exitCode), run.seconds, run.end.Error.c_str());
    if (run.exitCode == ExitAborted)
      result = ExitAborted;
    else if (run.exitCode != ExitDone && result == ExitDone)
      result = ExitJobFailed;
  }
  std::fflush(out);
  return result;
}

}  // namespace cli

#include "cli/run_outputs.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli/sha256.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "transfer/own_files.h"

namespace cli {

namespace {

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

bool CheckRunOutputs(const JobOptions& options, const transfer::RunNames& names, ConsoleHost& host,
                     std::string& error) {
  auto refuse = [&](const std::string& what, const std::string& why) {
    error = what + ": " + why;
    host.Tell(error);
    return false;
  };
  std::string why = ReportRefusal(options.reportFile);
  if (!why.empty()) return refuse("--report " + options.reportFile, why);
  if (!options.workDir.empty()) {
    std::string why = FolderRefusal(options.workDir);
    if (!why.empty()) return refuse("--work-dir " + options.workDir, why);
  }
  if (options.write && options.backup) {
    std::string why = FolderRefusal(FolderOf(names.BackupFolderName));
    if (!why.empty()) return refuse("the WRITE's backup", why);
  }
  const transfer::JobSelection& s = options.selection;
  bool readsBack = options.method != "normal";
  bool merges = s.Firmware && s.Channel;
  if (options.write && (readsBack || merges)) {
    std::string why = FolderRefusal(FolderOf(names.FirmwareReadBackName));
    if (!why.empty()) return refuse("the WRITE's read-back and merged image", why);
  }
  return true;
}

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

}  // namespace cli

#include "transfer/job_setup.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "protocol/image_files.h"
#include "transfer/file_size_limit.h"
#include "transfer/memories.h"
#include "transfer/own_files.h"

namespace transfer {

namespace {
constexpr const char* ReadIgnored = "READ ignored!";
constexpr const char* WrongFileSuffix = " does not exist or has wrong size. WRITE aborted!";
constexpr const char* NoBoxTicked = "CheckBoxes are not checked or File";
constexpr int64_t WriteSizeGranule = 8;
constexpr int64_t BytesPerKb = 1024;

namespace fs = std::filesystem;

std::string Kb(int64_t bytes) {
  return std::to_string(bytes / BytesPerKb) + " KB";
}

// Opens the file for writing without changing it (or creates it and takes it away again);
// answers the system's reason when that fails.
std::string WriteProbe(const std::string& file) {
  std::error_code error;
  bool existed = fs::exists(file, error);
  errno = 0;
  std::fstream probe(file, existed ? std::ios::in | std::ios::out | std::ios::binary
                                   : std::ios::out | std::ios::binary);
  if (!probe) return errno ? std::generic_category().message(errno) : "cannot be opened";
  probe.close();
  if (!existed) fs::remove(file, error);
  return "";
}

// Why a WRITE file failed its size check: the path as given, what is there, what is wanted.
std::string WrongFileDetail(const Memory& memory, const std::string& file, bool relaxed) {
  std::error_code error;
  std::string found;
  if (!fs::exists(file, error)) {
    found = " does not exist";
  } else if (fs::is_directory(file, error)) {
    found = " is a folder";
  } else {
    int64_t size = protocol::FileSize64(file);
    found = size < 0 ? " cannot be opened" : " has " + std::to_string(size) + " bytes";
  }
  const std::string wanted =
      relaxed ? "the Different blocks method takes any file of a non-zero multiple of " +
                    std::to_string(WriteSizeGranule) + " bytes"
              : std::string(memory.Kind) + " has " + std::to_string(memory.ImageBytes) + " bytes";
  return file + found + "; " + wanted;
}

// The folder a file name lies in; "." for a bare name.
fs::path FolderOf(const std::string& file) {
  fs::path folder = fs::path(file).parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

// The flash part of a plan: the firmware when ticked, else the channel list alone.
void SetBlockCountAndImage(const JobSelection& selection, JobPlan& plan) {
  plan.BlockCount = 0;
  if (selection.Channel) {
    plan.BlockCount = ChannelBlocks;
    plan.ImageFileName = selection.ChannelFile;
  }
  if (selection.Firmware) {
    plan.BlockCount = FirmwareBlocks;
    plan.ImageFileName = selection.FirmwareFile;
  }
}

bool ReadsBack(WriteMethod method) {
  return method != WriteMethod::Normal;
}

bool CheckOwnOutputs(const JobSelection& selection, WriteMethod method, const RunNames& names,
                     JobDialogs& dialogs) {
  bool merges = selection.Firmware && selection.Channel;
  for (const std::string& file : TickedFiles(selection)) {
    const char* overwrittenBy = nullptr;
    if (ReadsBack(method) && (protocol::SameFile(file, names.FirmwareReadBackName) ||
                              protocol::SameFile(file, names.ChannelReadBackName)))
      overwrittenBy = " is where this WRITE stores its read-back of the flash.";
    if (merges && protocol::SameFile(file, names.MergedFileName))
      overwrittenBy = " is where this WRITE stores the merged image.";
    if (overwrittenBy) {
      dialogs.Message(protocol::BareFileName(file) + overwrittenBy +
                      " Copy it to another name first. WRITE aborted!");
      return false;
    }
  }
  return true;
}
}  // namespace

bool CheckReadFiles(const JobSelection& selection, JobDialogs& dialogs) {
  auto refuse = [&](const std::string& text) {
    dialogs.Message(text + " " + ReadIgnored);
    return false;
  };
  std::vector<fs::path> seen;
  int64_t needed = 0;
  const int64_t sizeLimit = FileSizeLimit();
  const std::string* first = nullptr;
  for (const Memory& memory : Memories) {
    if (!(selection.*memory.Ticked)) continue;
    const std::string& file = selection.*memory.File;
    if (!first) first = &file;
    const std::string name = protocol::BareFileName(file);
    std::error_code error;
    // One dump would overwrite the other: the later memory's read replaces the earlier's.
    fs::path full = fs::weakly_canonical(fs::absolute(file, error), error);
    for (const fs::path& other : seen) {
      if (other == full)
        return refuse(name + " is named for two memories: each needs its own file.");
    }
    seen.push_back(full);
    fs::path folder = FolderOf(file);
    if (!fs::is_directory(folder, error))
      return refuse("The folder of " + name + " does not exist: " + folder.string() + ".");
    if (fs::is_directory(file, error)) return refuse(file + " is a folder, not a file.");
    std::string reason = WriteProbe(file);
    if (!reason.empty()) return refuse("Cannot write " + name + ": " + reason + ".");
    if (memory.ImageBytes > sizeLimit)
      return refuse(name + " needs " + Kb(memory.ImageBytes) +
                    ", but this program may write files of " + Kb(sizeLimit) + " only.");
    needed += memory.ImageBytes;
  }
  if (first) {
    // All dumps usually share one folder; the first one's is the one that counts.
    std::error_code error;
    fs::space_info space = fs::space(FolderOf(*first), error);
    if (!error && static_cast<int64_t>(space.available) < needed)
      return refuse("Not enough room for the dumps: they need " + Kb(needed) + ", " +
                    Kb(static_cast<int64_t>(space.available)) + " are free in " +
                    FolderOf(*first).string() + ".");
  }
  return true;
}

bool AskReadOverwrites(const JobSelection& selection, JobDialogs& dialogs) {
  for (const std::string& file : TickedFiles(selection)) {
    if (protocol::FileSizeOf(file) == 0) continue;
    if (!dialogs.Confirm("Do you really want to overwrite   " + protocol::BareFileName(file) +
                         " ?")) {
      dialogs.Message(ReadIgnored);
      return false;
    }
  }
  if (!selection.Firmware && !selection.Eeprom && !selection.Channel) {
    dialogs.Message(ReadIgnored);
    return false;
  }
  return true;
}

JobPlan ReadJobPlan(const JobSelection& selection) {
  JobPlan plan;
  plan.Selection = selection;
  SetBlockCountAndImage(selection, plan);
  return plan;
}

bool CheckWriteFile(const std::string& fileName, int64_t expectedSize, bool relaxed, bool& failed) {
  int64_t size = protocol::FileSize64(fileName);
  if (relaxed) {
    failed = size <= 0 || size % WriteSizeGranule != 0;
  } else {
    failed = size != expectedSize;
  }
  return !failed;
}

bool CheckWriteFiles(const JobSelection& selection, WriteMethod method, const RunNames& names,
                     JobDialogs& dialogs) {
  bool failed = true;
  for (const Memory& memory : Memories) {
    if (!(selection.*memory.Ticked)) continue;
    const std::string& file = selection.*memory.File;
    const bool relaxed = method == WriteMethod::DifferentBlocks;
    if (!CheckWriteFile(file, memory.ImageBytes, relaxed, failed)) {
      dialogs.Message(protocol::BareFileName(file) + WrongFileSuffix);
      dialogs.Explain(WrongFileDetail(memory, file, relaxed));
      return false;
    }
  }
  if (!selection.Firmware && !selection.Eeprom && !selection.Channel) {
    dialogs.Message(std::string(NoBoxTicked) + WrongFileSuffix);
    return false;
  }
  return CheckOwnOutputs(selection, method, names, dialogs);
}

JobPlan WriteJobPlan(const JobSelection& selection, WriteMethod method, const RunNames& names,
                     JobDialogs& dialogs) {
  JobPlan plan;
  plan.IsWriteJob = true;
  plan.Selection = selection;
  plan.SafeMethod = method == WriteMethod::Safe;
  plan.DifferentBlocksMethod = method == WriteMethod::DifferentBlocks;
  plan.FirmwareReadBackName = names.FirmwareReadBackName;
  plan.ChannelReadBackName = names.ChannelReadBackName;
  SetBlockCountAndImage(selection, plan);
  if (selection.Firmware && selection.Channel) {
    dialogs.AddLogLine("Inserting Channel into Firmware file ...");
    std::string merged = ClaimOwnFile(names.MergedFileName);
    if (merged != names.MergedFileName)
      dialogs.AddLogLine(names.MergedFileName + " exists already: the merged image is " + merged);
    try {
      protocol::MergeChannelIntoFirmware(
          selection.ChannelFile, selection.FirmwareFile, merged,
          [&](const std::string& line) { dialogs.AddLogLine(line); });
    } catch (const std::exception&) {
      std::error_code ignored;
      fs::remove(merged, ignored);  // claimed above, nothing of value in it
      throw;
    }
    plan.MergedFileName = merged;
    plan.ChannelMerged = true;
  }
  return plan;
}

}  // namespace transfer

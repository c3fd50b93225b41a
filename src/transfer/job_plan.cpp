#include "transfer/job_plan.h"

#include <filesystem>

#include "transfer/memories.h"

namespace transfer {

std::vector<std::string> TickedFiles(const JobSelection& selection) {
  std::vector<std::string> files;
  for (const Memory& memory : Memories)
    if (selection.*memory.Ticked) files.push_back(selection.*memory.File);
  return files;
}

namespace {
std::string InFolder(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : (std::filesystem::path(folder) / name).string();
}
}  // namespace

RunNames TimeStampedNames(const std::string& timeStamp, const std::string& folder) {
  return {InFolder(folder, "_2MB_" + timeStamp + ".BIN"),
          InFolder(folder, "_512KB_" + timeStamp + ".BIN"),
          InFolder(folder, "_2MB_MERGED_" + timeStamp + ".BIN"),
          BackupFolderName(timeStamp, folder)};
}

std::string BackupFolderName(const std::string& timeStamp, const std::string& folder) {
  return InFolder(folder, "backup-" + timeStamp);
}

}  // namespace transfer

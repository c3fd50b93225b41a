// The backup before a WRITE: the EEPROM and the flash the job is about to change, read into a
// folder of the run's own before the first write, as images the same WRITE can write back.
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "protocol/eeprom_transfer.h"
#include "protocol/transaction.h"
#include "transfer/own_files.h"
#include "transfer/scope_exit.h"
#include "transfer/transfer_job.h"

namespace transfer {

namespace {
constexpr const char* BackupFileExtension = ".bin";
constexpr const char* NothingChanged = "the backup could not be made, nothing was written: ";
constexpr const char* BackupStopped = "the WRITE was stopped during its backup";

// The memory whose image the job's flash blocks make: the whole firmware or the channel list.
const char* FlashMemory(int32_t blockCount) {
  return blockCount == FirmwareBlocks ? "firmware" : "channel";
}
}  // namespace

std::string BackupLine(const std::string& folder, const std::string& notMade) {
  if (!notMade.empty()) return "No backup of the deco was made: " + notMade + ".";
  if (!folder.empty()) return "Backup of the deco before this WRITE: " + folder + ".";
  return "";
}

std::string TransferJob::BackupFile(const std::string& memory) const {
  return (std::filesystem::path(backupFolder_) / (memory + BackupFileExtension)).string();
}

void TransferJob::NoteMade(const std::string& role, const std::string& name) {
  Record([&](JobResult& result) { result.MadeFiles.push_back({role, name}); });
}

protocol::ReadPolicy TransferJob::BackupReads() const {
  return protocol::ReadPolicy{plan_.Reads.Retries, plan_.Reads.DoubleRead || plan_.BackupDoubleRead,
                              true};
}

void TransferJob::DropIncompleteBackup(const std::string& why) {
  std::error_code error;
  if (!backupFolder_.empty()) std::filesystem::remove_all(backupFolder_, error);
  const std::string folder = backupFolder_;
  backupFolder_.clear();
  Record([&](JobResult& result) {
    std::erase_if(result.MadeFiles,
                  [](const MadeFile& made) { return made.Role.rfind(MadeBackupPrefix, 0) == 0; });
    result.BackupFolder.clear();
    result.BackupNotMade = why;
    if (error)
      result.BackupNotMade += "; what was read of it is left in " + folder +
                              ", which could not be removed (" + error.message() +
                              "): it is no backup";
  });
}

bool TransferJob::Backup() {
  if (plan_.BackupFolder.empty()) return true;
  link_.SetReadPolicy(BackupReads());
  ScopeExit usualReads([this] { link_.SetReadPolicy(plan_.Reads); });
  try {
    backupFolder_ = ClaimOwnFolder(plan_.BackupFolder);
    Record([&](JobResult& result) { result.BackupFolder = backupFolder_; });
    protocol::PostStatus(link_, "Backup into " + backupFolder_ + " before anything is written ...");
    if (plan_.Selection.Eeprom) {
      const std::string file = BackupFile("eeprom");
      NoteMade(std::string(MadeBackupPrefix) + "eeprom", file);
      protocol::ReadEeprom(link_, file);
    }
    if (plan_.BlockCount > 0 && !plan_.DifferentBlocksMethod) {
      const std::string memory = FlashMemory(plan_.BlockCount);
      const std::string file = BackupFile(memory);
      NoteMade(MadeBackupPrefix + memory, file);
      if (!ReadFlash(plan_.BlockCount, file, PhaseKind::ReadBack)) {
        DropIncompleteBackup(BackupStopped);
        return false;
      }
    }
  } catch (const std::exception& failure) {
    DropIncompleteBackup(failure.what());
    throw std::runtime_error(NothingChanged + std::string(failure.what()));
  }
  return true;
}

void TransferJob::KeepReadBackAsBackup(const std::string& readBack) {
  if (backupFolder_.empty()) return;
  const std::string memory = FlashMemory(plan_.BlockCount);
  const std::string file = BackupFile(memory);
  std::error_code error;
  if (!std::filesystem::copy_file(readBack, file, error))
    throw std::runtime_error("the backup of the flash could not be made, the flash was not "
                             "written: cannot copy " + readBack + " to " + file + ": " +
                             error.message());
  NoteMade(MadeBackupPrefix + memory, file);
}

}  // namespace transfer

// The backup before a WRITE: the EEPROM and the flash the job is about to change, read into a
// folder of the run's own before the first write, as images the same WRITE can write back.
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "protocol/eeprom_transfer.h"
#include "protocol/transaction.h"
#include "transfer/own_files.h"
#include "transfer/transfer_job.h"

namespace transfer {

namespace {
constexpr const char* BackupFileExtension = ".bin";
constexpr const char* NothingChanged = "the backup could not be made, nothing was written: ";

// The memory whose image the job's flash blocks make: the whole firmware or the channel list.
const char* FlashMemory(int32_t blockCount) {
  return blockCount == FirmwareBlocks ? "firmware" : "channel";
}
}  // namespace

std::string TransferJob::BackupFile(const std::string& memory) const {
  return (std::filesystem::path(backupFolder_) / (memory + BackupFileExtension)).string();
}

void TransferJob::NoteMade(const std::string& role, const std::string& name) {
  Record([&](JobResult& result) { result.MadeFiles.push_back({role, name}); });
}

bool TransferJob::Backup() {
  if (plan_.BackupFolder.empty()) return true;
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
      if (!ReadFlash(plan_.BlockCount, file, PhaseKind::ReadBack)) return false;
    }
  } catch (const std::exception& failure) {
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

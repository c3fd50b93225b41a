// What a READ or WRITE job is to do: built by the job setup from the user's choice and handed to
// the worker as a value, which nobody changes while the job runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/deco_link.h"

namespace transfer {

inline constexpr int32_t FirmwareBlocks = 8192;
inline constexpr int32_t ChannelBlocks = 2048;
// A block read that fails (no reply, a bad one, a line error) is sent again this often before
// the job fails: one late reply is no reason to start a READ again.
inline constexpr int DefaultReadRetries = 2;

// The job's check boxes and file names, taken when the job starts.
struct JobSelection {
  bool Firmware = false;  // "Firmware 2MB"
  bool Eeprom = false;    // "Eeprom 2KB"
  bool Channel = false;   // "Channel 512KB"
  std::string FirmwareFile = "Fw.bin";
  std::string EepromFile = "E.bin";
  std::string ChannelFile = "Ch.bin";
  // The firmware and the channel list share the flash.
  bool TouchesFlash() const { return Firmware || Channel; }
};

// The files of the ticked boxes, in the order firmware, EEPROM, channel.
std::vector<std::string> TickedFiles(const JobSelection& selection);

enum class WriteMethod { Normal, Safe, DifferentBlocks };

// The files a WRITE makes for itself, named by the run's time stamp.
struct RunNames {
  std::string FirmwareReadBackName;
  std::string ChannelReadBackName;
  std::string MergedFileName;
  std::string BackupFolderName;
};
// "_2MB_<stamp>.BIN", "_512KB_<stamp>.BIN", "_2MB_MERGED_<stamp>.BIN" and "backup-<stamp>", in
// folder ("": the current one).
RunNames TimeStampedNames(const std::string& timeStamp, const std::string& folder = "");
// The backup folder's name for a run's stamp, in folder ("": the current one).
std::string BackupFolderName(const std::string& timeStamp, const std::string& folder = "");

struct JobPlan {
  bool IsWriteJob = false;
  JobSelection Selection;
  // The flash blocks of the job: 8192 for the firmware, 2048 for the channel list alone, 0 none.
  int32_t BlockCount = 0;
  // A READ's flash dump, or the image a WRITE writes (the merged one when ChannelMerged).
  std::string ImageFileName;
  bool SafeMethod = false;
  bool DifferentBlocksMethod = false;
  bool ChannelMerged = false;
  // The merged image this job made: the run's name, or the next free one when it was taken.
  std::string MergedFileName;
  std::string FirmwareReadBackName;
  std::string ChannelReadBackName;
  // Words that equal erased flash (FFFFFFFF) are left to the erase of their sector.
  bool SkipBlankWords = false;
  // A WRITE ends by reading back what it wrote last, and the EEPROM.
  bool FinalCheck = true;
  // After each sector erase, the flash is read until the sector is erased instead of a fixed
  // pause.
  bool ErasePoll = false;
  // Words are programmed in unlock bypass (two cycles instead of four); only for chips known to
  // offer it, and only with a comparison after the WRITE.
  bool FastProgram = false;
  // What the connect learned: sector 18 of a deco that protects it is neither written nor
  // compared.
  bool Block18Protected = false;
  // How the job's block reads go; what they needed comes back in the job's result.
  protocol::ReadPolicy Reads;
  // Before anything is changed, the EEPROM and the flash the job writes are read into a folder
  // of this name (or the next free one); empty: no backup.
  std::string BackupFolder;
  // Every block of the backup is read until two reads agree (a block that needed a retry always
  // is): the backup is the only copy of what the deco held.
  bool BackupDoubleRead = false;
  // A resumed READ: the whole blocks its flash dump already holds, from the start of flash. The
  // read goes on after them once a sample of them (the first of each sector, the last, and one
  // drawn at random in every 16), read again, is found equal.
  int32_t ResumeFromBlock = 0;
};

}  // namespace transfer

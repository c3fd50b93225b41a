#include "transfer/job_setup.h"

#include "protocol/image_files.h"

namespace transfer {

namespace {
constexpr const char* ReadIgnored = "READ ignored!";
constexpr const char* WrongFileSuffix = " does not exist or has wrong size. WRITE aborted!";
constexpr const char* NoBoxTicked = "CheckBoxes are not checked or File";
constexpr int64_t WriteSizeGranule = 8;

void SetBlockCountAndImage(const JobSelection& selection) {
  BlockCount = 0;
  if (selection.Channel) {
    BlockCount = ChannelBlocks;
    ImageFileName = selection.ChannelFile;
  }
  if (selection.Firmware) {
    BlockCount = FirmwareBlocks;
    ImageFileName = selection.FirmwareFile;
  }
}
// A WRITE creates its read-back and its merged image under the run's time-stamped names; an
// image file that is one of them would be overwritten before it is used, and a comparison of
// the flash with its own read-back finds nothing.
bool CheckOwnOutputs(const JobSelection& selection, JobDialogs& dialogs) {
  bool readsBack = SafeMethod || DifferentBlocksMethod;
  bool merges = selection.Firmware && selection.Channel;
  for (const std::string& file : TickedFiles(selection)) {
    const char* overwrittenBy = nullptr;
    if (readsBack && (protocol::SameFile(file, FirmwareReadBackName) ||
                      protocol::SameFile(file, ChannelReadBackName)))
      overwrittenBy = " is where this WRITE stores its read-back of the flash.";
    if (merges && protocol::SameFile(file, MergedFileName))
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

void SetReadJobValues(const JobSelection& selection) {
  IsWriteJob = false;
  SetBlockCountAndImage(selection);
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

void SetWriteMethod(WriteMethod method) {
  SafeMethod = method == WriteMethod::Safe;
  DifferentBlocksMethod = method == WriteMethod::DifferentBlocks;
}

bool CheckWriteFiles(const JobSelection& selection, JobDialogs& dialogs) {
  const struct {
    bool ticked;
    const std::string& file;
    int64_t size;
  } checks[] = {{selection.Firmware, selection.FirmwareFile, protocol::FirmwareImageBytes},
                {selection.Eeprom, selection.EepromFile, protocol::EepromImageBytes},
                {selection.Channel, selection.ChannelFile, protocol::ChannelImageBytes}};
  bool failed = true;
  for (const auto& check : checks) {
    if (!check.ticked) continue;
    if (!CheckWriteFile(check.file, check.size, DifferentBlocksMethod, failed)) {
      dialogs.Message(protocol::BareFileName(check.file) + WrongFileSuffix);
      return false;
    }
  }
  if (!selection.Firmware && !selection.Eeprom && !selection.Channel) {
    dialogs.Message(std::string(NoBoxTicked) + WrongFileSuffix);
    return false;
  }
  return CheckOwnOutputs(selection, dialogs);
}

void MergeAndSetWriteJobValues(const JobSelection& selection, JobDialogs& dialogs) {
  ChannelMerged = false;
  if (selection.Firmware && selection.Channel) {
    dialogs.AddLogLine("Inserting Channel into Firmware file ...");
    protocol::MergeChannelIntoFirmware(selection.ChannelFile, selection.FirmwareFile,
                                       MergedFileName,
                                       [&](const std::string& line) { dialogs.AddLogLine(line); });
    ChannelMerged = true;
  }
  IsWriteJob = true;
  SetBlockCountAndImage(selection);
}

}  // namespace transfer

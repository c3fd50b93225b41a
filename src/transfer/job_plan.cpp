#include "transfer/job_plan.h"

namespace transfer {

std::vector<std::string> TickedFiles(const JobSelection& selection) {
  std::vector<std::string> files;
  if (selection.Firmware) files.push_back(selection.FirmwareFile);
  if (selection.Eeprom) files.push_back(selection.EepromFile);
  if (selection.Channel) files.push_back(selection.ChannelFile);
  return files;
}

RunNames TimeStampedNames(const std::string& timeStamp) {
  return {"_2MB_" + timeStamp + ".BIN", "_512KB_" + timeStamp + ".BIN",
          "_2MB_MERGED_" + timeStamp + ".BIN"};
}

}  // namespace transfer

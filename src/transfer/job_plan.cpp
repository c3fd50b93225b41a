#include "transfer/job_plan.h"

#include "transfer/memories.h"

namespace transfer {

std::vector<std::string> TickedFiles(const JobSelection& selection) {
  std::vector<std::string> files;
  for (const Memory& memory : Memories)
    if (selection.*memory.Ticked) files.push_back(selection.*memory.File);
  return files;
}

RunNames TimeStampedNames(const std::string& timeStamp) {
  return {"_2MB_" + timeStamp + ".BIN", "_512KB_" + timeStamp + ".BIN",
          "_2MB_MERGED_" + timeStamp + ".BIN"};
}

}  // namespace transfer

#include "transfer/job_values.h"

namespace transfer {

bool IsWriteJob = false;
int32_t BlockCount = 0;
std::string ImageFileName;
bool SafeMethod = false;
bool DifferentBlocksMethod = false;
bool ChannelMerged = false;
std::string MergedFileName;
std::string FirmwareReadBackName;
std::string ChannelReadBackName;
std::atomic<bool> FlashWriteActive{false};

namespace {
std::string ReplaceSeparators(std::string text) {
  for (char& c : text) {
    if (c == ':' || c == '/') c = '-';
  }
  return text;
}
}  // namespace

std::string BuildTimeStamp(const std::string& shortDate, const std::string& longTime) {
  std::string stamp = ReplaceSeparators(shortDate) + "_" + ReplaceSeparators(longTime);
  for (char& c : stamp) {
    if (c == ' ') c = '_';
  }
  return stamp;
}

void SetTimeStampedNames(const std::string& timeStamp) {
  FirmwareReadBackName = "_2MB_" + timeStamp + ".BIN";
  ChannelReadBackName = "_512KB_" + timeStamp + ".BIN";
  MergedFileName = "_2MB_MERGED_" + timeStamp + ".BIN";
}

}  // namespace transfer

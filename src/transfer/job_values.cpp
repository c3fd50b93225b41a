#include "transfer/job_values.h"

namespace transfer {

namespace {
JobContext processJob;
thread_local JobContext* installedJob = nullptr;

std::string ReplaceSeparators(std::string text) {
  for (char& c : text) {
    if (c == ':' || c == '/') c = '-';
  }
  return text;
}
}  // namespace

JobContext& CurrentJob() { return installedJob ? *installedJob : processJob; }

JobScope::JobScope(JobContext& job, protocol::LinkContext& link)
    : previous_(installedJob), link_(link) {
  installedJob = &job;
}

JobScope::~JobScope() { installedJob = previous_; }

bool& IsWriteJob() { return CurrentJob().IsWriteJob; }
int32_t& BlockCount() { return CurrentJob().BlockCount; }
std::string& ImageFileName() { return CurrentJob().ImageFileName; }
bool& SafeMethod() { return CurrentJob().SafeMethod; }
bool& DifferentBlocksMethod() { return CurrentJob().DifferentBlocksMethod; }
bool& ChannelMerged() { return CurrentJob().ChannelMerged; }
std::string& MergedFileName() { return CurrentJob().MergedFileName; }
std::string& MergedImageFile() { return CurrentJob().MergedImageFile; }
std::string& FirmwareReadBackName() { return CurrentJob().FirmwareReadBackName; }
std::string& ChannelReadBackName() { return CurrentJob().ChannelReadBackName; }
std::atomic<bool>& FlashWriteActive() { return CurrentJob().FlashWriteActive; }
bool& SkipBlankWords() { return CurrentJob().SkipBlankWords; }
uint64_t& SkippedBlankWords() { return CurrentJob().SkippedBlankWords; }
bool& FinalCheck() { return CurrentJob().FinalCheck; }

std::vector<std::string> TickedFiles(const JobSelection& selection) {
  std::vector<std::string> files;
  if (selection.Firmware) files.push_back(selection.FirmwareFile);
  if (selection.Eeprom) files.push_back(selection.EepromFile);
  if (selection.Channel) files.push_back(selection.ChannelFile);
  return files;
}

std::string BuildTimeStamp(const std::string& shortDate, const std::string& longTime) {
  std::string stamp = ReplaceSeparators(shortDate) + "_" + ReplaceSeparators(longTime);
  for (char& c : stamp) {
    if (c == ' ') c = '_';
  }
  return stamp;
}

namespace {
void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

std::string Formatted(const std::tm& when, const std::string& format) {
  char text[128];
  size_t length = std::strftime(text, sizeof text, format.c_str(), &when);
  return std::string(text, length);
}
}  // namespace

std::string FormatTimeStamp(const std::tm& when, std::string dateFormat, std::string timeFormat) {
  // Two-digit years would make stamps of different centuries collide; a zone word is noise in
  // a file name.
  ReplaceAll(dateFormat, "%y", "%Y");
  for (const char* zone : {" %Z", " %z", "%Z", "%z"}) ReplaceAll(timeFormat, zone, "");
  return BuildTimeStamp(Formatted(when, dateFormat), Formatted(when, timeFormat));
}

void SetTimeStampedNames(const std::string& timeStamp) {
  FirmwareReadBackName() = "_2MB_" + timeStamp + ".BIN";
  ChannelReadBackName() = "_512KB_" + timeStamp + ".BIN";
  MergedFileName() = "_2MB_MERGED_" + timeStamp + ".BIN";
}

}  // namespace transfer

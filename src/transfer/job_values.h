// The values that describe a READ or WRITE job to the worker. The front end writes them before
// it starts the worker and leaves them alone until the job has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "protocol/link_context.h"

namespace transfer {

inline constexpr int32_t FirmwareBlocks = 8192;
inline constexpr int32_t ChannelBlocks = 2048;

// The job values of one deco. The window has one set for the whole process; the command line
// serving several decos gives each port its own, beside its link (protocol/link_context.h).
struct JobContext {
  bool IsWriteJob = false;
  int32_t BlockCount = 0;
  std::string ImageFileName;
  bool SafeMethod = false;
  bool DifferentBlocksMethod = false;
  bool ChannelMerged = false;
  std::string MergedFileName;
  // The merged image this job created: MergedFileName, or the next free name when it was taken.
  std::string MergedImageFile;
  std::string FirmwareReadBackName;
  std::string ChannelReadBackName;
  // Set while a write job writes flash; the front ends word their Abort and close questions by it.
  std::atomic<bool> FlashWriteActive{false};
  // A write leaves out the words that equal erased flash (FFFFFFFF), and counts them.
  bool SkipBlankWords = false;
  uint64_t SkippedBlankWords = 0;
  // A WRITE ends by reading back what it wrote last, and the EEPROM.
  bool FinalCheck = true;
};

// The set installed on this thread, or else the process's one.
JobContext& CurrentJob();

// Installs a job context and a link context on this thread for the scope's life.
class JobScope {
 public:
  JobScope(JobContext& job, protocol::LinkContext& link);
  ~JobScope();
  JobScope(const JobScope&) = delete;
  JobScope& operator=(const JobScope&) = delete;

 private:
  JobContext* previous_;
  protocol::LinkScope link_;
};

bool& IsWriteJob();
int32_t& BlockCount();
std::string& ImageFileName();
bool& SafeMethod();
bool& DifferentBlocksMethod();
bool& ChannelMerged();
std::string& MergedFileName();
std::string& MergedImageFile();
std::string& FirmwareReadBackName();
std::string& ChannelReadBackName();
std::atomic<bool>& FlashWriteActive();
bool& SkipBlankWords();
uint64_t& SkippedBlankWords();
bool& FinalCheck();

// The job's check boxes and file names, taken when the job starts (the front end keeps them
// unchanged while the job runs).
struct JobSelection {
  bool Firmware = false;  // "Firmware 2MB"
  bool Eeprom = false;    // "Eeprom 2KB"
  bool Channel = false;   // "Channel 512KB"
  std::string FirmwareFile = "Fw.bin";
  std::string EepromFile = "E.bin";
  std::string ChannelFile = "Ch.bin";
};

// The files of the ticked boxes, in the order firmware, EEPROM, channel.
std::vector<std::string> TickedFiles(const JobSelection& selection);

enum class WriteMethod { Normal, Safe, DifferentBlocks };

// The stamp of a run from the user's short date and long time texts: ":" and "/" become "-",
// blanks become "_" (1:18:29 AM on 12/7/2026 gives 12-7-2026_1-18-29_AM).
std::string BuildTimeStamp(const std::string& shortDate, const std::string& longTime);
// The stamp of `when` in the given strftime date and time formats, with a four-digit year and
// without a time-zone word.
std::string FormatTimeStamp(const std::tm& when, std::string dateFormat, std::string timeFormat);
// The stamp of this moment in the user's date and time formats; both front ends use it.
std::string LocalTimeStamp();
// Reads the user's date and time formats; called before any thread that makes stamps starts.
void LoadTimeFormats();
// `when` in local time, with a call that shares no buffer between threads.
std::tm LocalCalendarTime(std::time_t when);
// The three time-stamped names of a run.
void SetTimeStampedNames(const std::string& timeStamp);

}  // namespace transfer

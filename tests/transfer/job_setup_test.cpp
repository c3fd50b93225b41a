// The checks and questions before a job, with scripted answers.
#include "transfer/job_setup.h"

#include <gtest/gtest.h>

#include <ctime>
#include <deque>
#include <filesystem>

#include "protocol/image_files.h"
#include "support/files.h"
#include "transfer/own_files.h"
#include "transfer/time_stamp.h"

using namespace transfer;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {
struct ScriptedDialogs : JobDialogs {
  std::deque<bool> answers;
  std::vector<std::string> asked, messages, log;
  bool Confirm(const std::string& text) override {
    asked.push_back(text);
    bool answer = answers.empty() ? true : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
  void Message(const std::string& text) override { messages.push_back(text); }
  void AddLogLine(const std::string& text) override { log.push_back(text); }
};

void Sized(const std::string& path, int64_t size) {
  WriteFile(path, "");
  std::filesystem::resize_file(path, static_cast<uintmax_t>(size));
}
}  // namespace

TEST(JobSetupTest, WriteFileSizesByMethod) {
  TempDir dir;
  struct Row {
    int64_t size;
    int64_t expected;
    bool strictPasses, relaxedPasses;
  } rows[] = {{2097151, 2097152, false, false},
              {1048576, 2097152, false, true},
              {2048, 2048, true, true},
              {2056, 2048, false, true},
              {0, 2048, false, false}};
  for (const Row& row : rows) {
    Sized(dir.File("f"), row.size);
    bool failed = false;
    EXPECT_EQ(CheckWriteFile(dir.File("f"), row.expected, false, failed), row.strictPasses);
    EXPECT_EQ(failed, !row.strictPasses);
    EXPECT_EQ(CheckWriteFile(dir.File("f"), row.expected, true, failed), row.relaxedPasses);
  }
  bool failed = false;
  EXPECT_FALSE(CheckWriteFile(dir.File("missing"), 2048, true, failed));
}

TEST(JobSetupTest, WriteChecksStopAtTheFirstFailingFile) {
  TempDir dir;
  JobSelection selection;
  selection.Firmware = selection.Eeprom = true;
  selection.FirmwareFile = dir.File("Fw.bin");
  selection.EepromFile = dir.File("bad/E.bin");
  const RunNames names = TimeStampedNames("stamp");
  ScriptedDialogs dialogs;
  EXPECT_FALSE(CheckWriteFiles(selection, WriteMethod::Normal, names, dialogs));
  EXPECT_EQ(dialogs.messages,
            std::vector<std::string>{"Fw.bin does not exist or has wrong size. WRITE aborted!"});

  ScriptedDialogs none;
  EXPECT_FALSE(CheckWriteFiles(JobSelection(), WriteMethod::Normal, names, none));
  EXPECT_EQ(none.messages, std::vector<std::string>{"CheckBoxes are not checked or File does not "
                                                    "exist or has wrong size. WRITE aborted!"});
}

TEST(JobSetupTest, ImageThatTheWriteItselfOverwritesIsRefused) {
  TempDir dir;
  RunNames names = TimeStampedNames("stamp");
  for (std::string* name :
       {&names.FirmwareReadBackName, &names.ChannelReadBackName, &names.MergedFileName})
    *name = dir.File(*name);
  Sized(names.FirmwareReadBackName, 2097152);
  Sized(names.ChannelReadBackName, 524288);
  Sized(names.MergedFileName, 2097152);
  Sized(dir.File("Fw.bin"), 2097152);
  Sized(dir.File("Ch.bin"), 524288);
  const std::string firmwareReadBack = protocol::BareFileName(names.FirmwareReadBackName);
  const std::string channelReadBack = protocol::BareFileName(names.ChannelReadBackName);
  const std::string merged = protocol::BareFileName(names.MergedFileName);
  const std::string readBackText = " is where this WRITE stores its read-back of the flash.";
  const std::string mergedText = " is where this WRITE stores the merged image.";
  struct Row {
    WriteMethod method;
    std::string firmware, channel;  // empty: not ticked
    std::string refusal;            // empty: passes
  } rows[] = {
      {WriteMethod::Safe, names.FirmwareReadBackName, "", firmwareReadBack + readBackText},
      {WriteMethod::DifferentBlocks, "", names.ChannelReadBackName, channelReadBack + readBackText},
      {WriteMethod::Normal, names.FirmwareReadBackName, "", ""},
      {WriteMethod::Normal, names.MergedFileName, dir.File("Ch.bin"), merged + mergedText},
      {WriteMethod::Safe, dir.File("Fw.bin"), dir.File("Ch.bin"), ""},
  };
  for (const Row& row : rows) {
    JobSelection selection;
    selection.Firmware = !row.firmware.empty();
    selection.Channel = !row.channel.empty();
    selection.FirmwareFile = row.firmware;
    selection.ChannelFile = row.channel;
    ScriptedDialogs dialogs;
    EXPECT_EQ(CheckWriteFiles(selection, row.method, names, dialogs), row.refusal.empty())
        << row.firmware;
    std::vector<std::string> expected;
    if (!row.refusal.empty())
      expected.push_back(row.refusal + " Copy it to another name first. WRITE aborted!");
    EXPECT_EQ(dialogs.messages, expected);
  }
}

TEST(JobSetupTest, WriteMergesWhenFirmwareAndChannelAreBoth) {
  TempDir dir;
  JobSelection selection;
  selection.Firmware = selection.Channel = true;
  selection.FirmwareFile = dir.File("Fw.bin");
  selection.ChannelFile = dir.File("Ch.bin");
  Sized(selection.FirmwareFile, 2097152);
  Sized(selection.ChannelFile, 524288);
  RunNames names = TimeStampedNames("stamp");
  names.MergedFileName = dir.File(names.MergedFileName);
  ScriptedDialogs dialogs;
  ASSERT_TRUE(CheckWriteFiles(selection, WriteMethod::Safe, names, dialogs));
  JobPlan plan = WriteJobPlan(selection, WriteMethod::Safe, names, dialogs);
  EXPECT_TRUE(plan.ChannelMerged);
  EXPECT_TRUE(plan.IsWriteJob);
  EXPECT_TRUE(plan.SafeMethod);
  EXPECT_EQ(plan.BlockCount, FirmwareBlocks);
  EXPECT_EQ(plan.ImageFileName, selection.FirmwareFile);
  EXPECT_EQ(plan.MergedFileName, names.MergedFileName);
  EXPECT_EQ(dialogs.log, (std::vector<std::string>{"Inserting Channel into Firmware file ...",
                                                   "CHANNEL is inserted into FIRMWARE file: " +
                                                       names.MergedFileName + " !"}));

  // A second run of the same second (another process, or the window's next WRITE) finds the
  // name taken: its merged image goes beside the first, which stays as it was.
  std::string first = testing_support::ReadFile(names.MergedFileName);
  WriteFile(selection.ChannelFile, std::string(524288, 'B'));
  dialogs.log.clear();
  JobPlan second = WriteJobPlan(selection, WriteMethod::Safe, names, dialogs);
  EXPECT_EQ(second.MergedFileName, dir.File("_2MB_MERGED_stamp_2.BIN"));
  EXPECT_EQ(testing_support::ReadFile(names.MergedFileName), first);
  EXPECT_EQ(testing_support::ReadFile(second.MergedFileName).substr(0, 524288),
            std::string(524288, 'B'));
  ASSERT_EQ(dialogs.log.size(), 3u);
  EXPECT_EQ(dialogs.log[1],
            names.MergedFileName + " exists already: the merged image is " + second.MergedFileName);
}

TEST(JobSetupTest, ReadQuestionsInOrderAndNoStops) {
  TempDir dir;
  JobSelection selection;
  selection.Firmware = selection.Eeprom = selection.Channel = true;
  selection.FirmwareFile = dir.File("Fw.bin");
  selection.EepromFile = dir.File("E.bin");
  selection.ChannelFile = dir.File("Ch.bin");
  WriteFile(selection.FirmwareFile, "x");
  WriteFile(selection.EepromFile, "x");
  WriteFile(selection.ChannelFile, "x");
  ScriptedDialogs dialogs;
  dialogs.answers = {true, false};
  EXPECT_FALSE(AskReadOverwrites(selection, dialogs));
  EXPECT_EQ(dialogs.asked, (std::vector<std::string>{"Do you really want to overwrite   Fw.bin ?",
                                                     "Do you really want to overwrite   E.bin ?"}));
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"READ ignored!"});

  WriteFile(selection.EepromFile, "");  // empty: not asked about
  ScriptedDialogs again;
  EXPECT_TRUE(AskReadOverwrites(selection, again));
  EXPECT_EQ(again.asked.size(), 2u);
  JobPlan plan = ReadJobPlan(selection);
  EXPECT_EQ(plan.BlockCount, FirmwareBlocks);
  EXPECT_FALSE(plan.IsWriteJob);

  ScriptedDialogs none;
  EXPECT_FALSE(AskReadOverwrites(JobSelection(), none));
  EXPECT_EQ(none.messages, std::vector<std::string>{"READ ignored!"});
}

TEST(JobSetupTest, TimeStampHasAFourDigitYearAndNoZone) {
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 7;
  when.tm_hour = 1;
  when.tm_min = 18;
  when.tm_sec = 29;
  struct Row {
    const char* date;
    const char* time;
    const char* stamp;
  } rows[] = {
      {"%m/%d/%y", "%I:%M:%S %p", "12-07-2026_01-18-29_AM"},  // month/day/year, AM/PM
      {"%d.%m.%Y", "%H:%M:%S %Z", "07.12.2026_01-18-29"},     // dots stay, no zone word
  };
  for (const Row& row : rows) EXPECT_EQ(FormatTimeStamp(when, row.date, row.time), row.stamp);
  EXPECT_EQ(BuildTimeStamp("12/7/2026", "1:18:29 AM"), "12-7-2026_1-18-29_AM");
  std::time_t now = std::time(nullptr);
  std::string year = std::to_string(1900 + std::localtime(&now)->tm_year);
  EXPECT_NE(LocalTimeStamp().find(year), std::string::npos) << LocalTimeStamp();
}

// A file a live run holds is never taken for one an ended run left; a released one is.
TEST(JobSetupTest, HeldFilesAreLeftAloneUntilReleased) {
  TempDir dir;
  enum class Before { Nothing, LeftByAnEndedRun, HeldByALiveRun, HeldThenReleased };
  struct Row {
    const char* name;
    Before before;
    LeftFile found;
    bool stays;
  } rows[] = {
      {"nothing there", Before::Nothing, LeftFile::None, false},
      {"left by an ended run", Before::LeftByAnEndedRun, LeftFile::Removed, false},
      {"held by a live run", Before::HeldByALiveRun, LeftFile::Held, true},
      {"held, then released", Before::HeldThenReleased, LeftFile::Removed, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string file = dir.File("Fw.bin.partial");
    HeldFile held;
    if (row.before == Before::LeftByAnEndedRun) WriteFile(file, "an ended run's dump");
    if (row.before == Before::HeldByALiveRun || row.before == Before::HeldThenReleased) {
      held = ClaimHeldFile(file);
      ASSERT_EQ(held.Name(), file);
      // The holder writes it by its name, as the transfer layer does.
      WriteFile(file, "a live run's dump");
    }
    if (row.before == Before::HeldThenReleased) held.Release();
    EXPECT_EQ(RemoveUnlessHeld(file), row.found);
    EXPECT_EQ(std::filesystem::exists(file), row.stays);
    if (row.stays) {
      // Taken: another claim of the name gives way to the next one of its form.
      HeldFile other = ClaimHeldFile(file);
      EXPECT_EQ(other.Name(), dir.File("Fw.bin_2.partial"));
      other.Release();
      std::filesystem::remove(other.Name());
    }
    held.Release();
    std::filesystem::remove(file);
  }
}

#include "protocol/image_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "protocol/protocol_error.h"
#include "support/files.h"

using namespace protocol;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {
std::string Pattern(size_t size, int seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 31 + seed);
  return data;
}
}  // namespace

TEST(ImageFilesTest, FileSizes) {
  TempDir dir;
  EXPECT_EQ(FileSizeOf(dir.File("missing")), 0);
  WriteFile(dir.File("empty"), "");
  EXPECT_EQ(FileSizeOf(dir.File("empty")), 0);
  WriteFile(dir.File("five"), "12345");
  EXPECT_EQ(FileSizeOf(dir.File("five")), 5);
  EXPECT_EQ(FileSizeOf(dir.Path()), -1);
  // A file of 4 GiB + 2 MiB must not pass as 2 MiB (sparse, costs no disk).
  std::string huge = dir.File("huge");
  WriteFile(huge, "");
  std::filesystem::resize_file(huge, (int64_t{4} << 30) + FirmwareImageBytes);
  EXPECT_EQ(FileSize64(huge), (int64_t{4} << 30) + FirmwareImageBytes);
  EXPECT_NE(FileSizeOf(huge), FirmwareImageBytes);
  EXPECT_GT(FileSizeOf(huge), FirmwareImageBytes);
}

TEST(ImageFilesTest, CopyLeadingWordsExactAndShort) {
  TempDir dir;
  WriteFile(dir.File("src"), Pattern(400, 1));
  EXPECT_TRUE(CopyLeadingWords(dir.File("src"), dir.File("dst"), 100));
  EXPECT_EQ(ReadFile(dir.File("dst")), Pattern(400, 1));
  WriteFile(dir.File("src"), Pattern(399, 1));
  EXPECT_FALSE(CopyLeadingWords(dir.File("src"), dir.File("none"), 100));
  EXPECT_EQ(FileSizeOf(dir.File("none")), 0);
  EXPECT_THROW(CopyLeadingWords(dir.File("dst"), dir.Path() + "/no/such/dir/out", 10), EFileError);
}

TEST(ImageFilesTest, MergeEdgeCases) {
  TempDir dir;
  std::vector<std::string> lines;
  auto log = [&](const std::string& line) { lines.push_back(line); };
  std::string firmware = Pattern(2048, 7);
  WriteFile(dir.File("fw"), firmware);

  WriteFile(dir.File("ch"), Pattern(512, 9));
  EXPECT_EQ(MergeChannelIntoFirmware(dir.File("ch"), dir.File("fw"), dir.File("out"), log), 512);
  EXPECT_EQ(ReadFile(dir.File("out")), Pattern(512, 9) + firmware.substr(512));
  EXPECT_EQ(lines.back(), "CHANNEL is inserted into FIRMWARE file: " + dir.File("out") + " !");

  WriteFile(dir.File("ch"), Pattern(4099, 9));  // longer than the firmware, 3 stray bytes
  MergeChannelIntoFirmware(dir.File("ch"), dir.File("fw"), dir.File("out"), log);
  EXPECT_EQ(ReadFile(dir.File("out")), Pattern(4096, 9));

  WriteFile(dir.File("ch"), "");
  WriteFile(dir.File("fw3"), firmware + "xyz");
  EXPECT_EQ(MergeChannelIntoFirmware(dir.File("ch"), dir.File("fw3"), dir.File("out"), log), 512);
  EXPECT_EQ(ReadFile(dir.File("out")), firmware);
}

TEST(ImageFilesTest, MergeFailuresAreReported) {
  TempDir dir;
  WriteFile(dir.File("fw"), Pattern(2048, 7));
  WriteFile(dir.File("ch"), Pattern(512, 9));
  int calls = 0;
  auto log = [&](const std::string&) { ++calls; };
  EXPECT_THROW(
      MergeChannelIntoFirmware(dir.File("ch"), dir.File("fw"), dir.Path() + "/missing/out", log),
      EFileError);
  EXPECT_THROW(MergeChannelIntoFirmware(dir.File("nope"), dir.File("fw"), dir.File("out"), log),
               EFileError);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(BareFileName("/a/b/Fw.bin"), "Fw.bin");
  EXPECT_EQ(BareFileName("C:\\dumps\\Fw.bin"), "Fw.bin");
}

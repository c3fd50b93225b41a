// VerifyBlocks on files: counts, sector flags and the log line.
#include "transfer/verify.h"

#include <gtest/gtest.h>

#include "protocol/flash_map.h"
#include "protocol/transaction.h"
#include "support/sim_session.h"

using testing_support::StatusRecorder;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {
class VerifyTest : public ::testing::Test {
 protected:
  int32_t Compare(const std::string& image, const std::string& readBack) {
    WriteFile(dir.File("image"), image);
    WriteFile(dir.File("back"), readBack);
    last = transfer::VerifyBlocks(link, block18Protected, dir.File("image"), dir.File("back"));
    return last.Count;
  }
  std::vector<int> Flagged() const { return last.DifferingSectors(); }

  StatusRecorder recorder;
  protocol::DecoLink link{&recorder};
  bool block18Protected = false;
  transfer::VerifyResult last;
  TempDir dir;
  std::string firmware = std::string(2097152, '\x5A');
};

std::string Flip(std::string data, std::initializer_list<size_t> offsets) {
  for (size_t offset : offsets) data[offset] = static_cast<char>(data[offset] ^ 1);
  return data;
}
}  // namespace

TEST_F(VerifyTest, IdenticalFiles) {
  EXPECT_EQ(Compare(firmware, firmware), 0);
  EXPECT_TRUE(Flagged().empty());
  EXPECT_EQ(recorder.Lines().back(), "Verifing done. No different bytes found!");
}

TEST_F(VerifyTest, SectorBordersAndCounts) {
  EXPECT_EQ(Compare(firmware, Flip(firmware, {0x7FFC, 0x8000})), 2);
  EXPECT_EQ(Flagged(), (std::vector<int>{0, 1}));
  EXPECT_EQ(Compare(firmware, Flip(firmware, {0x10000, 0x10004, 0x1FFFF})), 3);
  EXPECT_EQ(Flagged(), std::vector<int>{3});
  EXPECT_EQ(Compare(firmware, Flip(firmware, {0, 0x8000, 0xC000, 0x80000})), 4);
  EXPECT_EQ(recorder.Lines().back(), "Diff in block(s) 0 1 2 7 ");
}

TEST_F(VerifyTest, Sector18OnlyWhenNotProtected) {
  std::string changed = Flip(firmware, {0x1E0000});
  EXPECT_EQ(Compare(firmware, changed), 1);
  EXPECT_EQ(recorder.Lines().back(), "Diff in block(s) 18 ");
  block18Protected = true;
  EXPECT_EQ(Compare(firmware, changed), 0);
  EXPECT_EQ(recorder.Lines().back(), "Verifing done. No different bytes found!");
}

TEST_F(VerifyTest, NothingBeyondTheReadBackIsUsed) {
  std::string channel = firmware.substr(0, 524288);
  EXPECT_EQ(Compare(Flip(firmware, {0x90000}), channel), 0);
  auto lines = recorder.Lines();
  EXPECT_EQ(lines[lines.size() - 2],
            "Verify: image is longer than the read-back; the rest was not compared.");
  EXPECT_EQ(Compare(Flip(channel, {0x70000}), channel), 1);
  EXPECT_EQ(Flagged(), std::vector<int>{6});
  // A missing image compares nothing.
  EXPECT_EQ(transfer::VerifyBlocks(link, false, dir.File("missing"), dir.File("back")).Count, 0);
  EXPECT_EQ(Compare("abc", "abd"), 0);  // less than one word
}

// The image tools that need no deco: info, diff, merge and extract.
#include "cli/image_tools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "capturing_host.h"
#include "sim/deco_model.h"
#include "support/files.h"

using testing_support::AsText;
using testing_support::CapturingHost;
using testing_support::ReadFile;
using testing_support::TempDir;

TEST(ImageToolsTest, InfoDiffMergeExtract) {
  TempDir dir;
  std::string flash = AsText(sim::DecoModel::PatternFlash());
  std::string firmware = flash;
  std::fill(firmware.begin() + 0x8000, firmware.begin() + 0xC000, '\0');     // sector 1
  std::fill(firmware.begin() + 0xC000, firmware.begin() + 0x10000, '\xFF');  // sector 2
  std::string sector3 = firmware, sector18 = firmware;
  sector3[0x10005] = static_cast<char>(sector3[0x10005] ^ 1);
  sector18[0x1F0000] = static_cast<char>(sector18[0x1F0000] ^ 1);
  // A read-back after a WRITE of flash: sectors 0-2 erased, with eight zero words at the start.
  std::string written = flash;
  std::fill(written.begin(), written.begin() + 0x10000, '\xFF');
  std::fill(written.begin(), written.begin() + 32, '\0');
  std::string writtenSector3 = written;
  writtenSector3[0x10005] = static_cast<char>(writtenSector3[0x10005] ^ 1);
  std::string otherChannel = flash.substr(0x100, 524288);
  std::string eeprom(2048, '\x5A'), otherEeprom = eeprom;
  otherEeprom[0x7FF] = 'E';
  const std::pair<const char*, std::string> files[] = {{"Fw.bin", firmware},
                                                       {"Sector3.bin", sector3},
                                                       {"Sector18.bin", sector18},
                                                       {"Flash.bin", flash},
                                                       {"Written.bin", written},
                                                       {"Written3.bin", writtenSector3},
                                                       {"Part.bin", flash.substr(0, 0x18000)},
                                                       {"Ch.bin", otherChannel},
                                                       {"Ch0.bin", firmware.substr(0, 524288)},
                                                       {"E.bin", eeprom},
                                                       {"E2.bin", otherEeprom},
                                                       {"Short.bin", std::string(1000, 'x')},
                                                       {"abc.txt", "abc"},
                                                       {"Old.bin", "old"}};
  for (const auto& [name, bytes] : files) testing_support::WriteFile(dir.File(name), bytes);
  auto f = [&](const char* name) { return dir.File(name); };
  struct Row {
    const char* name;
    std::function<int(cli::ConsoleHost&)> run;
    int exitCode;
    std::vector<std::string> lines;  // on stdout, in this order
    std::string question = "";       // asked before the output is replaced
    bool answer = true;
  } rows[] = {
      {"info",
       [&](cli::ConsoleHost& h) {
         return cli::InfoCommand({f("Fw.bin"), f("abc.txt")}, h);
       },
       1,
       {f("Fw.bin") + ": firmware image, 2097152 bytes", "       1  7FE08000-7FE0BFFF  all zero  ",
        "       2  7FE0C000-7FE0FFFF  erased    ", "      18  7FFE0000-7FFFFFFF  data      ",
        f("abc.txt") + ": not a Pyrelink image: 3 bytes is none of",
        "  SHA-256 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}},
      {"info of a missing file",
       [&](cli::ConsoleHost& h) { return cli::InfoCommand({f("no.bin")}, h); },
       2,
       {f("no.bin") + ": cannot be read"}},
      {"diff equal",
       [&](cli::ConsoleHost& h) { return cli::DiffCommand(f("Fw.bin"), f("Fw.bin"), false, h); },
       0,
       {"Verifing done. No different bytes found!"}},
      {"diff",
       [&](cli::ConsoleHost& h) {
         return cli::DiffCommand(f("Sector3.bin"), f("Fw.bin"), false, h);
       },
       1,
       {"Diff in block(s) 3 ", "  sector 3: 1 differing word(s)", "  7FE10004: image "}},
      // Compared only as the write methods would compare them, or refused with the reason.
      {"diff, a channel list with a firmware read-back",
       [&](cli::ConsoleHost& h) { return cli::DiffCommand(f("Ch0.bin"), f("Fw.bin"), false, h); },
       0,
       {"Comparing the channel region (sectors 0-6, the first 512 KB) of " + f("Fw.bin"),
        "Verifing done. No different bytes found!"}},
      {"diff, EEPROMs",
       [&](cli::ConsoleHost& h) { return cli::DiffCommand(f("E.bin"), f("E2.bin"), false, h); },
       1,
       {"  07FF: image 5A, read-back 45", "EEPROM images differ in 1 byte(s)."}},
      {"diff, an EEPROM with a firmware",
       [&](cli::ConsoleHost& h) { return cli::DiffCommand(f("E.bin"), f("Fw.bin"), false, h); },
       2,
       {}},
      {"diff, a firmware with a short file",
       [&](cli::ConsoleHost& h) { return cli::DiffCommand(f("Fw.bin"), f("Short.bin"), false, h); },
       2,
       {}},
      {"diff, a firmware with a channel read-back",
       [&](cli::ConsoleHost& h) { return cli::DiffCommand(f("Fw.bin"), f("Ch.bin"), false, h); },
       2,
       {}},
      {"diff, protected",
       [&](cli::ConsoleHost& h) {
         return cli::DiffCommand(f("Sector18.bin"), f("Fw.bin"), true, h);
       },
       0,
       {"Verifing done. No different bytes found!"}},
      // After a WRITE sectors 0-2 hold the erase, not the image: only --as-written calls it equal.
      {"diff, a read-back after a write",
       [&](cli::ConsoleHost& h) {
         return cli::DiffCommand(f("Flash.bin"), f("Written.bin"), false, h);
       },
       1,
       {"Diff in block(s) 0 1 2 ", "  sector 0: 8192 differing word(s)",
        "  sector 1: 4096 differing word(s)", "  sector 2: 4096 differing word(s)",
        "Only sectors 0-2 differ: a WRITE erases them and programs only the 8 zero words at "
        "7FE00000 there; `pyrelink-cli diff --as-written` compares by the WRITE's rule."}},
      {"diff --as-written, a read-back after a write",
       [&](cli::ConsoleHost& h) {
         return cli::DiffCommand(f("Flash.bin"), f("Written.bin"), false, h, cli::DiffAs::Written);
       },
       0,
       {"Comparing as written: sectors 0-2 erased with the 8 zero words at 7FE00000, " +
            f("Flash.bin") + "'s bytes from sector 3 on.",
        "Verifing done. No different bytes found!"}},
      {"diff --as-written, a difference in sector 3",
       [&](cli::ConsoleHost& h) {
         return cli::DiffCommand(f("Flash.bin"), f("Written3.bin"), false, h, cli::DiffAs::Written);
       },
       1,
       {"Diff in block(s) 3 ", "  sector 3: 1 differing word(s)", "  7FE10004: as written "}},
      // A write leaves out a sector the image does not hold in full.
      {"diff --as-written, an image ending inside sector 3",
       [&](cli::ConsoleHost& h) {
         return cli::DiffCommand(f("Part.bin"), f("Written.bin"), false, h, cli::DiffAs::Written);
       },
       2,
       {}},
      {"diff, missing",
       [&](cli::ConsoleHost& h) { return cli::DiffCommand(f("no.bin"), f("Fw.bin"), false, h); },
       2,
       {}},
      {"merge",
       [&](cli::ConsoleHost& h) {
         return cli::MergeCommand(f("Ch.bin"), f("Fw.bin"), f("M.bin"), h);
       },
       0,
       {"Inserting Channel into Firmware file ...",
        "CHANNEL is inserted into FIRMWARE file: " + f("M.bin") + " !"}},
      {"merge into an input",
       [&](cli::ConsoleHost& h) {
         return cli::MergeCommand(f("Ch.bin"), f("Fw.bin"), f("Fw.bin"), h);
       },
       2,
       {}},
      {"merge, not a channel list",
       [&](cli::ConsoleHost& h) {
         return cli::MergeCommand(f("abc.txt"), f("Fw.bin"), f("M2.bin"), h);
       },
       2,
       {}},
      {"extract",
       [&](cli::ConsoleHost& h) { return cli::ExtractCommand(f("M.bin"), f("Ch2.bin"), h); },
       0,
       {"CHANNEL is extracted from FIRMWARE. OK!"}},
      // An existing output is replaced only when the user says so.
      {"merge over an existing file",
       [&](cli::ConsoleHost& h) {
         return cli::MergeCommand(f("Ch0.bin"), f("Fw.bin"), f("Old.bin"), h);
       },
       0,
       {"CHANNEL is inserted into FIRMWARE file: " + f("Old.bin") + " !"},
       "Do you really want to overwrite   Old.bin ?"},
      {"merge over an existing file, answered No",
       [&](cli::ConsoleHost& h) {
         return cli::MergeCommand(f("Ch0.bin"), f("Fw.bin"), f("M.bin"), h);
       },
       1,
       {},
       "Do you really want to overwrite   M.bin ?",
       false},
      {"extract over an existing file, answered No",
       [&](cli::ConsoleHost& h) { return cli::ExtractCommand(f("Fw.bin"), f("Ch2.bin"), h); },
       1,
       {},
       "Do you really want to overwrite   Ch2.bin ?",
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CapturingHost host;
    host.Answer = row.answer;
    EXPECT_EQ(row.run(host), row.exitCode) << host.Err();
    EXPECT_EQ(host.Questions, row.question.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{row.question});
    if (!row.answer) {
      EXPECT_NE(host.Err().find("exists and is kept"), std::string::npos) << host.Err();
    }
    std::string out = host.Out();
    size_t at = 0;
    for (const std::string& line : row.lines) {
      at = out.find(line, at);
      EXPECT_NE(at, std::string::npos) << line << "\n" << out;
    }
  }
  EXPECT_EQ(ReadFile(dir.File("M.bin")), otherChannel + firmware.substr(524288));
  EXPECT_EQ(ReadFile(dir.File("Ch2.bin")), otherChannel);
  EXPECT_EQ(ReadFile(dir.File("Fw.bin")), firmware);
  EXPECT_TRUE(ReadFile(dir.File("Old.bin")) == firmware);
  EXPECT_FALSE(std::filesystem::exists(dir.File("M2.bin")));
}

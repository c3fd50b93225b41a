// The command line's job run in-process against the simulated deco with the fast clock: the exit
// status, the messages and what the deco is left in for every way a job can end; the log, the
// report and the checksums; several decos at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "capturing_host.h"
#include "cli/batch.h"
#include "cli/cli_job.h"
#include "cli/line_check.h"
#include "cli/port_listing.h"
#include "cli/run_record.h"
#include "cli/sha256.h"
#include "cli/standby_command.h"
#include "cli/write_again.h"
#include "cli/chip_command.h"
#include "cli/verify_command.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "sim/deco_model.h"
#include "transfer/connection.h"
#include "transfer/read_dumps.h"
#include "support/sim_session.h"

using testing_support::AsText;
using testing_support::CapturingHost;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

size_t CountStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<size_t>(std::count_if(
      lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

}  // namespace

TEST(CliJobTest, ExitStatusAndWhatTheDecoIsLeftIn) {
  // From service mode, with the two reads that learn the replies' form and prove the line in
  // step, before the job's first command.
  constexpr int ConnectLines = 14;
  // A flash job first returns the chips to reading and learns the flash replies' form.
  constexpr int ResetLines = 9;
  constexpr uint32_t WeakWord = 0x7FE10010u;  // in sector 3
  enum class Files {
    Eeprom,
    ShortFirmware,
    // Sectors 0-4 of the firmware only, differing in sector 3: Different blocks takes it.
    FirmwareUpToSector5,
    FirmwareDifferingInSector1,
    FirmwareDifferingInSector3,
    EepromAndFirmwareDifferingInSector3,
    BlankHalfOfSector3,
    Dumps,
    // A partial firmware dump an ended READ left: this deco's first 2048 blocks and part of the
    // next; or with its last whole block not what this deco holds.
    PartialDump,
    ForeignPartialDump,
    // The same dump of this deco's first 2048 blocks, but a WRITE changed all of them but the
    // last since; or this deco's dump, read again without --resume.
    PartialDumpOfChangedFlash,
    // This deco's dump, but a WRITE changed sector 4 from its 193rd block for 256 blocks since.
    PartialDumpOfChangedSectorMiddle,
    PartialDumpReadAfresh
  };
  // The mode an earlier run that a dead line cut off left the chips in.
  enum class ChipsLeftIn { Reading, Autoselect, UnlockBypass, ProgramSetUp };
  struct Row {
    const char* name;
    bool write;
    const char* method;
    Files files;
    int dropReplyAt;
    int weakWordFailures;  // how often the word in sector 3 ignores programming
    int corruptAt;         // the first reply with a two-bit error that parity lets through
    int corruptCount;
    bool doubleRead;  // for a write: skip blank words
    bool interruptWhileConnecting;
    int exitCode;
    bool leftInService;
    const char* reason;   // on stderr
    const char* logLine;  // on stdout
    const char* erased;   // the report's erased sectors
    bool fast = false;    // --erase-poll --fast-program
    const char* chip = "am29lv800bb";
    ChipsLeftIn chipsLeftIn = ChipsLeftIn::Reading;
    bool straightHighByte = false;  // the upper chip's high data byte wired straight
    bool interruptInFinalCheck = false;
    bool finalCheck = true;
    // What the command to write again holds after its port; the row runs with a log.
    const char* writeAgain = nullptr;
    bool backup = false;
    bool interruptInFlashRead = false;  // once the EEPROM is read
    bool writeDoubleRead = false;       // write --double-read: the backup read twice
  } rows[] = {
      // Blank words concern flash only: an EEPROM WRITE says nothing of them.
      // The EEPROM proven and the flash not: a deco found in service mode stays there.
      {"write done", true, "normal", Files::Eeprom, 0, 0, 0, 0, true, false, 0, true, "",
       "Final check: the EEPROM holds E.bin.", "[]"},
      {"write done, proven", true, "diff", Files::FirmwareDifferingInSector3, 0, 0, 0, 0, false, false, 0, false,
       "", "Final check: sector(s) 3 hold what was written.", "[3]"},
      {"write done, flash differs after it", true, "diff", Files::FirmwareDifferingInSector3, 0,
       100, 0, 0, false, false, 1, true,
       "the final check found sector(s) 3 different from what was written",
       "Final check FAILED: sector(s) 3 differ from Fw.bin.", "[3]"},
      // Sector 1 is only erased: the image's bytes there are not what the deco holds.
      {"write done, sector 1 left erased", true, "diff", Files::FirmwareDifferingInSector1, 0, 0, 0,
       0, false, false, 0, false, "",
       "Sector(s) 1 are erased, not Fw.bin's bytes there: compare with `pyrelink-cli diff "
       "--as-written`.",
       "[1]"},
      {"write leaves the blank words to the erase, proven", true, "diff",
       Files::BlankHalfOfSector3, 0, 0, 0, 0, true, false, 0, false, "",
       "Blank words skipped: 8192 (FFFFFFFF, already held by the erased sectors).", "[3]"},
      // The EEPROM is proven by the final check: writing again leaves it out, and keeps the
      // job's options.
      {"write done, flash differs after it, the EEPROM holds its file", true, "diff",
       Files::EepromAndFirmwareDifferingInSector3, 0, 100, 0, 0, true, false, 1, true,
       "the final check found sector(s) 3 different from what was written",
       "Final check: the EEPROM holds E.bin.", "[3]", false, "am29lv800bb", ChipsLeftIn::Reading,
       false, false, true,
       " --retries 0 --log run.log --service --baud 115200 write --firmware Fw.bin "
       "--skip-blank-words --no-backup --method diff --yes"},
      // The final check passes, but the flash past the image was never compared: not proven.
      {"diff write of an image of sectors 0-4", true, "diff", Files::FirmwareUpToSector5, 0, 0, 0,
       0, false, false, 0, true, "", "Final check: sector(s) 3 hold what was written.", "[3]"},
      {"write skips a sector", true, "diff", Files::ShortFirmware, 0, 0, 0, 0, false, false, 1, true,
       "job incomplete: Block 4 skipped: Fw.bin does not cover it fully.", "", "[]"},
      {"write fails", true, "normal", Files::Eeprom, ConnectLines + 5, 0, 0, 0, false, false, 1, true,
       "job failed: Communication error 9997", "", "[]"},
      // Before its first change a WRITE leaves a deco found in service mode there too.
      {"write fails at the chips' reset", true, "normal", Files::FirmwareDifferingInSector3,
       ConnectLines + 1, 0, 0, 0, false, false, 1, true,
       "the flash chips could not be returned to reading", "", "[]"},
      // Sectors 0-2 erased (18 commands) with the zero words (32), sector 3 erased (6), then
      // the 101st word of sector 3 gets no reply.
      {"write fails while programming", true, "normal", Files::FirmwareDifferingInSector3,
       ConnectLines + ResetLines + 56 + 4 * 100 + 4, 0, 0, 0, false, false, 1, true,
       "memory may be incomplete (sector(s) 0 1 2 3 erased, 0 1 2 written in full; the WRITE "
       "stopped at 7FE10190)",
       "", "[0,1,2,3]"},
      // The last cycle of sector 0's erase gets no reply: the chips may have begun it.
      {"write fails at its first erase", true, "normal", Files::FirmwareDifferingInSector3,
       ConnectLines + ResetLines + 6, 0, 0, 0, false, false, 1, true,
       "memory may be incomplete (no erase was confirmed; the erase of sector 0 was sent but not "
       "confirmed: it may be partly erased; the WRITE stopped at 7FE00000)",
       "", "[]"},
      // The same after Safe's reading back proved the EEPROM (two writes and a read of 16 lines).
      {"safe write fails while programming, the EEPROM verified", true, "safe",
       Files::EepromAndFirmwareDifferingInSector3,
       ConnectLines + ResetLines + 3 * 16 + 56 + 4 * 100 + 4, 0, 0, 0, false, false, 1, true,
       "memory may be incomplete (sector(s) 0 1 2 3 erased, 0 1 2 written in full; the WRITE "
       "stopped at 7FE10190)",
       "Verify EEPROM: equal to E.bin.", "[0,1,2,3]", false, "am29lv800bb", ChipsLeftIn::Reading,
       false, false, true,
       " --retries 0 --log run.log --service --baud 115200 write --firmware Fw.bin --no-backup "
       "--method diff --yes"},
      {"fast write, proven", true, "diff", Files::FirmwareDifferingInSector3, 0, 0, 0, 0, false,
       false, 0, false, "",
       "--fast used: erases waited for by reading; words programmed in unlock bypass; 0 blank "
       "word(s) left to the erase; the final check.",
       "[3]", true},
      {"fast write, the upper chip's high byte wired straight", true, "diff",
       Files::FirmwareDifferingInSector3, 0, 0, 0, 0, false, false, 0, false, "",
       "Upper flash chip's high data byte: wired straight\nFlash part: AMD Am29LV800BB (8 Mbit, "
       "bottom boot), two side by side; unlock bypass: yes\nFast programming: words are "
       "programmed in unlock bypass.",
       "[3]", true, "am29lv800bb", ChipsLeftIn::Reading, true},
      {"fast write asked of a part without bypass", true, "diff",
       Files::FirmwareDifferingInSector3, 0, 0, 0, 0, false, false, 0, false, "",
       "Fast programming not used: AMD Am29F800BB has no unlock bypass; the words are "
       "programmed the usual way.",
       "[3]", true, "am29f800bb"},
      {"fast write asked of an unknown part", true, "diff", Files::FirmwareDifferingInSector3, 0,
       0, 0, 0, false, false, 0, false, "",
       "Fast programming not used: the flash part is not known; the words are programmed the "
       "usual way.",
       "[3]", true, "unknown"},
      // After connecting: the return to reading, the identification (5), the comparison
      // (8192 reads), sector 3's erase (6) and its two reads, entering bypass (3); then the
      // 101st word's program cycle gets no reply.
      {"fast write fails inside bypass", true, "diff", Files::FirmwareDifferingInSector3,
       ConnectLines + ResetLines + 5 + 8192 + 6 + 2 + 3 + 2 * 100 + 1, 0, 0, 0, false, false, 1,
       true,
       "memory may be incomplete (sector(s) 3 erased, none written in full; the WRITE stopped "
       "at 7FE10190)",
       "", "[3]", true},
      {"Ctrl-C during the final check", true, "diff", Files::FirmwareDifferingInSector3, 0, 0, 0,
       0, false, false, 130, true, "the final check was interrupted: what was written is not proven",
       "", "[3]", false, "am29lv800bb", ChipsLeftIn::Reading, false, true},
      // The sixth line of Safe's EEPROM read-back comes with a two-bit error that parity misses,
      // in a data digit.
      {"safe EEPROM write whose verify differs, no final check", true, "safe", Files::Eeprom, 0, 0,
       ConnectLines + 2 * 16 + 6, 1, false, false, 1, true,
       "job failed: the EEPROM differs from E.bin after it was written twice",
       "Verify EEPROM: differs from E.bin.", "[]", false, "am29lv800bb", ChipsLeftIn::Reading, false,
       false, false},
      {"write done, no final check", true, "normal", Files::Eeprom, 0, 0, 0, 0, false, false, 0,
       true, "", "Final check skipped (--no-final-check).", "[]", false, "am29lv800bb",
       ChipsLeftIn::Reading, false, false, false},
      // The backup is read before anything is written, and is what the deco held.
      {"write done, EEPROM backed up first", true, "normal", Files::Eeprom, 0, 0, 0, 0, false,
       false, 0, true, "", "Backup into backup-", "[]", false, "am29lv800bb",
       ChipsLeftIn::Reading, false, false, true, nullptr, true},
      // The backup's 8192 block reads, sectors 0-3 erased with the zero words (56); then the
      // first word of sector 3 gets no reply.
      {"safe write fails after its backup of the flash", true, "safe",
       Files::FirmwareDifferingInSector3, ConnectLines + ResetLines + 8192 + 56 + 4, 0, 0, 0,
       false, false, 1, true,
       "memory may be incomplete (sector(s) 0 1 2 3 erased, 0 1 2 written in full; the WRITE "
       "stopped at 7FE10000)",
       "/firmware.bin (backup firmware).", "[0,1,2,3]", false, "am29lv800bb", ChipsLeftIn::Reading,
       false, false, true, nullptr, true},
      // Different blocks keeps its comparison's read of the flash: no read of it more.
      {"diff write done, its read-back kept as the backup", true, "diff",
       Files::FirmwareDifferingInSector3, 0, 0, 0, 0, false, false, 0, false, "",
       "/firmware.bin (backup firmware).", "[3]", false, "am29lv800bb", ChipsLeftIn::Reading,
       false, false, true, nullptr, true},
      // A two-bit error in a data digit of the sixth EEPROM line of the backup: a second read
      // disagrees.
      {"write done, its EEPROM backup read twice", true, "normal", Files::Eeprom, 0, 0,
       ConnectLines + 6, 1, false, false, 0, true, "", "Backup into backup-", "[]", false,
       "am29lv800bb", ChipsLeftIn::Reading, false, false, true, nullptr, true, false, true},
      // The same in the 21st block of the comparison's read, which is kept as the backup.
      {"diff write done, its read-back kept as the backup read twice", true, "diff",
       Files::FirmwareDifferingInSector3, 0, 0, ConnectLines + ResetLines + 21, 1, false, false, 0,
       false, "", "/firmware.bin (backup firmware).", "[3]", false, "am29lv800bb",
       ChipsLeftIn::Reading, false, false, true, nullptr, true, false, true},
      // A lost reply 766 blocks into the backup of the flash: no part of it is named a backup.
      {"backup of the flash fails, write", true, "normal", Files::FirmwareDifferingInSector3,
       ConnectLines + ResetLines + 767, 0, 0, 0, false, false, 1, true,
       "job failed: the backup could not be made, nothing was written: Communication error 9997",
       "No backup of the deco was made: Communication error 9997", "[]", false, "am29lv800bb",
       ChipsLeftIn::Reading, false, false, true, nullptr, true},
      // The fifth EEPROM line of the backup gets no reply: nothing was written.
      {"backup fails, write", true, "normal", Files::Eeprom, ConnectLines + 5, 0, 0, 0, false,
       false, 1, true, "job failed: the backup could not be made, nothing was written: "
       "Communication error 9997", "", "[]", false, "am29lv800bb", ChipsLeftIn::Reading, false,
       false, true, nullptr, true},
      // Honoured before the chips hear their reset.
      {"Ctrl-C while connecting, write", true, "normal", Files::FirmwareDifferingInSector3, 0, 0,
       0, 0, false, true, 130, true, "interrupted before the job started", "", "[]"},
      // A deco said to be in service mode stays there, however the READ ended: one that a WRITE
      // left half written must not start from its flash.
      {"Ctrl-C while connecting, read", false, "normal", Files::Eeprom, 0, 0, 0, 0, false, true, 130, true,
       "interrupted before the job started", "", "[]"},
      {"read done", false, "normal", Files::Dumps, 0, 0, 0, 0, false, false, 0, true, "",
       "Read FIRMWARE ... is finished", "[]"},
      {"read fails", false, "normal", Files::Dumps, ConnectLines + ResetLines + 16 + 50, 0, 0, 0,
       false, false, 1, true,
       "the READ did not finish: Fw.bin is unchanged; what was read is in Fw.bin.partial", "", "[]"},
      // Nothing of the flash was read: the partial dump an earlier READ left is not this one's.
      {"read fails in the EEPROM", false, "normal", Files::Dumps, ConnectLines + ResetLines + 5, 0,
       0, 0, false,
       false, 1, true, "job failed: Communication error 9997", "", "[]"},
      // A two-bit error in a firmware block: the second read disagrees, a third settles it.
      {"double read settles a corrupted block", false, "normal", Files::Dumps, 0, 0,
       ConnectLines + ResetLines + 2 * 16 + 21, 1, true, false, 0, true, "",
       "Double read: every block read twice and equal; 1 more read(s) to settle.", "[]"},
      {"double read, a block that never reads the same", false, "normal", Files::Dumps, 0, 0,
       ConnectLines + ResetLines + 2 * 16 + 21, 5, true, false, 1, true,
       " reads of the flash block at 7FE00A00 never agreed", "", "[]"},
      // A `chip` or fast WRITE cut off by a dead line: the READ still dumps the flash.
      {"read after chips were left identifying", false, "normal", Files::Dumps, 0, 0, 0, 0,
       false, false, 0, true, "", "Read FIRMWARE ... is finished", "[]", false, "am29lv800bb",
       ChipsLeftIn::Autoselect},
      {"read after chips were left in bypass", false, "normal", Files::Dumps, 0, 0, 0, 0, false,
       false, 0, true, "", "Read FIRMWARE ... is finished", "[]", false, "am29lv800bb",
       ChipsLeftIn::UnlockBypass},
      // Waiting for a word's data: the return to reading must not program one.
      {"read after chips were left after a program set-up", false, "normal", Files::Dumps, 0, 0, 0,
       0, false, false, 0, true, "", "Read FIRMWARE ... is finished", "[]", false, "am29lv800bb",
       ChipsLeftIn::ProgramSetUp},
      {"Ctrl-C in the flash read, read", false, "normal", Files::Dumps, 0, 0, 0, 0, false, false,
       130, true, "the READ did not finish, but E.bin was read in full and is in place", "", "[]",
       false, "am29lv800bb", ChipsLeftIn::Reading, false, false, true, nullptr, false, true},
      {"read resumed", false, "normal", Files::PartialDump, 0, 0, 0, 0, false, false, 0, true, "",
       "Resume: Fw.bin.partial holds 2048 block(s); 136 of them (the first of each of its 7 "
       "sector(s), the last, and one at random in every 16) read the same from the deco. After a "
       "WRITE between the two READs, read again without --resume: a sample can miss a change.",
       "[]"},
      {"read resumed on another deco", false, "normal", Files::ForeignPartialDump, 0, 0, 0, 0,
       false, false, 1, true,
       "Cannot resume Fw.bin.partial: the deco's flash block at 7FE7FF00 (sector 6) differs from "
       "the one in the file (another deco, or its flash changed since); read it again without "
       "--resume",
       "", "[]"},
      {"read resumed after a WRITE changed the flash", false, "normal",
       Files::PartialDumpOfChangedFlash, 0, 0, 0, 0, false, false, 1, true,
       "Cannot resume Fw.bin.partial: the deco's flash block at 7FE00000 (sector 0) differs", "",
       "[]"},
      {"read resumed after a WRITE changed the middle of a sector", false, "normal",
       Files::PartialDumpOfChangedSectorMiddle, 0, 0, 0, 0, false, false, 1, true,
       " (sector 4) differs from the one in the file (another deco, or its flash changed since)",
       "", "[]"},
      // The chips' return to reading gets no reply: the READ has nothing to replace the dump.
      {"read fails before the flash, the dump an earlier READ left kept", false, "normal",
       Files::PartialDumpReadAfresh, ConnectLines + 2, 0, 0, 0, false, false, 1, true,
       "this READ read nothing of the flash: Fw.bin.partial, left by an earlier READ, is kept",
       "Fw.bin.partial, left by an earlier READ, is kept as Fw.bin.partial.earlier until this "
       "READ has read the flash.",
       "[]"},
      {"read done, the dump an earlier READ left replaced", false, "normal",
       Files::PartialDumpReadAfresh, 0, 0, 0, 0, false, false, 0, true, "",
       "Removed Fw.bin.partial.earlier (Fw.bin.partial, left by an earlier READ): this READ has "
       "read the flash.",
       "[]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Settings settings = testing_support::InService();
    settings.Fault.DropReplyAt = row.dropReplyAt;
    settings.Fault.CorruptReplyAt = row.corruptAt;
    settings.Fault.CorruptReplyCount = row.corruptCount;
    settings.Chip = *sim::FindChipPart(row.chip);
    settings.UpperHighByteReversed = !row.straightHighByte;
    if (row.weakWordFailures > 0) {
      settings.Fault.WeakWordAddress = WeakWord;
      settings.Fault.WeakWordFailures = row.weakWordFailures;
    }
    testing_support::SimSession session(settings);
    TempDir dir;
    std::filesystem::path folderBefore = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    std::string flash = AsText(session.deco.Model().Flash());

    cli::JobOptions options;
    options.port = session.deco.SlavePath();
    options.clock = &session.clock;
    options.service = true;
    options.reportFile = "run.json";
    options.retries = 0;  // a lost reply ends the job, as in the window
    options.write = row.write;
    options.method = row.method;
    options.doubleRead = (row.doubleRead && !row.write) || row.writeDoubleRead;
    options.skipBlankWords = (row.doubleRead && row.write) || row.fast;
    options.fast = options.erasePoll = options.fastProgram = row.fast;
    options.finalCheck = row.finalCheck;
    if (row.writeAgain) options.logFile = "run.log";
    options.backup = row.backup;
    const bool resumed = row.files == Files::PartialDump || row.files == Files::ForeignPartialDump ||
                         row.files == Files::PartialDumpOfChangedFlash ||
                         row.files == Files::PartialDumpOfChangedSectorMiddle;
    options.resume = resumed;
    options.checksums = row.files == Files::Dumps;
    transfer::JobSelection& s = options.selection;
    s.Eeprom = row.files == Files::Eeprom || row.files == Files::Dumps ||
               row.files == Files::EepromAndFirmwareDifferingInSector3;
    s.EepromFile = "E.bin";
    testing_support::WriteFile(s.EepromFile, std::string(2048, '\x5A'));
    s.Firmware = row.files != Files::Eeprom;
    std::string image = flash;
    if (row.files == Files::FirmwareUpToSector5) {
      image = flash.substr(0, protocol::SectorBase[5] - protocol::FlashBase);
      image[WeakWord - sim::FlashBase] = static_cast<char>(image[WeakWord - sim::FlashBase] ^ 0x81);
    }
    if (row.files == Files::ShortFirmware) {
      image = flash.substr(0, 0x30000);  // ends inside sector 4, which differs
      image[0x28000] = static_cast<char>(image[0x28000] ^ 1);
    }
    if (row.files == Files::Dumps) {
      image = "an earlier dump";
      testing_support::WriteFile(s.FirmwareFile + ".partial", "left by an earlier READ");
    }
    constexpr size_t KeptBytes = 2048 * protocol::ReadBlockBytes;
    std::string leftDump = flash.substr(0, KeptBytes + 100);  // a crash cut the next block
    if (row.files == Files::ForeignPartialDump)
      leftDump[KeptBytes - 1] = static_cast<char>(leftDump[KeptBytes - 1] ^ 1);
    if (row.files == Files::PartialDumpOfChangedFlash)
      for (size_t i = 0; i < KeptBytes - protocol::ReadBlockBytes; ++i)
        leftDump[i] = static_cast<char>(leftDump[i] ^ 0x5A);
    constexpr size_t MidSectorChange = 0x20000 + 192 * protocol::ReadBlockBytes;
    if (row.files == Files::PartialDumpOfChangedSectorMiddle)
      for (size_t i = MidSectorChange; i < MidSectorChange + 256 * protocol::ReadBlockBytes; ++i)
        leftDump[i] = static_cast<char>(leftDump[i] ^ 0x5A);
    if (resumed || row.files == Files::PartialDumpReadAfresh) {
      image = "an earlier dump";
      testing_support::WriteFile(s.FirmwareFile + ".partial", leftDump);
    }
    if (row.files == Files::BlankHalfOfSector3) image.replace(0x18000, 0x8000, 0x8000, '\xFF');
    if (row.files == Files::FirmwareDifferingInSector1)
      image[0x8010] = static_cast<char>(image[0x8010] ^ 0x40);
    if (row.files == Files::FirmwareDifferingInSector3 ||
        row.files == Files::EepromAndFirmwareDifferingInSector3)
      image[WeakWord - sim::FlashBase] = static_cast<char>(image[WeakWord - sim::FlashBase] ^ 0x81);
    testing_support::WriteFile(s.FirmwareFile, image);
    CapturingHost host;
    std::atomic<bool> interrupted{false};
    host.OnLine = [&](const std::string& line) {
      if (row.interruptWhileConnecting && line == "Initializing deco ...") interrupted = true;
    };
    // The final check is the first reading back after the flash was written.
    bool written = false;
    host.OnBarColour = [&](uint32_t colour) {
      written |= colour == transfer::ColourWrite || colour == transfer::ColourRewrite;
      if (row.interruptInFinalCheck && written && colour == transfer::ColourReadBack)
        interrupted = true;
      if (row.interruptInFlashRead && colour == transfer::ColourReadJob) interrupted = true;
    };
    if (row.chipsLeftIn != ChipsLeftIn::Reading) {
      const uint32_t baud = session.deco.Model().ListenBaud();
      const char* const lastCycle[] = {"", "02207FE0155400090090", "02207FE0155400040020",
                                       "02207FE01554000500A0"};
      for (const char* cycle : {"02207FE01554005500AA", "02207FE00AA800AA0055",
                                lastCycle[static_cast<int>(row.chipsLeftIn)]})
        session.deco.Model().Handle(cycle, baud);
    }
    size_t commandsBefore = session.deco.Model().CommandLog().size();
    const std::string eepromBefore = AsText(session.deco.Model().Eeprom());
    int exitCode = cli::RunReadOrWrite(options, host, interrupted);
    std::string err = host.Err();
    auto log = session.deco.Model().CommandLog();
    std::vector<std::string> commands(log.begin() + static_cast<std::ptrdiff_t>(commandsBefore),
                                      log.end());

    EXPECT_EQ(exitCode, row.exitCode) << err;
    EXPECT_NE(err.find(row.reason), std::string::npos) << err;
    EXPECT_EQ(session.deco.Model().ReadsInBypass(), 0);
    std::string out = host.Out();
    EXPECT_NE(out.find(row.logLine), std::string::npos) << out;
    EXPECT_EQ(session.deco.Model().InService(), row.leftInService);
    EXPECT_EQ(CountStarting(commands, "100"), row.leftInService ? 0u : 1u);
    bool toldHowToGoOn =
        err.find("still in service mode (-SE-) at 115200 baud. ") != std::string::npos &&
        err.find("--service --baud 115200 write --") != std::string::npos &&
        err.find(" --method diff --yes") != std::string::npos;
    // A WRITE that ended done stays only for want of a proof of the whole flash.
    const bool writeUnfinished = row.write && row.exitCode != 0;
    EXPECT_EQ(toldHowToGoOn, row.leftInService && writeUnfinished) << err;
    EXPECT_EQ(err.find("the deco stays in service mode (-SE-) at 115200 baud: it was in service "
                       "mode before this run") != std::string::npos,
              row.leftInService && !writeUnfinished)
        << err;
    // Ctrl-C in a job: where it stopped, in the command line's words, not the window's.
    EXPECT_EQ(err.find("the job stopped at Ctrl-C, during: ") != std::string::npos,
              row.exitCode == cli::ExitAborted && !row.interruptWhileConnecting)
        << err;
    // Only a WRITE that sent something may have changed the deco.
    bool wroteNothing = row.write && (row.interruptWhileConnecting ||
                                      std::string(row.reason).find("backup") != std::string::npos ||
                                      std::string(row.reason).find("chips") != std::string::npos);
    EXPECT_EQ(err.find("Nothing was written: its memory is unchanged.") != std::string::npos,
              wroteNothing)
        << err;
    EXPECT_EQ(err.find("Do not switch it off") != std::string::npos,
              writeUnfinished && row.leftInService && !wroteNothing)
        << err;
    EXPECT_EQ(out.find("Blank words skipped") != std::string::npos,
              row.write && (row.doubleRead || row.fast) && s.Firmware)
        << out;
    auto report = nlohmann::json::parse(ReadFile("run.json"))["runs"][0];
    EXPECT_EQ(report["exit_status"], row.exitCode);
    // A phase a failure or a stop ended has its figures too, up to its end.
    for (const auto& phase : report["phases"])
      EXPECT_TRUE(phase["whole"] || phase["seconds"].get<double>() > 0 ||
                  phase["characters"].get<uint64_t>() > 0)
          << phase.dump();
    // A WRITE told to leave out the final check says it skipped it only when the WRITE was done.
    if (!row.finalCheck) {
      EXPECT_EQ(report["final_check"]["result"], row.exitCode == 0 ? "skipped" : "not run");
    }
    if (row.interruptInFinalCheck) {
      EXPECT_EQ(report["final_check"]["result"], "interrupted");
    }
    EXPECT_EQ(report["sectors"]["erased"], nlohmann::json::parse(row.erased));
    // The report and the last lines name every file the WRITE made for itself.
    if (row.write) {
      for (const auto& made : report["made_files"]) {
        std::string name = made["name"];
        EXPECT_TRUE(std::filesystem::exists(name)) << name;
        EXPECT_NE(out.find("Made " + name + " (" + made["role"].get<std::string>() + ")."),
                  std::string::npos)
            << out;
      }
      for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path())) {
        std::string name = std::filesystem::relative(entry.path(), dir.Path()).string();
        if (!entry.is_regular_file() || name == s.EepromFile || name == s.FirmwareFile ||
            name == "run.json" || name == options.logFile)
          continue;
        EXPECT_NE(report["made_files"].dump().find("\"" + name + "\""), std::string::npos)
            << name << " is not named";
      }
      // A backup cut short is no backup: the report says why there is none.
      const bool backupFailed =
          std::string(row.reason).find("the backup could not be made") != std::string::npos;
      EXPECT_EQ(report["backup"].is_null(), !row.backup || backupFailed);
      EXPECT_EQ(report.contains("backup_not_made"), backupFailed);
      // A WRITE without a backup says so at its end, as one whose backup failed does.
      EXPECT_EQ(out.find("No backup of the deco was made: --no-backup.") != std::string::npos,
                !row.backup && !wroteNothing)
          << out;
    }
    if (row.backup && !wroteNothing && report["backup"].is_string()) {
      const std::string folder = report["backup"];
      if (s.Eeprom) {
        EXPECT_EQ(ReadFile(folder + "/eeprom.bin"), eepromBefore);
      }
      if (s.Firmware) {
        EXPECT_EQ(ReadFile(folder + "/firmware.bin"), flash);
      }
      // Different blocks keeps the flash its comparison read: the first block is read once (or
      // twice, as every block of a backup read twice).
      if (std::string(row.method) == "diff") {
        EXPECT_EQ(CountStarting(commands, "0221FF7FE00000"), row.writeDoubleRead ? 2u : 1u);
      }
    }
    EXPECT_EQ(report.contains("erase_times"), row.fast);
    if (row.fast) {
      EXPECT_EQ(report["erase_times"], nlohmann::json::parse(R"([{"sector":3,"ms":0}])"));
      EXPECT_EQ(report["flash_chips"]["lower"]["device"],
                protocol::ToHex(sim::FindChipPart(row.chip)->Device, 4));
      EXPECT_EQ(report["flash_chips"]["upper_high_byte"],
                row.straightHighByte ? "straight" : "reversed");
      EXPECT_EQ(err.find(" --erase-poll --fast-program --method diff --yes") != std::string::npos,
                row.leftInService);
    }
    // Every image here holds data in sectors 0-2, which a WRITE leaves erased.
    bool erasedLowSector = false;
    for (int s : nlohmann::json::parse(row.erased)) erasedLowSector |= s < 3;
    EXPECT_EQ(out.find("`pyrelink-cli diff --as-written`") != std::string::npos, erasedLowSector)
        << out;
    EXPECT_EQ(report["sectors"]["stopped_at"].is_null(),
              std::string(row.reason).find("stopped at") == std::string::npos);
    if (row.interruptWhileConnecting) {
      EXPECT_EQ(CountStarting(commands, "060"), 0u);   // no EEPROM write
      EXPECT_EQ(CountStarting(commands, "0610"), 0u);  // no EEPROM read
      EXPECT_EQ(CountStarting(commands, "0220"), 0u);  // no chip reset nor any flash cycle
    }
    // A read-back with a two-bit error says nothing of what the EEPROM holds.
    // A WRITE that was not done says to write the EEPROM again unless it holds its file.
    if (row.write && s.Eeprom && row.corruptAt == 0) {
      EXPECT_EQ(AsText(session.deco.Model().Eeprom()) == std::string(2048, '\x5A'),
                row.exitCode == 0 || err.find(" --eeprom ") == std::string::npos)
          << err;
    }
    if (row.writeAgain) {
      EXPECT_NE(err.find(row.writeAgain), std::string::npos) << err;
    }
    if (row.files == Files::Dumps) {
      // A dump takes its name only when complete; a failed READ leaves the earlier one alone.
      bool done = row.exitCode == 0;
      EXPECT_EQ(ReadFile(s.FirmwareFile) == flash, done);
      EXPECT_EQ(ReadFile(s.FirmwareFile) == image, !done);
      // The report and the messages name what this run wrote, never the earlier files.
      std::string partial = s.FirmwareFile + ".partial";
      bool partialLeft = std::filesystem::exists(partial);
      EXPECT_FALSE(done && partialLeft);
      if (partialLeft) {
        EXPECT_NE(ReadFile(partial), "left by an earlier READ");
      }
      EXPECT_EQ(err.find(partial) != std::string::npos, partialLeft) << err;
      EXPECT_NE(out.find("Removed Fw.bin.partial, left by an earlier READ."), std::string::npos)
          << out;
      EXPECT_EQ(report["files"][0]["name"], done ? s.FirmwareFile : partial);
      EXPECT_EQ(report["files"][0]["complete"], done);
      EXPECT_NE(report["files"][0]["sha256"], cli::Sha256Of(image));
      // The EEPROM is read first: a READ that ends in the flash has it in full, in place.
      bool eepromInFull =
          done || row.dropReplyAt > ConnectLines + ResetLines + 16 || row.corruptAt > 0 ||
          row.interruptInFlashRead;
      EXPECT_EQ(ReadFile(s.EepromFile) == AsText(session.deco.Model().Eeprom()), eepromInFull);
      EXPECT_EQ(report["files"][1]["name"], eepromInFull ? "E.bin" : "E.bin.partial");
      EXPECT_EQ(report["files"][1]["complete"], eepromInFull);
      EXPECT_EQ(std::filesystem::exists("E.bin.sha256"), eepromInFull);
      EXPECT_EQ(std::filesystem::exists("Fw.bin.sha256"), done);
      EXPECT_EQ(err.find("the READ did not finish, but E.bin was read in full and is in place") !=
                    std::string::npos,
                eepromInFull && !done)
          << err;
      // A flash dump cut short can be resumed, and the command to do it names the flash alone.
      std::string resume = "resume the READ with: pyrelink-cli --port " + options.port +
                           " --service --baud 115200 --retries 0 read --firmware Fw.bin" +
                           (row.doubleRead ? " --double-read" : "") + " --checksums --resume --yes\n";
      EXPECT_EQ(err.find(resume) != std::string::npos, partialLeft) << err;
    }
    if (resumed) {
      // Only the blocks the partial dump lacks are read, after its last whole one again.
      bool done = row.exitCode == 0;
      EXPECT_EQ(ReadFile(s.FirmwareFile), done ? flash : image);
      EXPECT_EQ(std::filesystem::exists(s.FirmwareFile + ".partial"), !done);
      if (!done) {
        EXPECT_EQ(ReadFile(s.FirmwareFile + ".partial"), leftDump.substr(0, KeptBytes));
      }
      // Block reads only: the model's reads while connecting are at odd addresses; the job's
      // first two learn what the flash replies look like.
      size_t blockReads = static_cast<size_t>(
          std::count_if(commands.begin(), commands.end(), [](const std::string& c) {
            return c.rfind("0221FF", 0) == 0 && c.size() == 14 && c.compare(12, 2, "00") == 0;
          }));
      // The flash's two learning reads; the first block of each of sectors 0-6, one in every 16
      // (128) and the last block, up to the first that differs: in the change in sector 4, the
      // 50th (sectors 0-3's 4 first blocks and 32 stretches, sector 4's first and 12 stretches).
      constexpr size_t ResumeChecks = 136;
      const size_t checksToTheChange = row.files == Files::ForeignPartialDump ? ResumeChecks
                                       : row.files == Files::PartialDumpOfChangedSectorMiddle ? 50u
                                                                                              : 1u;
      EXPECT_EQ(blockReads, 3u + (done ? 8192u - 2048u + ResumeChecks : checksToTheChange));
      EXPECT_EQ(report["resumed_blocks"], 2048);
      EXPECT_EQ(report["files"][0]["complete"], done);
      EXPECT_EQ(err.find("resume the READ with") != std::string::npos, false) << err;
    }
    if (row.files == Files::PartialDumpReadAfresh) {
      // The dump an earlier READ left is there until this READ has read the flash.
      const bool done = row.exitCode == 0;
      EXPECT_EQ(ReadFile(s.FirmwareFile), done ? flash : image);
      EXPECT_EQ(std::filesystem::exists(s.FirmwareFile + ".partial"), !done);
      if (!done) {
        EXPECT_EQ(ReadFile(s.FirmwareFile + ".partial"), leftDump);
      }
      EXPECT_FALSE(std::filesystem::exists(s.FirmwareFile + ".partial.earlier"));
    }
    std::filesystem::current_path(folderBefore);
  }
}

// A deco that does not answer where the user said it was is looked for at every speed; the
// advice must name where it answers, or what was heard and what the run did, and the deco is
// left in the mode and at the speed it was.
TEST(CliJobTest, ConnectSaysWhereTheDecoAnswers) {
  struct Row {
    const char* name;
    uint32_t decoBaud;  // 0: the deco shows standby
    int dropReplyAt;
    bool service;
    const char* baud;
    int exitCode;
    const char* message;
    // The deco answered the model query of a connect from standby, so it is asked to leave -SE-.
    bool answered = false;
    bool autoConnect = false;
    int trickleAt = 0;  // the reply to this command breaks off: bytes without an end
  } rows[] = {
      // --auto finds the state and speed itself, and the job runs.
      {"--auto: left in service mode at 38400", 38400, 0, false, "115200", 0,
       "--auto: the deco answers in service mode at 38400 baud: connecting there", false, true},
      // A reply that breaks off is asked again.
      {"--auto: a reply that breaks off at 38400", 38400, 0, false, "115200", 0,
       "--auto: the deco answers in service mode at 38400 baud: connecting there", false, true, 1},
      {"a reply that breaks off at 38400", 38400, 0, false, "115200", 1,
       "the deco answers in service mode at 38400: add --service --baud 38400", false, false, 1},
      // One lost reply to the first probe is asked again: the deco is found in service mode and
      // stays there.
      {"--auto: in service mode at 9600, the first reply lost", 9600, 1, false, "9600", 0,
       "--auto: the deco answers in service mode at 9600 baud: connecting there", false, true},
      {"--auto: in standby", 0, 0, true, "115200", 0,
       "--auto: no answer in service mode at any speed: connecting from standby", true, true},
      // Silence at every speed and to the model query.
      // (the two reads at 9600 are the first commands a deco in standby hears, and ignores)
      {"--auto: silent", 0, 3, false, "115200", 1,
       "no answer in service mode at any speed, nor from standby", false, true},
      {"left in service mode by a failed WRITE", 38400, 0, false, "115200", 1,
       "the deco answers in service mode at 38400: add --service --baud 38400"},
      {"in service mode at another speed", 115200, 0, true, "38400", 1,
       "the deco answers in service mode at 115200: use --baud 115200"},
      {"in standby, told service mode", 0, 0, true, "115200", 1,
       "no answer in service mode at any speed: if the deco shows -SE-, check the cable, the port "
       "and that the deco is powered; if it shows standby, leave out --service"},
      // A half-written deco answers a model query at 9600 as one in standby does.
      {"left in service mode at 9600 by a failed WRITE", 9600, 0, true, "115200", 1,
       "the deco answers in service mode at 9600: use --baud 9600"},
      // The first command the deco hears is the probe at its speed: its lost reply is asked again.
      {"a probe's reply lost at the deco's speed", 38400, 1, false, "115200", 1,
       "the deco answers in service mode at 38400: add --service --baud 38400"},
      {"in service mode as told", 115200, 0, true, "115200", 0, "the switch went through"},
      // One lost reply: no exit for a deco found in service mode, which answers where it was.
      {"in service mode as told, the model query's answer lost", 115200, 1, true, "115200", 1,
       "the deco answers in service mode at 115200, as the options say: the line lost a reply"},
      // Put into service mode, then a reply lost: the exit returns it to standby, and no search.
      {"a reply lost after the model query", 0, 3, false, "115200", 1,
       ") and then a reply was lost or cut short; this run sent it the exit back to standby "
       "(\"100\"); check the cable and run the command again",
       true},
      // It heard the model query, its answer was lost: the exit, unlogged, returns it to standby.
      {"the model query's answer lost", 0, 1, false, "115200", 1,
       "no answer at any speed: check the cable, the port and that the deco is powered"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Settings settings =
        row.decoBaud ? testing_support::InService(row.decoBaud) : sim::Settings();
    settings.Fault.DropReplyAt = row.dropReplyAt;
    settings.Fault.TrickleAt = row.trickleAt;
    testing_support::SimSession session(settings, testing_support::QuickTimeOuts);
    TempDir dir;
    cli::JobOptions options;
    options.port = session.deco.SlavePath();
    options.clock = &session.clock;
    options.service = row.service;
    options.baud = row.baud;
    options.autoConnect = row.autoConnect;
    options.selection.Eeprom = true;
    options.selection.EepromFile = dir.Path() + "/E.bin";
    CapturingHost host;
    std::atomic<bool> interrupted{false};
    EXPECT_EQ(cli::RunReadOrWrite(options, host, interrupted), row.exitCode) << host.Err();
    EXPECT_NE(host.Err().find(row.message), std::string::npos) << host.Err();
    EXPECT_EQ(host.Err().find("listening at the other speeds") != std::string::npos,
              row.exitCode != 0 && !row.autoConnect && !row.answered);
    // A deco that heard nothing of the connect is not told to leave a mode it was never put in.
    EXPECT_EQ(host.Out().find("Exit -SE-") != std::string::npos, row.answered) << host.Out();
    // No "100" for a deco found in service mode: a READ does not prove its memory.
    EXPECT_EQ(session.deco.Model().InService(), row.decoBaud != 0);
    EXPECT_EQ(session.deco.Model().ListenBaud(), row.decoBaud ? row.decoBaud : sim::StandbyBaud);
  }
}

// The technician's sequence after a WRITE that did not finish, on a deco --auto found in service
// mode at 38400: everything after the connect names the speed found; the command printed to write
// again, run as printed into one lost reply, leaves the deco in service mode and says where it
// answers; run once more, it writes the EEPROM and only then returns the deco to standby.
TEST(CliJobTest, WriteAgainAsPrintedKeepsAHalfWrittenDecoInServiceMode) {
  constexpr int ProbeAndConnectLines = 15;  // --auto's two probes, the connect, the read in step
  sim::Settings settings = testing_support::InService(38400);
  settings.Fault.DropReplyAt = ProbeAndConnectLines + 3;  // the WRITE's third EEPROM line
  testing_support::SimSession session(settings, testing_support::QuickTimeOuts);
  sim::DecoModel& deco = session.deco.Model();
  TempDir dir;
  const std::string image(2048, '\x5A');
  testing_support::WriteFile(dir.File("E.bin"), image);
  cli::JobOptions options;
  options.port = session.deco.SlavePath();
  options.clock = &session.clock;
  options.autoConnect = true;
  options.retries = 0;
  options.write = true;
  options.selection.Eeprom = true;
  options.selection.EepromFile = dir.File("E.bin");
  options.reportFile = dir.File("run.json");
  std::atomic<bool> interrupted{false};
  CapturingHost failed;
  ASSERT_EQ(cli::RunReadOrWrite(options, failed, interrupted), cli::ExitJobFailed) << failed.Err();
  EXPECT_NE(failed.Err().find("still in service mode (-SE-) at 38400 baud."), std::string::npos)
      << failed.Err();
  EXPECT_NE(failed.Err().find("write again with: pyrelink-cli --port " + options.port +
                              " --retries 0 --service --baud 38400 write --eeprom " +
                              options.selection.EepromFile + " --no-backup --method diff --yes"),
            std::string::npos)
      << failed.Err();
  EXPECT_EQ(nlohmann::json::parse(ReadFile(dir.File("run.json")))["runs"][0]["speed"], 38400);

  cli::JobOptions again = options;  // as printed
  again.autoConnect = false;
  again.service = true;
  again.baud = "38400";
  again.method = "diff";
  again.reportFile.clear();
  sim::Faults lost;
  lost.DropReplyAt = deco.CommandCount() + 1;  // the model query's
  deco.SetFaults(lost);
  const size_t before = deco.CommandLog().size();
  CapturingHost lostReply;
  EXPECT_EQ(cli::RunReadOrWrite(again, lostReply, interrupted), cli::ExitJobFailed);
  EXPECT_TRUE(deco.InService());
  const std::vector<std::string> log = deco.CommandLog();
  const std::vector<std::string> sent(log.begin() + static_cast<std::ptrdiff_t>(before), log.end());
  EXPECT_EQ(CountStarting(sent, "100"), 0u);
  EXPECT_NE(lostReply.Err().find("the deco answers in service mode at 38400, as the options say"),
            std::string::npos)
      << lostReply.Err();

  CapturingHost written;
  EXPECT_EQ(cli::RunReadOrWrite(again, written, interrupted), cli::ExitDone) << written.Err();
  EXPECT_TRUE(AsText(deco.Eeprom()) == image);
  // Its flash was never proven: the deco stays in service mode, with the way out named.
  EXPECT_TRUE(deco.InService());
  EXPECT_NE(written.Err().find("--service --baud 38400 standby"), std::string::npos)
      << written.Err();
}

// The line check reads and never writes, and every reply the line lost or garbled shows in its
// figures and its exit status.
TEST(CliJobTest, LineCheckReadsOnlyAndCountsWhatTheLineLost) {
  constexpr int ConnectLines = 14;  // from service mode, with the reads that prove the line in step
  constexpr int Reads = 3;
  constexpr int LinesPerRead = 16;
  struct Row {
    const char* name;
    int garbageAt;
    int dropAt;
    int hangUpAfter;
    int retries;
    int exitCode;
    const char* figures;  // on stdout
    const char* reason;   // on stderr
    int corruptAt = 0;    // a reply with a wrong digit that parity lets through
  } rows[] = {
      {"clean line", 0, 0, 0, 2, 0,
       "Reads repeated: 0, reads failed: 0\n"
       "Differences from what most reads hold: 0 byte(s) in 0 read(s)",
       ""},
      {"a garbled reply read again", ConnectLines + 5, 0, 0, 2, 1,
       "Reads repeated: 1, reads failed: 0", "the line lost or garbled replies"},
      {"a lost reply without retries", 0, ConnectLines + 20, 0, 0, 1,
       "Reads repeated: 0, reads failed: 1", "the line lost or garbled replies"},
      {"the line goes dead", 0, 0, ConnectLines + 3, 0, 1, "reads failed: 1",
       "the line stopped answering"},
      // In a data digit: every reply well formed, one byte wrong; the read that differs from
      // the others is named, the first one too.
      {"a wrong digit in the second read", 0, 0, 0, 2, 1,
       "Differences from what most reads hold: 1 byte(s) in 1 read(s)",
       "--double-read guards a READ on such a line", ConnectLines + 2 * LinesPerRead},
      {"a wrong digit in the first read", 0, 0, 0, 2, 1,
       "  read 1, EEPROM 007: 37, most reads 34\nLine check: 3 read(s)",
       "--double-read guards a READ on such a line", ConnectLines + 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Settings settings = testing_support::InService();
    settings.Fault.GarbageReplyAt = row.garbageAt;
    settings.Fault.DropReplyAt = row.dropAt;
    settings.Fault.HangUpAfter = row.hangUpAfter;
    settings.Fault.CorruptReplyAt = row.corruptAt;
    testing_support::SimSession session(settings, testing_support::QuickTimeOuts);
    const std::string eeprom = AsText(session.deco.Model().Eeprom());
    cli::JobOptions options;
    options.port = session.deco.SlavePath();
    options.clock = &session.clock;
    options.service = true;
    options.retries = row.retries;
    CapturingHost host;
    std::atomic<bool> interrupted{false};
    EXPECT_EQ(cli::LineCheck(options, Reads, host, interrupted), row.exitCode) << host.Err();
    EXPECT_NE(host.Out().find(row.figures), std::string::npos) << host.Out();
    EXPECT_NE(host.Err().find(row.reason), std::string::npos) << host.Err();
    // Read-only: no EEPROM or flash write reached the deco.
    for (const std::string& command : session.deco.Model().CommandLog()) {
      EXPECT_NE(command.rfind("0220", 0), 0u) << command;
      EXPECT_FALSE(command.rfind("060", 0) == 0 && command.size() > 9) << command;
    }
    EXPECT_EQ(AsText(session.deco.Model().Eeprom()), eeprom);
    // Found in service mode, where it stays: a line check proves no memory.
    EXPECT_TRUE(session.deco.Model().InService());
    EXPECT_EQ(CountStarting(session.deco.Model().CommandLog(), "100"), 0u);
  }
}

// `chip`: both chips' codes and the part, for each kind of chip pair; nothing in the flash
// changes and the deco, found in service mode, stays there.
TEST(CliChipTest, NamesThePartAndChangesNothing) {
  constexpr int ConnectLines = 14;  // from service mode, with the reads that prove the line in step
  constexpr int ResetLines = 9;     // the chips first returned to reading, their replies learned
  struct Row {
    const char* chip;
    const char* lines;
    bool straightHighByte = false;  // the upper chip's high data byte wired straight
    int dropReplyAt = 0;
    int exitCode = cli::ExitDone;
    const char* reason = "";  // on stderr
    bool leftInBypass = false;
  } rows[] = {
      {"am29lv800bb",
       "Lower flash chip: manufacturer 01, device 225B\nUpper flash chip: manufacturer 01, "
       "device 225B\nUpper flash chip's high data byte: wired reversed\nFlash part: AMD "
       "Am29LV800BB (8 Mbit, bottom boot), two side by side; unlock bypass: yes\n"},
      {"am29lv800bb",
       "Lower flash chip: manufacturer 01, device 225B\nUpper flash chip: manufacturer 01, "
       "device 225B\nUpper flash chip's high data byte: wired straight\nFlash part: AMD "
       "Am29LV800BB (8 Mbit, bottom boot), two side by side; unlock bypass: yes\n",
       true},
      {"am29f800bb",
       "Lower flash chip: manufacturer 01, device 2258\nUpper flash chip: manufacturer 01, "
       "device 2258\nUpper flash chip's high data byte: wired reversed\nFlash part: AMD "
       "Am29F800BB (8 Mbit, bottom boot), two side by side; unlock bypass: no\n"},
      {"unknown",
       "Lower flash chip: manufacturer 37, device 2299\nUpper flash chip: manufacturer 37, "
       "device 2299\nUpper flash chip's high data byte: wired straight\nFlash part: unknown, "
       "not a common 8-Mbit bottom-boot part\n",
       true},
      // The autoselect command's reply lost: the chips may be left identifying.
      {"am29lv800bb", "", false, ConnectLines + ResetLines + 3, cli::ExitJobFailed,
       "pyrelink-cli: they may still be in identification mode: the next READ or WRITE of the "
       "flash returns them to reading first"},
      // Left in unlock bypass by a cut-off fast WRITE, where the identification goes unheard.
      {"am29lv800bb",
       "Lower flash chip: manufacturer 01, device 225B\nUpper flash chip: manufacturer 01, "
       "device 225B\n",
       false, 0, cli::ExitDone, "", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.chip) + (row.straightHighByte ? ", straight" : ", reversed"));
    sim::Settings settings = testing_support::InService();
    settings.Chip = *sim::FindChipPart(row.chip);
    settings.UpperHighByteReversed = !row.straightHighByte;
    settings.Fault.DropReplyAt = row.dropReplyAt;
    testing_support::SimSession session(settings);
    if (row.leftInBypass) {
      for (const char* cycle :
           {"02207FE01554005500AA", "02207FE00AA800AA0055", "02207FE0155400040020"})
        session.deco.Model().Handle(cycle, session.deco.Model().ListenBaud());
    }
    const auto flash = session.deco.Model().Flash();
    cli::JobOptions options;
    options.port = session.deco.SlavePath();
    options.clock = &session.clock;
    options.service = true;
    CapturingHost host;
    std::atomic<bool> interrupted{false};
    EXPECT_EQ(cli::ChipCommand(options, host, interrupted), row.exitCode) << host.Err();
    EXPECT_NE(host.Out().find(row.lines), std::string::npos) << host.Out();
    EXPECT_NE(host.Err().find(row.reason), std::string::npos) << host.Err();
    EXPECT_EQ(session.deco.Model().Flash(), flash);
    EXPECT_TRUE(session.deco.Model().InService());
  }
}

// A READ that did not finish says of a dump that did not exist before that it was not made.
TEST(CliReadDumpsTest, AnUnfinishedReadTellsWhetherTheDumpExisted) {
  for (const bool existed : {false, true}) {
    SCOPED_TRACE(existed ? "an earlier dump" : "no dump before");
    TempDir dir;
    transfer::JobSelection selection;
    selection.Eeprom = true;
    selection.EepromFile = dir.File("Same.bin");
    if (existed) testing_support::WriteFile(selection.EepromFile, "earlier");
    transfer::ReadDumps dumps(selection);
    CapturingHost host;
    std::string error;
    ASSERT_TRUE(dumps.Claim(host, error)) << error;
    testing_support::WriteFile(dumps.Partial().EepromFile, "part of a READ");
    dumps.TellWhereTheyAre(host);
    EXPECT_NE(host.Err().find(existed ? "Same.bin is unchanged" : "Same.bin was not made"),
              std::string::npos)
        << host.Err();
    dumps.Release();
  }
}

// A chip that answers a manufacturer code beyond a byte has it shown whole, never split.
TEST(CliChipTest, CodesShownAsTheChipsGaveThem) {
  protocol::FlashChips chips;
  chips.Lower = {0x0001, 0x225B};
  chips.Upper = {0x0102, 0x221C};
  const std::vector<std::string> lines = cli::ChipLines(chips);
  EXPECT_EQ(lines[0], "Lower flash chip: manufacturer 01, device 225B");
  EXPECT_EQ(lines[1], "Upper flash chip: manufacturer 0102, device 221C");
}

// verify reads every sector the file covers and compares it with what a WRITE of the file
// leaves, names what differs, and changes nothing.
TEST(CliVerifyTest, NamesWhatDiffersAndChangesNothing) {
  constexpr uint32_t Sector3 = protocol::SectorBase[3] - protocol::FlashBase;
  const uint32_t Sector5 = protocol::SectorBase[5] - protocol::FlashBase;
  const uint32_t Sector5Size = protocol::SectorSize(5);
  struct Row {
    const char* name;
    std::function<void(std::vector<uint8_t>& deco, std::string& channel, std::string& eeprom)> change;
    int exitCode;
    const char* line;  // on stdout
    bool stop = false;
    // Replies with a two-bit error that parity lets through, from this command on: in sector 3.
    int corruptAt = 0;
    int corruptCount = 1;
    bool firmware = false;  // the whole firmware image instead of the channel list
  } rows[] = {
      {"as a WRITE leaves it", [](auto&, auto&, auto&) {}, cli::ExitDone,
       "Verify: the EEPROM holds E.bin.\nVerify Ch.bin against the deco ...\nVerify: the flash holds what a WRITE of Ch.bin leaves."},
      {"a word differs",
       [](std::vector<uint8_t>& deco, auto&, auto&) { deco[Sector3 + 0x10] ^= 0x01; },
       cli::ExitJobFailed, "Verify FAILED: sector(s) 3 differ from Ch.bin.\n  sector 3: 1 word(s) differ; 7FE10010: deco "},
      {"a blank in the file is not blank in the deco",
       [&](auto&, std::string& channel, auto&) { channel.replace(Sector5, Sector5Size, Sector5Size, '\xFF'); },
       cli::ExitJobFailed, "Verify FAILED: sector(s) 5 differ from Ch.bin.\n  sector 5: 32768 word(s) differ"},
      // A dump just read is verified: sectors 0-2 hold it as it is, and that passes.
      {"sectors 0-2 as the file has them: a READ's dump",
       [](std::vector<uint8_t>& deco, const std::string& channel, auto&) {
         std::copy(channel.begin(), channel.begin() + Sector3, deco.begin());
       },
       cli::ExitDone,
       "Verify: sector(s) 0 1 2 hold Ch.bin as it is, as a READ's dump has them (a WRITE of it "
       "leaves them erased, with the zero words at 7FE00000).\nVerify: the rest of the flash holds "
       "what a WRITE of Ch.bin leaves."},
      {"the EEPROM differs", [](auto&, auto&, std::string& eeprom) { eeprom[0x123] ^= 0x40; },
       cli::ExitJobFailed, "Verify FAILED: the EEPROM differs from E.bin in 1 byte(s); 0x123: deco F8, file B8\n"},
      {"Ctrl-C", [](auto&, auto&, auto&) {}, cli::ExitAborted, "Verify Ch.bin against the deco ...\n", true},
      // A block read again agrees with the deco's second read: the first was the line's.
      {"one changed digit on the line", [](auto&, auto&, auto&) {}, cli::ExitDone,
       "Verify: the flash holds what a WRITE of Ch.bin leaves.", false, 400},
      {"a block that reads otherwise each time", [](auto&, auto&, auto&) {}, cli::ExitLineTrouble,
       "Verify: the rest of the flash holds what a WRITE of Ch.bin leaves.\n  the flash block at "
       "7FE1", false, 400, 5},
      // Only the whole flash found equal lets a deco found in service mode leave it.
      {"the whole firmware as a WRITE leaves it", [](auto&, auto&, auto&) {}, cli::ExitDone,
       "Verify: the flash holds what a WRITE of Fw.bin leaves.", false, 0, 1, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Settings settings = testing_support::InService();
    settings.Fault.CorruptReplyAt = row.corruptAt;
    settings.Fault.CorruptReplyCount = row.corruptCount;
    testing_support::SimSession session(settings);
    TempDir dir;
    std::vector<uint8_t> deco = sim::DecoModel::PatternFlash();
    std::string channel = AsText(deco).substr(0, protocol::ChannelImageBytes);
    std::fill(deco.begin(), deco.begin() + Sector3, 0xFF);
    std::fill(deco.begin(), deco.begin() + 32, 0x00);
    std::string eeprom = AsText(session.deco.Model().Eeprom());
    row.change(deco, channel, eeprom);
    session.deco.Model().SetFlash(deco);
    cli::JobOptions options;
    options.port = session.deco.SlavePath();
    options.clock = &session.clock;
    options.service = true;
    options.selection.Channel = !row.firmware;
    options.selection.Firmware = row.firmware;
    options.selection.Eeprom = true;
    options.selection.FirmwareFile = dir.File("Fw.bin");
    testing_support::WriteFile(options.selection.FirmwareFile,
                               AsText(sim::DecoModel::PatternFlash()));
    options.selection.ChannelFile = dir.File("Ch.bin");
    options.selection.EepromFile = dir.File("E.bin");
    testing_support::WriteFile(options.selection.ChannelFile, channel);
    testing_support::WriteFile(options.selection.EepromFile, eeprom);
    CapturingHost host;
    std::atomic<bool> interrupted{false};
    if (row.stop)
      host.OnRecord = [&](const std::string& line, bool) {
        if (line.rfind("Verify Ch.bin", 0) == 0) interrupted = true;
      };
    EXPECT_EQ(cli::VerifyCommand(options, host, interrupted), row.exitCode) << host.Err();
    EXPECT_NE(host.Out().find(row.line), std::string::npos) << host.Out();
    EXPECT_EQ(host.Err().find("verify interrupted") != std::string::npos, row.stop) << host.Err();
    EXPECT_EQ(host.Err().find("trouble on the line") != std::string::npos,
              row.exitCode == cli::ExitLineTrouble)
        << host.Err();
    EXPECT_EQ(session.deco.Model().Flash(), deco);
    // A deco found in service mode returns to standby only with its whole flash proven: the
    // channel list and the EEPROM found equal leave it in service mode.
    EXPECT_EQ(session.deco.Model().InService(), !(row.firmware && row.exitCode == cli::ExitDone));
  }
}

// A deco that restarted mid-WRITE (back in standby at 9600) or a line that went away: the run
// does not know what the deco is in, says so, sends no exit, and every command it prints finds
// the deco with --auto; the write-again, run as printed, then writes the deco.
TEST(CliJobTest, ADecoLostMidWriteIsToldAsUnknown) {
  constexpr int ConnectLines = 14;
  struct Row {
    const char* name;
    int restartAt;
    int hangUpAfter;
    const char* why;
  } rows[] = {
      {"a restart at the third EEPROM line", ConnectLines + 3, 0,
       "no answer since command"},
      {"the line gone after the second EEPROM line", 0, ConnectLines + 2, "the line failed"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Settings settings = testing_support::InService();
    settings.Fault.RestartAt = row.restartAt;
    settings.Fault.HangUpAfter = row.hangUpAfter;
    testing_support::SimSession session(settings, testing_support::QuickTimeOuts);
    TempDir dir;
    const std::string image(2048, '\x3C');
    testing_support::WriteFile(dir.File("E.bin"), image);
    cli::JobOptions options;
    options.port = session.deco.SlavePath();
    options.clock = &session.clock;
    options.service = true;
    options.write = true;
    options.workDir = dir.Path();
    options.selection.Eeprom = true;
    options.selection.EepromFile = dir.File("E.bin");
    CapturingHost host;
    std::atomic<bool> interrupted{false};
    EXPECT_EQ(cli::RunReadOrWrite(options, host, interrupted), cli::ExitJobFailed);
    const std::string err = host.Err();
    EXPECT_NE(err.find("this run does not know what the deco is in now (" + std::string(row.why)),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("still in service mode"), std::string::npos) << err;
    EXPECT_EQ(err.find("sector"), std::string::npos) << err;  // an EEPROM-only job
    EXPECT_EQ(CountStarting(session.deco.Model().CommandLog(), "100"), 0u);
    const size_t again = err.find("write again with: pyrelink-cli");
    ASSERT_NE(again, std::string::npos) << err;
    EXPECT_NE(err.substr(again, err.find('\n', again) - again).find(" --auto --baud 115200 write --eeprom "),
              std::string::npos)
        << err;
    if (row.hangUpAfter) continue;  // the simulated line stays closed
    // As printed: --auto finds the restarted deco in standby and writes it.
    EXPECT_FALSE(session.deco.Model().InService());
    session.deco.Model().SetFaults(sim::Faults());
    cli::JobOptions typed = options;
    typed.service = false;
    typed.autoConnect = true;
    typed.method = "diff";
    typed.backup = false;
    CapturingHost next;
    EXPECT_EQ(cli::RunReadOrWrite(typed, next, interrupted), cli::ExitDone) << next.Err();
    EXPECT_EQ(AsText(session.deco.Model().Eeprom()), image);
  }
}

// The command line's Disconnect: the exit on the user's word, after the risk is said and a
// question asked; nothing is sent without that word, nor to a deco nobody said is in service mode.
TEST(CliStandbyTest, SendsTheExitOnlyOnTheUsersWord) {
  struct Row {
    const char* name;
    bool service;
    bool autoConnect;
    bool answer;
    int exitCode;
    bool leftInService;
  } rows[] = {
      {"--service, Yes", true, false, true, cli::ExitDone, false},
      {"--auto, Yes", false, true, true, cli::ExitDone, false},
      {"--service, No", true, false, false, cli::ExitJobFailed, true},
      {"neither --service nor --auto", false, false, true, cli::ExitUsage, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing_support::SimSession session(testing_support::InService(38400),
                                        testing_support::QuickTimeOuts);
    cli::JobOptions options;
    options.port = session.deco.SlavePath();
    options.clock = &session.clock;
    options.service = row.service;
    options.autoConnect = row.autoConnect;
    options.baud = "38400";
    CapturingHost host;
    host.Answer = row.answer;
    std::atomic<bool> interrupted{false};
    EXPECT_EQ(cli::StandbyCommand(options, host, interrupted), row.exitCode) << host.Err();
    EXPECT_EQ(session.deco.Model().InService(), row.leftInService);
    EXPECT_EQ(host.Err().find(transfer::HalfWrittenFlashRisk) != std::string::npos,
              row.exitCode != cli::ExitUsage)
        << host.Err();
  }
}

TEST(CliJobTest, LogReportAndChecksums) {
  testing_support::SimSession session(testing_support::InService());
  TempDir dir;
  std::filesystem::path folderBefore = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  std::atomic<bool> interrupted{false};
  cli::JobOptions read;
  read.port = session.deco.SlavePath();
  read.clock = &session.clock;
  read.service = true;
  read.logFile = "run.log";
  read.reportFile = "read.json";
  read.checksums = true;
  read.selection.Firmware = read.selection.Eeprom = true;
  // A dump in a folder: its checksum file works where it lies. A name from old media in
  // Latin-1 is no UTF-8: the report must still be written.
  std::filesystem::create_directory("sub");
  read.selection.FirmwareFile = "sub/Fw.bin";
  read.selection.EepromFile = "E\xE9.bin";
  read.commandLine = {"pyrelink-cli", "--report", "read.json", "read", "--firmware", "sub/Fw.bin"};
  CapturingHost readHost;
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(cli::RunReadOrWrite(read, readHost, interrupted), 0) << readHost.Err();
  std::string flash = AsText(session.deco.Model().Flash());
  EXPECT_EQ(ReadFile("sub/Fw.bin.sha256"), cli::Sha256Of(flash) + "  Fw.bin\n");
  const std::time_t after = std::time(nullptr);
  auto readJson = nlohmann::json::parse(ReadFile("read.json"));
  EXPECT_EQ(readJson["command_line"], read.commandLine);
  auto readReport = readJson["runs"][0];
  // Local times in ISO 8601, the run between them; its seconds no more than the wall clock's.
  EXPECT_GE(readReport["started"].get<std::string>(), cli::IsoLocalTime(before));
  EXPECT_LE(readReport["started"].get<std::string>(), readReport["ended"].get<std::string>());
  EXPECT_LE(readReport["ended"].get<std::string>(), cli::IsoLocalTime(after));
  EXPECT_TRUE(std::regex_match(readReport["ended"].get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")));
  EXPECT_GE(readReport["seconds"].get<double>(), readReport["phases"][0]["seconds"].get<double>());
  EXPECT_LE(readReport["seconds"].get<double>(), static_cast<double>(after - before) + 1);
  EXPECT_EQ(readReport["model"], sim::DefaultModel);
  EXPECT_EQ(readReport["result"], "done");
  EXPECT_EQ(readReport["files"][0]["sha256"], cli::Sha256Of(flash));
  EXPECT_EQ(readReport["files"][1]["size"], 2048);
  EXPECT_EQ(readReport["files"][1]["name"], "E\uFFFD.bin");
  EXPECT_EQ(readReport["phases"][0]["characters"],
            8192 * (16 + 516));  // command + CR LF, reply + CR

  cli::JobOptions write = read;
  write.write = true;
  write.method = "diff";
  write.service = true;  // the READ left the deco in service mode, where it found it
  write.reportFile = "write.json";
  write.selection.Eeprom = false;
  std::string image = flash;
  image[0x10004] = static_cast<char>(image[0x10004] ^ 0x10);  // sector 3
  testing_support::WriteFile("sub/Fw.bin", image);
  testing_support::WriteFile("write.json.tmp", "another run's report");
  std::filesystem::create_directory("work");
  write.workDir = "work";
  write.backup = true;
  CapturingHost writeHost;
  ASSERT_EQ(cli::RunReadOrWrite(write, writeHost, interrupted), 0) << writeHost.Err();
  auto writeReport = nlohmann::json::parse(ReadFile("write.json"))["runs"][0];
  EXPECT_EQ(writeReport["method"], "diff");
  EXPECT_EQ(writeReport["comparisons"], nlohmann::json::parse(R"([{"differing_sectors":[3]}])"));
  EXPECT_EQ(writeReport["sectors"]["written"], nlohmann::json::parse("[3]"));
  EXPECT_EQ(writeReport["final_check"]["result"], "passed");
  EXPECT_EQ(writeReport["error"], nullptr);
  EXPECT_EQ(writeReport["final_check"]["sectors"], nlohmann::json::parse("[3]"));
  // The final check is a phase of its own: sector 3's 256 blocks read back.
  EXPECT_EQ(writeReport["phases"].back()["phase"], "Final check ...");
  EXPECT_EQ(writeReport["phases"].back()["characters"], 256 * (16 + 516));
  std::string log = ReadFile("run.log");  // both runs, appended
  EXPECT_NE(log.find(" Read FIRMWARE ... is finished 100% ("), std::string::npos);
  EXPECT_NE(log.find(" Final check ... is finished 100% ("), std::string::npos);
  EXPECT_NE(log.find(" Final check: sector(s) 3 hold what was written."), std::string::npos);
  // The WRITE's own files lie in the work folder, named by the report and the log: its
  // read-back, and the flash as it was, kept from it as the backup.
  const nlohmann::json made = writeReport.value("made_files", nlohmann::json::array());
  EXPECT_EQ(made.size(), 2u) << made;
  const std::string backup =
      writeReport["backup"].is_string() ? writeReport["backup"].get<std::string>() : "";
  EXPECT_EQ(backup.rfind("work/backup-", 0), 0u) << backup;
  if (made.size() == 2) {
    // Different blocks reads before it writes: the file is the deco as it was.
    EXPECT_EQ(made[0]["role"], "read before writing");
    EXPECT_EQ(made[0]["name"].get<std::string>().rfind("work/_2MB_", 0), 0u) << made;
    EXPECT_EQ(made[0]["size"], 2097152);
    EXPECT_EQ(made[1], nlohmann::json({{"role", "backup firmware"},
                                       {"name", backup + "/firmware.bin"},
                                       {"size", 2097152},
                                       {"sha256", cli::Sha256Of(flash)}}));
  }
  for (const nlohmann::json& file : made)
    EXPECT_NE(log.find(" Made " + file["name"].get<std::string>() + " (" +
                       file["role"].get<std::string>() + ")."),
              std::string::npos)
        << log;
  for (const auto& entry : std::filesystem::directory_iterator("."))
    EXPECT_NE(entry.path().filename().string().rfind("_2MB_", 0), 0u) << entry.path();
  // The report went through a temporary file of its own, and left none behind.
  EXPECT_EQ(ReadFile("write.json.tmp"), "another run's report");
  EXPECT_FALSE(std::filesystem::exists("write.json_2.tmp"));
  std::filesystem::current_path(folderBefore);
}

// The command that writes again after a WRITE that did not finish: the memories not yet
// verified, and each option of the job that applies to them and goes with the others.
TEST(CliWriteAgainTest, LeavesOutWhatIsVerifiedAndKeepsWhatApplies) {
  struct Row {
    const char* name;
    bool flashVerified;
    bool eepromVerified;
    bool finalCheck;
    bool flashOptions;  // --skip-blank-words --erase-poll --fast-program, and --double-read
    const char* command;  // what follows "write"
    // What the deco is in now, and how the command connects to it: --auto where the run lost it.
    protocol::DecoMode now = protocol::DecoMode::ServiceMode;
    const char* connect = "--service --baud 38400";
  } rows[] = {
      {"nothing verified", false, false, true, true,
       "--firmware Fw.bin --eeprom E.bin --skip-blank-words --double-read --erase-poll "
       "--fast-program --method diff --yes"},
      // Without flash to write its options go, and the final check may be left out again; the
      // backup's double read stays.
      {"the flash verified", true, false, false, true,
       "--eeprom E.bin --no-final-check --double-read --method diff --yes"},
      // The flash's options need the final check after a WRITE by Different blocks.
      {"the EEPROM verified", false, true, false, true,
       "--firmware Fw.bin --skip-blank-words --double-read --erase-poll --fast-program --method "
       "diff --yes"},
      {"the EEPROM verified, no flash options", false, true, false, false,
       "--firmware Fw.bin --no-final-check --method diff --yes"},
      // A stop after the final check: a WRITE names at least one memory.
      {"everything verified", true, true, true, false,
       "--firmware Fw.bin --eeprom E.bin --method diff --yes"},
      {"the deco lost", false, false, true, false, "--firmware Fw.bin --eeprom E.bin --method diff --yes",
       protocol::DecoMode::Unknown, "--auto --baud 38400"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    cli::JobOptions options;
    options.port = "/dev/my deco";
    options.baud = "38400";
    options.write = true;
    options.method = "safe";
    options.logFile = "Jo's $run.log";  // as the shell must take it back
    options.reportFile = "run.json";  // the next run's report would replace this one's
    options.verbose = true;
    options.backup = true;  // as the command line sets it
    options.finalCheck = row.finalCheck;
    options.skipBlankWords = options.erasePoll = options.fastProgram = row.flashOptions;
    options.doubleRead = row.flashOptions;
    options.selection.Firmware = options.selection.Eeprom = true;
    transfer::VerifiedMemories verified;
    verified.Flash = row.flashVerified;
    verified.Eeprom = row.eepromVerified;
    protocol::DecoFindings deco;
    deco.Now = row.now;
    EXPECT_EQ(cli::WriteAgainCommand(options, verified, deco),
              "pyrelink-cli --port '/dev/my deco' --log 'Jo'\\''s $run.log' --verbose " +
                  std::string(row.connect) + " write " + row.command);
  }
}

// The ports command: the name first and only what is known after it, on one line; the JSON
// array gives every field (an unknown latency timer as null), and a friendly name that is not
// UTF-8 does not cost the list.
TEST(CliPortsTest, OneLinePerPortAndAJsonArray) {
  const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
  struct Row {
    serial::PortDetails port;
    std::string line;
  } rows[] = {
      {{"/dev/ttyUSB0", "FT232R USB UART", "0403", "6001", "A1B2C3", byId, 16},
       "/dev/ttyUSB0  FT232R USB UART  0403:6001  serial A1B2C3  " + byId +
           "  latency timer 16 ms"},
      {{"/dev/ttyS0", "", "", "", "", "", std::nullopt}, "/dev/ttyS0"},
      {{"COM5", "USB Serial Port (COM5)", "0403", "6001", "", "", 1},
       "COM5  USB Serial Port (COM5)  0403:6001  latency timer 1 ms"},
      {{"COM3", "USB Serial Port (COM3)", "10c4", "ea60", "", "", std::nullopt},
       "COM3  USB Serial Port (COM3)  10c4:ea60"},
  };
  std::vector<serial::PortDetails> ports;
  for (const Row& row : rows) {
    EXPECT_EQ(cli::PortLine(row.port), row.line);
    ports.push_back(row.port);
  }
  ports.back().description = "P\xe9riph\xe9rique";  // Latin-1
  const nlohmann::json list = nlohmann::json::parse(cli::PortsJson(ports));
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0], (nlohmann::json{{"name", "/dev/ttyUSB0"},
                                     {"description", "FT232R USB UART"},
                                     {"vendor", "0403"},
                                     {"product", "6001"},
                                     {"serial", "A1B2C3"},
                                     {"by_id", byId},
                                     {"latency_timer_ms", 16}}));
  EXPECT_EQ(list[1]["by_id"], "");
  EXPECT_TRUE(list[1]["latency_timer_ms"].is_null());
  EXPECT_EQ(list[2]["latency_timer_ms"], 1);
  EXPECT_EQ(list[3]["description"], "P\uFFFDriph\uFFFDrique");
}

TEST(CliBatchTest, EachPortHasItsOwnJobAndTheFaultyOneFailsAlone) {
  // {port} is a clean part of a file name: a stable name under /dev/serial by its last part,
  // nothing outside [A-Za-z0-9._-], no leading '-' or '.', at most 64 characters.
  const std::string byId = "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
  struct {
    std::string port;
    std::string name;
  } names[] = {{"/dev/pts/3", "pts-3"},
               {"/dev/ttyUSB0", "ttyUSB0"},
               {"COM3", "COM3"},
               {"/dev/serial/by-id/" + byId, byId},
               {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0",
                "pci-0000-00-14.0-usb-0-2-1.0-port0"},
               {"/tmp/my decos/deco*1", "tmp-my-decos-deco-1"},
               {"\\\\.\\COM10", "COM10"},
               {"../deco", "deco"}};
  for (const auto& row : names) EXPECT_EQ(cli::PortFileName(row.port), row.name) << row.port;
  // Two long names that differ only at the end stay apart within the limit.
  const std::string longId = "/dev/serial/by-id/usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_"
                             "Controller_0a1b2c3d4e5f60718293a4b5c6d7e8f9-if00-port0";
  const std::string shortened = cli::PortFileName(longId);
  EXPECT_EQ(shortened.size(), 64u);
  EXPECT_EQ(shortened.rfind("usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_", 0), 0u) << shortened;
  EXPECT_NE(shortened, cli::PortFileName(longId.substr(0, longId.size() - 1) + "1"));
  struct Row {
    size_t decos;
    size_t faulty;
    bool write;
    bool oneReport;  // --report without {port}: every port's run in one report
  } rows[] = {{2, 0, false, false}, {8, 5, false, true}, {8, 2, true, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.decos) + (row.write ? " decos, write" : " decos, read"));
    protocol::FastClock clock(testing_support::TestClockDivisor);
    std::vector<std::unique_ptr<sim::PtyDeco>> decos;
    std::vector<std::string> ports;
    for (size_t i = 0; i < row.decos; ++i) {
      sim::Settings settings = testing_support::InService();
      if (i == row.faulty) settings.Fault.DropReplyAt = 11 + 5;  // inside the EEPROM phase
      decos.push_back(std::make_unique<sim::PtyDeco>(settings));
      // Each deco its own EEPROM: a dump from the wrong deco shows.
      decos.back()->Model().SetEeprom(std::vector<uint8_t>(2048, static_cast<uint8_t>(0x10 + i)));
      ports.push_back(decos.back()->SlavePath());
    }
    TempDir dir;
    cli::JobOptions options;
    options.clock = &clock;
    options.service = true;
    options.retries = 0;  // the faulty deco's lost reply ends its job
    options.write = row.write;
    options.method = "safe";
    options.selection.Eeprom = true;
    options.selection.EepromFile = row.write ? dir.File("New.bin") : dir.File("E_{port}.bin");
    options.selection.Channel = !row.write;
    options.selection.ChannelFile = dir.File("Ch_{port}.bin");
    options.reportFile = dir.File(row.oneReport ? "report.json" : "report_{port}.json");
    if (row.write) testing_support::WriteFile(options.selection.EepromFile, std::string(2048, 'W'));
    ASSERT_EQ(cli::BatchRefusal(options, ports, true), "");
    testing_support::MemoryStreams streams;
    std::atomic<bool> interrupted{false};
    EXPECT_EQ(cli::RunBatch(options, ports, interrupted, streams.outFile, streams.errFile),
              cli::ExitJobFailed);
    std::fflush(streams.outFile);
    std::string out(streams.out, streams.outSize);
    for (size_t i = 0; i < row.decos; ++i) {
      const std::string name = cli::PortFileName(ports[i]);
      const bool ok = i != row.faulty;
      std::string eeprom = AsText(decos[i]->Model().Eeprom());
      if (row.write) {
        EXPECT_EQ(eeprom == std::string(2048, 'W'), ok) << name;
      } else {
        EXPECT_EQ(ReadFile(dir.File("E_" + name + ".bin")) == eeprom, ok) << name;
        EXPECT_EQ(ReadFile(dir.File("Ch_" + name + ".bin")) ==
                      AsText(decos[i]->Model().Flash()).substr(0, 524288),
                  ok)
            << name;
      }
      auto report = row.oneReport
                        ? nlohmann::json::parse(ReadFile(dir.File("report.json")))["runs"][i]
                        : nlohmann::json::parse(ReadFile(dir.File("report_" + name + ".json")))["runs"][0];
      EXPECT_EQ(report["port"], ports[i]);
      EXPECT_EQ(report["exit_status"], ok ? 0 : 1);
      // The summary row: port, result, seconds, reason.
      std::string summary = out.substr(out.rfind("\n" + ports[i] + " ") + 1);
      summary = summary.substr(0, summary.find('\n'));
      EXPECT_NE(summary.find(ok ? "done" : "FAILED"), std::string::npos) << summary;
      if (!ok) {
        EXPECT_NE(summary.find("Communication error 9997"), std::string::npos) << summary;
      }
    }
    EXPECT_NE(out.find("[" + cli::PortFileName(ports[0]) + "] OK"), std::string::npos);
  }
}

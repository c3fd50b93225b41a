#include "support/random_fault_run.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "cli/capturing_host.h"
#include "cli/chip_command.h"
#include "cli/cli_job.h"
#include "cli/standby_command.h"
#include "cli/verify_command.h"
#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "sim/deco_model.h"
#include "support/channel_writes.h"
#include "support/files.h"
#include "support/printed_command.h"
#include "support/sim_session.h"
#include "transfer/connection.h"
#include "transfer/final_check.h"
#include "transfer/job_results.h"

namespace testing_support {

namespace {

enum class Kind { Read, Write, Chip, Diagnosis, Verify, Standby };
enum class Memory { Eeprom, Channel, Firmware };
// A lost reply that breaks the first job off: a READ half way (with --retries 0), so that it
// prints its resume command, and before the resume another WRITE may change sector 3 of the
// channel list (ReadThenChanged); a WRITE at the first program cycle after its erase, and then
// each printed follow-up at its connect's first reply (a cable being re-seated).
enum class Cut { None, Read, ReadThenChanged, WriteAfterErase };

struct JobKind {
  const char* name;
  Kind kind;
  Memory memory;
  const char* method = "normal";
  // --erase-poll --fast-program --skip-blank-words
  bool fast = false;
  // A WRITE reads the deco into its backup folder first (no --no-backup).
  bool backup = false;
  // The deco starts in service mode at DiagnosisBaud and the job finds it with --auto.
  bool autoConnect = false;
  Cut cut = Cut::None;
};

// Small jobs, so that a run is quick: the EEPROM, the channel list, and writes of a few sectors.
const JobKind Jobs[] = {
    {"read_eeprom", Kind::Read, Memory::Eeprom},
    {"read_channel", Kind::Read, Memory::Channel},
    {"read_firmware", Kind::Read, Memory::Firmware},
    {"write_eeprom_normal", Kind::Write, Memory::Eeprom, "normal"},
    {"write_eeprom_safe", Kind::Write, Memory::Eeprom, "safe"},
    {"write_eeprom_diff", Kind::Write, Memory::Eeprom, "diff"},
    // The image differs in sector 0 only: an erase and the eight zero words.
    {"write_channel_diff", Kind::Write, Memory::Channel, "diff"},
    // ... and in sector 3, its first block of code, the rest blank.
    {"write_channel_fast", Kind::Write, Memory::Channel, "diff", true},
    {"chip", Kind::Chip, Memory::Firmware},
    // The deco in service mode at another speed than a connect from standby tries.
    {"connect_diagnosis", Kind::Diagnosis, Memory::Eeprom},
    // The deco holds what a WRITE of the image leaves.
    {"verify_channel", Kind::Verify, Memory::Channel},
    {"auto_write_eeprom", Kind::Write, Memory::Eeprom, "safe", false, false, true},
    {"write_eeprom_backup", Kind::Write, Memory::Eeprom, "normal", false, true},
    // Every channel sector erased, the image blank but for sector 3's first block: the backup
    // reads the whole channel list first.
    {"write_channel_backup", Kind::Write, Memory::Channel, "normal", true, true},
    {"read_resume", Kind::Read, Memory::Channel, "normal", false, false, false, Cut::Read},
    {"read_resume_changed", Kind::Read, Memory::Channel, "normal", false, false, false,
     Cut::ReadThenChanged},
    {"write_channel_cut", Kind::Write, Memory::Channel, "diff", false, false, false,
     Cut::WriteAfterErase},
};
constexpr size_t JobCount = sizeof Jobs / sizeof Jobs[0];

// How the deco answers, besides the faults drawn: each in turn for two rounds of seeds (with
// wrong data and without). A spike is a byte with bit 7 set, as a line with a spike on it
// delivers; a restart is a power glitch at the command after the first erase.
enum class Variant { Plain, FixedHead, NoEcho, SpikeBeforeOne, SpikeBeforeEvery, RestartAfterErase };
const char* const VariantNames[] = {"plain", "EEPROM replies begin with a fixed 0610000",
                                    "no echo", "a spike before one reply",
                                    "a spike before every reply", "a restart right after an erase"};
constexpr uint32_t VariantCount = sizeof VariantNames / sizeof VariantNames[0];
constexpr const char* FixedHead = "0610000";
constexpr uint8_t SpikeByte = 0x8D;

Variant VariantOf(uint32_t seed) {
  return static_cast<Variant>(seed / (2 * JobCount) % VariantCount);
}

// What a technician may type after a failure instead of what was printed: one memory verified
// or written, in the mode the deco's display shows; an --auto READ; the standby command.
enum class OwnCommand { VerifyEeprom, WriteEeprom, AutoRead, Standby };
const char* const OwnCommandNames[] = {"verify the EEPROM", "write the EEPROM", "an --auto READ",
                                       "standby"};
constexpr uint32_t OwnCommandCount = sizeof OwnCommandNames / sizeof OwnCommandNames[0];
constexpr const char* OwnFile = "Mine.bin";
// Seeds of one job kind take each command in turn, whatever the variant.
OwnCommand OwnCommandOf(uint32_t seed) {
  return static_cast<OwnCommand>(seed / JobCount % OwnCommandCount);
}

// Faults drawn for one job on average: enough that most runs meet some, few enough that some
// jobs get through them.
constexpr int FaultsPerJob = 2;
// The printed follow-ups run after a failed job, at most.
constexpr int FollowUpsRun = 2;
constexpr double HangBoundSeconds = 60;
constexpr uint32_t EraseTimeMs = 1500;  // the chips' erase, on the test clock
constexpr uint32_t DiagnosisBaud = 38400;
// The latest reply (30 s of line time) has arrived by then.
constexpr int AnsweredWithinMs = 30000 / static_cast<int>(QuickTimeOuts) + 2000;
constexpr uint32_t EepromChanges[] = {0x100, 0x101, 0x6FF};
// What another WRITE does to every byte of sector 3, which a READ broken off half way has read.
constexpr uint8_t ChannelChange = 0x5A;
constexpr const char* EarlierDump = "an earlier dump";
constexpr size_t FaultLinesShown = 12;
constexpr int ThrewExit = -1;
constexpr const char* ProgressLine = "progress ";  // the bar, as a log file gets it
constexpr const char* LeaveService = "100";
constexpr const char* FlashWriteCommand = "0220";
// The last cycle of a sector erase: 30 to both chips at the sector's start.
constexpr size_t EraseLineSize = 20;
constexpr const char* SectorEraseCode = "30";
constexpr const char* MadeLine = "Made ";
const std::string BackupRole = std::string(" (") + transfer::MadeBackupPrefix;
constexpr const char* WriteAgainMark = "write again with: ";
constexpr const char* VerifyFailed = "Verify FAILED";
constexpr const char* BackupNamed = "Backup of the deco before this WRITE: ";

const char* FileOf(Memory memory) {
  return memory == Memory::Eeprom ? "E.bin" : memory == Memory::Channel ? "Ch.bin" : "Fw.bin";
}
const char* OptionOf(Memory memory) {
  return memory == Memory::Eeprom ? "--eeprom" : memory == Memory::Channel ? "--channel" : "--firmware";
}

const std::string& FileIn(const transfer::JobSelection& s, Memory memory) {
  return memory == Memory::Eeprom ? s.EepromFile : memory == Memory::Channel ? s.ChannelFile : s.FirmwareFile;
}

std::string Slice(const std::string& flash, Memory memory) {
  return memory == Memory::Channel ? flash.substr(0, protocol::ChannelImageBytes) : flash;
}

std::string ReadIfThere(const std::string& name) {
  return std::filesystem::is_regular_file(name) ? ReadFile(name) : "";
}

// The flash sectors in which two flash images differ, as "0, 3".
std::string SectorsDiffering(const std::string& a, const std::string& b) {
  std::string sectors;
  for (int s = 0; s < protocol::SectorCount; ++s) {
    const size_t first = protocol::SectorBase[static_cast<size_t>(s)] - protocol::FlashBase;
    if (first >= a.size() || first >= b.size()) break;
    const size_t size = protocol::SectorSize(s);
    if (a.compare(first, size, b, first, size) != 0)
      sectors += (sectors.empty() ? "" : ", ") + std::to_string(s);
  }
  return sectors;
}

// The run's own folder as the working folder, for the files the job makes beside its own.
class InFolder {
 public:
  InFolder() : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.Path());
  }
  ~InFolder() { std::filesystem::current_path(before_); }
  const std::string& Path() const { return dir_.Path(); }

 private:
  TempDir dir_;
  std::filesystem::path before_;
};

// One job of the sequence as it ran.
struct Step {
  int number = 0;      // in the sequence, from 1
  std::string origin;  // the job, a printed follow-up, the READ after
  std::vector<std::string> arguments;
  ParsedJob job;
  int exitCode = ThrewExit;
  std::string err, out, reportError;
  double seconds = 0;
  std::string flashBefore, eepromBefore, flashAfter, eepromAfter;
  std::map<std::string, std::string> filesBefore;  // each memory's file as the job found it
  size_t logFrom = 0, logTo = 0;                   // its commands in the deco's log
  int restartsBefore = 0;  // the deco's power glitches before the step: one during it moves the deco
  bool inServiceBefore = false;  // a deco found in standby (a glitch put it there) may go back
};

// Every fault kind the simulator draws for a seed is switched on here: a kind added to
// sim::RandomFaultSettings is switched on for every sequence by setting its field in this
// function, and nowhere else.
sim::RandomFaultSettings FaultsOfSeed(uint32_t seed) {
  sim::RandomFaultSettings random;
  random.On = true;
  random.Seed = seed;
  // Every other round of seeds leaves wrong data out, so that READs also run without
  // --double-read.
  random.WrongData = (seed / JobCount) % 2 == 0;
  random.TimeDivisor = QuickTimeOuts;
  return random;
}

class Sequence {
 public:
  // once: faults at command numbers of the fault-free run, which strike the first job only.
  Sequence(const JobKind& job, const sim::RandomFaultSettings& random, Variant variant,
           const sim::Faults& once, OwnCommand own);
  // Runs the job, its printed follow-ups and the READ after them; followUps false: the job
  // alone, for a fault-free count of its commands.
  void Run(bool followUps);

  std::vector<std::string> broken;
  std::vector<Step> steps;
  std::vector<std::string> faults;  // what the deco's faults did
  std::vector<std::string> Commands() const { return model_.CommandLog(); }

 private:
  std::vector<std::string> FirstArguments() const;
  Step RunStep(const std::string& origin, const std::vector<std::string>& arguments);
  void CheckStep(const Step& step, bool first);
  void CheckRead(const Step& step, Memory memory);
  void CheckWrite(const Step& step, Memory memory);
  void CheckBackup(const Step& step);
  void CheckVerify(const Step& step, Memory memory);
  // Whether the step ended with the flash proven to hold a known image (a WRITE's final check,
  // a verify), and no "100" went to a deco whose flash was not.
  void CheckLeavingService(const Step& step, bool proves);
  bool CheckPrinted(const FollowUp& followUp);
  void CheckStandby(const Step& step);
  void RunOwnCommand();
  void ReadAfter();
  void Broken(const Step& step, const std::string& rule);

  const JobKind& job_;
  sim::RandomFaultSettings random_;
  OwnCommand own_;
  sim::Faults lasting_;  // the variant's faults that strike every job
  // READs read every block twice: wrong data is among the faults, or the deco's replies carry
  // no echo that tells another EEPROM line's reply from the one asked for.
  bool doubleRead_;
  sim::Settings settings_;
  SimSession session_;
  sim::DecoModel& model_;
  InFolder folder_;
  std::string provenFlash_;  // the flash as last proven whole
  size_t brokenBefore_ = 0;
  std::atomic<bool> interrupted_{false};
};

sim::Faults LastingFaults(Variant variant) {
  sim::Faults faults;
  if (variant == Variant::SpikeBeforeEvery) {
    faults.NoiseBeforeEveryReply = true;
    faults.NoiseByte = SpikeByte;
  }
  return faults;
}

sim::Settings SettingsOf(const JobKind& job, const sim::RandomFaultSettings& random,
                         Variant variant) {
  sim::Settings settings;
  settings.Random = random;
  settings.EchoEepromRead = variant != Variant::FixedHead && variant != Variant::NoEcho;
  if (variant == Variant::FixedHead) settings.EepromHead = FixedHead;
  if (job.fast) settings.EraseTimeMs = EraseTimeMs;
  if (job.kind == Kind::Diagnosis || job.autoConnect) {
    settings.StartInService = true;
    settings.ServiceBaud = DiagnosisBaud;
  }
  return settings;
}

Sequence::Sequence(const JobKind& job, const sim::RandomFaultSettings& random, Variant variant,
                   const sim::Faults& once, OwnCommand own)
    : job_(job),
      random_(random),
      own_(own),
      lasting_(LastingFaults(variant)),
      doubleRead_(random.WrongData || variant == Variant::FixedHead || variant == Variant::NoEcho),
      settings_(SettingsOf(job, random, variant)),
      session_(settings_, QuickTimeOuts),
      model_(session_.deco.Model()) {
  model_.SetFaults(once);
  std::string flash = AsText(model_.Flash());
  const std::string file = FileOf(job.memory);
  std::string eeprom = AsText(model_.Eeprom());
  if (job.kind == Kind::Write && job.memory == Memory::Eeprom) {
    for (uint32_t at : EepromChanges) eeprom[at] = static_cast<char>(~eeprom[at]);
    WriteFile(file, eeprom);
  } else if (job.kind == Kind::Write || job.kind == Kind::Verify) {
    const std::string base =
        job.backup ? std::string(protocol::ChannelImageBytes, '\xFF') : flash;
    std::string image = PromisedChannel(base, job.fast);
    // Sector 0 is only erased by a write: the image's own bytes there never reach the flash.
    image[0x100] = static_cast<char>(image[0x100] ^ 1);
    WriteFile(file, image);
    // The flash as a WRITE of the image leaves it: every sector as written, or, by Different
    // blocks, a sector that equalled the image as it was.
    std::string asWritten = flash, differentBlocks = flash;
    std::istringstream written(image);
    for (int sector = 0; sector <= protocol::LastChannelSector; ++sector) {
      const size_t first = protocol::SectorBase[static_cast<size_t>(sector)] - protocol::FlashBase;
      const size_t size = protocol::SectorSize(sector);
      const std::string bytes = transfer::SectorAsWritten(written, file, sector);
      asWritten.replace(first, size, bytes);
      if (image.compare(first, size, flash, first, size) != 0) differentBlocks.replace(first, size, bytes);
    }
    if (job.kind == Kind::Verify) {
      flash = asWritten;
      model_.SetFlash(std::vector<uint8_t>(asWritten.begin(), asWritten.end()));
    } else {
      for (const std::string* whole : {&asWritten, &differentBlocks})
        model_.AllowAtExit(std::vector<uint8_t>(whole->begin(), whole->end()));
    }
  } else if (job.kind != Kind::Chip) {
    WriteFile(file, EarlierDump);
  }
  provenFlash_ = flash;
}

std::vector<std::string> Sequence::FirstArguments() const {
  std::vector<std::string> a = {"--port", session_.deco.SlavePath()};
  if (job_.autoConnect) a.push_back("--auto");
  if (job_.cut == Cut::Read || job_.cut == Cut::ReadThenChanged)
    a.insert(a.end(), {"--retries", "0"});
  switch (job_.kind) {
    case Kind::Chip:
      a.push_back("chip");
      return a;
    case Kind::Verify: a.push_back("verify"); break;
    case Kind::Write: a.push_back("write"); break;
    default: a.push_back("read");
  }
  a.insert(a.end(), {OptionOf(job_.memory), FileOf(job_.memory)});
  if (job_.kind == Kind::Verify) return a;
  // Only a second read tells a well-formed wrong reply from the true one: of a READ's dump and
  // of a WRITE's backup alike.
  if (doubleRead_ && (job_.kind != Kind::Write || job_.backup)) a.push_back("--double-read");
  if (job_.kind == Kind::Write) {
    a.insert(a.end(), {"--method", job_.method});
    if (job_.fast) a.insert(a.end(), {"--erase-poll", "--fast-program", "--skip-blank-words"});
    if (!job_.backup) a.push_back("--no-backup");
  }
  a.push_back("--yes");
  return a;
}

void Sequence::Broken(const Step& step, const std::string& rule) {
  broken.push_back(rule + " [step " + std::to_string(step.number) + ", " + step.origin + "]");
}

Step Sequence::RunStep(const std::string& origin, const std::vector<std::string>& arguments) {
  Step step;
  step.number = static_cast<int>(steps.size()) + 1;
  step.origin = origin;
  step.arguments = arguments;
  step.job = ParseJob(arguments);
  step.flashBefore = AsText(model_.Flash());
  step.eepromBefore = AsText(model_.Eeprom());
  step.logFrom = static_cast<size_t>(model_.CommandCount());
  step.restartsBefore = model_.Restarts();
  step.inServiceBefore = model_.InService();
  cli::JobOptions options = step.job.Options;
  for (const std::string& name : {options.selection.EepromFile, options.selection.ChannelFile,
                                  options.selection.FirmwareFile})
    if (!name.empty()) step.filesBefore[name] = ReadIfThere(name);
  options.clock = &session_.clock;
  CapturingHost host;
  cli::RunEnd end;
  const auto start = std::chrono::steady_clock::now();
  try {
    const std::string& sub = step.job.Subcommand;
    step.exitCode = sub == "chip"      ? cli::ChipCommand(options, host, interrupted_)
                    : sub == "verify"  ? cli::VerifyCommand(options, host, interrupted_)
                    : sub == "standby" ? cli::StandbyCommand(options, host, interrupted_)
                                       : cli::RunReadOrWrite(options, host, interrupted_, &end);
  } catch (const std::exception& failure) {
    Broken(step, std::string("failure says why: the job threw instead of ending: ") + failure.what());
  }
  step.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  step.err = host.Err();
  step.out = host.Out();
  step.reportError = end.Error;
  step.flashAfter = AsText(model_.Flash());
  step.eepromAfter = AsText(model_.Eeprom());
  step.logTo = static_cast<size_t>(model_.CommandCount());
  return step;
}

void Sequence::Run(bool followUps) {
  const int programsWhileErasing = model_.ProgramsWhileErasing();
  std::vector<std::string> arguments = FirstArguments();
  std::string origin = std::string("the job, ") + job_.name;
  for (int followed = 0;; ++followed) {
    steps.push_back(RunStep(origin, arguments));
    const Step& step = steps.back();
    CheckStep(step, followed == 0);
    // The faults placed by command number strike once.
    model_.SetFaults(lasting_);
    if (!followUps || step.exitCode == 0 || session_.deco.HungUp() || followed == FollowUpsRun) break;
    const FollowUp next = PrintedFollowUp(step.err, step.arguments);
    if (next.Line.empty() || !CheckPrinted(next)) break;
    if (job_.cut == Cut::WriteAfterErase) {
      sim::Faults lost = lasting_;
      lost.DropReplyAt = model_.CommandCount() + 1;
      model_.SetFaults(lost);
    }
    if (followed == 0 && job_.cut == Cut::ReadThenChanged) {
      std::vector<uint8_t> flash = model_.Flash();
      for (size_t i = FastSector; i < FastSector + FastSectorSize; ++i)
        flash[i] = static_cast<uint8_t>(flash[i] ^ ChannelChange);
      model_.SetFlash(flash);
      provenFlash_ = AsText(flash);
    }
    arguments = next.Arguments;
    // "write again", "resume the READ", or the diagnosis's advice.
    const size_t told = next.Line.find(cli::MessagePrefix) == 0 ? std::string(cli::MessagePrefix).size() : 0;
    const size_t with = next.Line.find(" with: ");
    origin = "printed: " + (with == std::string::npos ? std::string("the diagnosis's advice")
                                                      : next.Line.substr(told, with - told));
  }
  if (const int early = model_.ProgramsWhileErasing() - programsWhileErasing)
    broken.push_back("no program cycle before the erase is done: " + std::to_string(early) +
                     " write cycle(s) reached chips still erasing, which ignored them");
  if (followUps && steps.back().exitCode != 0 && !session_.deco.HungUp()) RunOwnCommand();
  if (followUps && !session_.deco.HungUp()) ReadAfter();
  faults = model_.RandomFaultLog();
}

bool Sequence::CheckPrinted(const FollowUp& followUp) {
  const std::string said = "every printed command parses and runs: \"" + followUp.Line + "\"";
  std::string why = followUp.Error;
  if (why.empty()) why = ParseJob(followUp.Arguments).Error;
  if (why.empty()) {
    const std::string refusal = RealCliRefusal(PYRELINK_CLI_PATH, followUp.Arguments, folder_.Path());
    if (!refusal.empty()) why = "pyrelink-cli refuses it: " + refusal;
  }
  if (!why.empty()) {
    broken.push_back(said + ": " + why);
    return false;
  }
  // A WRITE that did not finish leaves the deco in service mode at the speed it ran at.
  const ParsedJob parsed = ParseJob(followUp.Arguments);
  if (followUp.Line.find(WriteAgainMark) != std::string::npos && model_.InService() &&
      parsed.Options.baud != std::to_string(model_.ListenBaud()))
    broken.push_back(said + ": it says --baud " + parsed.Options.baud +
                     " to a deco in service mode at " + std::to_string(model_.ListenBaud()));
  return true;
}

void Sequence::CheckStep(const Step& step, bool first) {
  brokenBefore_ = broken.size();
  const Kind kind = first && job_.kind == Kind::Diagnosis ? Kind::Diagnosis
                    : step.job.Subcommand == "write"      ? Kind::Write
                    : step.job.Subcommand == "verify"     ? Kind::Verify
                    : step.job.Subcommand == "chip"       ? Kind::Chip
                    : step.job.Subcommand == "standby"    ? Kind::Standby
                                                          : Kind::Read;
  const int exitCode = step.exitCode;
  const bool ended = exitCode != 0 && exitCode != ThrewExit;
  if (!step.job.Error.empty()) Broken(step, "every printed command parses and runs: " + step.job.Error);
  if (step.seconds > HangBoundSeconds)
    Broken(step, "no hang: the job took " + std::to_string(step.seconds) + " s");
  // verify lists what differs among its log lines.
  if (ended && step.err.find(cli::MessagePrefix) == std::string::npos &&
      (kind != Kind::Verify || step.out.find(VerifyFailed) == std::string::npos))
    Broken(step, "failure says why: exit " + std::to_string(exitCode) + " with nothing on stderr");
  if (ended && kind != Kind::Chip && kind != Kind::Verify && kind != Kind::Standby &&
      step.reportError.empty())
    Broken(step, "failure says why: exit " + std::to_string(exitCode) + " but the report names no error");
  const bool memoryKept =
      step.flashAfter == step.flashBefore && step.eepromAfter == step.eepromBefore;
  const transfer::JobSelection& s = step.job.Options.selection;
  const Memory memory = s.Eeprom ? Memory::Eeprom : s.Channel ? Memory::Channel : Memory::Firmware;
  switch (kind) {
    case Kind::Read:
      CheckRead(step, memory);
      if (!memoryKept) Broken(step, "a READ changes nothing: the deco's memory changed");
      break;
    case Kind::Write:
      CheckWrite(step, memory);
      break;
    case Kind::Verify:
      CheckVerify(step, memory);
      if (!memoryKept) Broken(step, "a verify changes nothing: the deco's memory changed");
      break;
    case Kind::Chip: {
      char codes[64];
      std::snprintf(codes, sizeof codes, "flash chip: manufacturer %02X, device %04X",
                    settings_.Chip.Manufacturer, settings_.Chip.Device);
      for (const char* chip : {"Lower ", "Upper "}) {
        if (exitCode == 0 && step.out.find(chip + std::string(codes)) == std::string::npos)
          Broken(step, std::string("exit 0 only when true: exit 0 without \"") + chip + codes + "\"");
      }
      if (!memoryKept) Broken(step, "chip changes nothing: the deco's memory changed");
      break;
    }
    case Kind::Diagnosis: {
      if (exitCode == 0) Broken(step, "exit 0 only when true: a connect from standby succeeded at a deco in service mode");
      const std::string speed = "in service mode at " + std::to_string(DiagnosisBaud);
      if (step.err.find("the deco answers") != std::string::npos && step.err.find(speed) == std::string::npos)
        Broken(step, "the diagnosis tells the truth: it did not say the deco answers " + speed);
      if (!session_.deco.HungUp() && model_.Restarts() == step.restartsBefore &&
          (!model_.InService() || model_.ListenBaud() != DiagnosisBaud))
        Broken(step, "the diagnosis leaves the deco as found: it left service mode at " +
                         std::to_string(DiagnosisBaud));
      if (!memoryKept) Broken(step, "a diagnosis changes nothing: the deco's memory changed");
      break;
    }
    case Kind::Standby:
      CheckStandby(step);
      if (!memoryKept) Broken(step, "standby changes nothing: the deco's memory changed");
      break;
  }
  const bool checkedTrue = broken.size() == brokenBefore_;
  const bool proves = exitCode == 0 && checkedTrue && memory != Memory::Eeprom &&
                      (kind == Kind::Verify || (kind == Kind::Write && step.job.Options.finalCheck));
  CheckLeavingService(step, proves);
  // The final check proves what the WRITE wrote, whatever its backup holds.
  if (kind == Kind::Write) CheckBackup(step);
}

void Sequence::CheckRead(const Step& step, Memory memory) {
  const std::string& file = FileIn(step.job.Options.selection, memory);
  const std::string dump = ReadIfThere(file);
  const std::string now =
      memory == Memory::Eeprom ? step.eepromAfter : Slice(step.flashAfter, memory);
  if (step.exitCode == 0 && dump != now)
    Broken(step, "exit 0 only when true: exit 0 with a dump unlike the deco" +
                     (memory == Memory::Eeprom ? std::string()
                                               : " (sector(s) " + SectorsDiffering(dump, now) + ")"));
  if (step.exitCode != 0 && dump != now && dump != step.filesBefore.at(file))
    Broken(step, "no half file: the dump is neither complete nor the earlier one");
}

void Sequence::CheckWrite(const Step& step, Memory memory) {
  const std::string& flash = step.flashAfter;
  const std::string& before = step.flashBefore;
  if (memory == Memory::Eeprom) {
    if (flash != before) Broken(step, "a WRITE touches only its memory: an EEPROM write changed the flash");
    if (step.exitCode == 0 && step.eepromAfter != step.filesBefore.at(FileIn(step.job.Options.selection, memory)))
      Broken(step, "exit 0 only when true: exit 0 with the EEPROM unlike the file");
    return;
  }
  // By the WRITE's rule: a sector it wrote holds the image's bytes, or below the first
  // programmed sector erased flash with the zero words at the start; a Different blocks WRITE
  // leaves a sector whose flash equals the image as it was.
  const std::string& file = FileIn(step.job.Options.selection, memory);
  const std::string image = step.filesBefore.at(file);
  std::istringstream imageStream(image);
  // A wrong reply to the comparison's single read may make a sector look different.
  bool wrongDataStruck = false;
  for (const std::string& fault : model_.RandomFaultLog())
    wrongDataStruck = wrongDataStruck || fault.find(sim::WrongDataNote) != std::string::npos;
  for (int sector = 0; sector <= protocol::LastChannelSector; ++sector) {
    const size_t first = protocol::SectorBase[static_cast<size_t>(sector)] - protocol::FlashBase;
    const size_t size = protocol::SectorSize(sector);
    const std::string now = flash.substr(first, size);
    const bool equalBefore = image.substr(first, size) == before.substr(first, size);
    const bool kept = now == before.substr(first, size);
    if (equalBefore && !kept && step.job.Options.method == "diff" && !wrongDataStruck)
      Broken(step, "a Different blocks WRITE writes only what differs: it changed sector " +
                       std::to_string(sector) + ", whose flash equalled the image");
    if (step.exitCode == 0 && !(kept && equalBefore) &&
        now != transfer::SectorAsWritten(imageStream, file, sector))
      Broken(step, "exit 0 only when true: exit 0 with sector " + std::to_string(sector) +
                       " unlike what the WRITE promises");
  }
  const size_t beyond = protocol::SectorBase[protocol::LastChannelSector + 1] - protocol::FlashBase;
  if (flash.substr(beyond) != before.substr(beyond))
    Broken(step, "a WRITE touches only its memory: the flash beyond the channel list changed");
  if (step.eepromAfter != step.eepromBefore)
    Broken(step, "a WRITE touches only its memory: a flash write changed the EEPROM");
}

// Every file named a backup ("Made NAME (backup MEMORY).") holds that memory as the deco held it
// before the WRITE: an incomplete one is never named as a backup.
void Sequence::CheckBackup(const Step& step) {
  std::istringstream lines(step.out + step.err);
  for (std::string line; std::getline(lines, line);) {
    const size_t made = line.find(MadeLine), role = line.find(BackupRole);
    if (made == std::string::npos || role == std::string::npos || role < made) continue;
    const std::string name = line.substr(made + std::string(MadeLine).size(),
                                         role - made - std::string(MadeLine).size());
    const std::string memory = line.substr(role + BackupRole.size(),
                                           line.find(')', role) - role - BackupRole.size());
    const std::string held = memory == "eeprom"  ? step.eepromBefore
                             : memory == "channel" ? Slice(step.flashBefore, Memory::Channel)
                                                   : step.flashBefore;
    const std::string backup = ReadIfThere(name);
    if (backup.size() != held.size())
      Broken(step, "a backup named is whole: " + name + " holds " + std::to_string(backup.size()) +
                       " of " + std::to_string(held.size()) + " bytes");
    else if (backup != held)
      Broken(step, "a backup named is the deco as it was: " + name + " differs from the " +
                       memory + " before the WRITE");
  }
}

void Sequence::CheckVerify(const Step& step, Memory memory) {
  const std::string& file = FileIn(step.job.Options.selection, memory);
  std::istringstream image(step.filesBefore.at(file));
  std::string differing;
  if (memory == Memory::Eeprom && image.str() != step.eepromAfter) differing = " of the EEPROM";
  for (int sector = 0; memory == Memory::Channel && sector <= protocol::LastChannelSector; ++sector) {
    const size_t first = protocol::SectorBase[static_cast<size_t>(sector)] - protocol::FlashBase;
    if (step.flashAfter.substr(first, protocol::SectorSize(sector)) !=
        transfer::SectorAsWritten(image, file, sector))
      differing += " " + std::to_string(sector);
  }
  if (step.exitCode == 0 && !differing.empty())
    Broken(step, "exit 0 only when true: verify passed a deco that differs in" +
                     std::string(memory == Memory::Eeprom ? "" : " sector(s)") + differing);
  if (differing.empty() && step.out.find(VerifyFailed) != std::string::npos)
    Broken(step, "verify tells the truth: it reported a difference the deco does not hold");
}

void Sequence::CheckLeavingService(const Step& step, bool proves) {
  if (proves) provenFlash_ = step.flashAfter;
  // The standby command sends the exit on the user's word, whatever the flash holds.
  if (step.job.Subcommand == "standby") return;
  for (const sim::DecoModel::HalfWrittenExit& exit : model_.HalfWrittenExits())
    if (exit.Number > static_cast<int>(step.logFrom) && exit.Number <= static_cast<int>(step.logTo))
      Broken(step, "the deco's own view: \"100\" (command " + std::to_string(exit.Number) +
                       ") sent it to standby with its flash half written: sector(s) " +
                       exit.Sectors + " hold neither what they held nor a file as written");
  const std::vector<std::string> log = model_.CommandLog();
  // Commands in the deco's log are the ones it heard; after its "100" nothing more of the job
  // reaches a deco in standby, so a flash write before it shows in the flash after the job.
  bool wrote = false;
  for (size_t i = step.logFrom; i < step.logTo && i < log.size(); ++i) {
    wrote = wrote || log[i].rfind(FlashWriteCommand, 0) == 0;
    // A run that found the deco in standby and changed nothing puts it back where it was.
    if (log[i] != LeaveService || (!step.inServiceBefore && step.flashAfter == step.flashBefore))
      continue;
    const std::string& flash = wrote ? step.flashAfter : step.flashBefore;
    if (flash != provenFlash_)
      Broken(step, "no \"100\" reaches a deco whose flash is not proven whole: \"100\" went to a "
                   "deco whose flash differs from the image last proven in sector(s) " +
                       SectorsDiffering(flash, provenFlash_));
  }
}

// The deco reachable afterwards: faults off, once the line is quiet, a clean READ at the mode
// and speed the deco is left in, as the technician sees it on its display; of the channel list
// when the chips may have been left in a chip mode, which the next flash job must leave.
// The standby command ends exit 0 only with the deco in standby, and says first what a
// half-written flash risks there.
void Sequence::CheckStandby(const Step& step) {
  if (step.exitCode == 0 && model_.InService())
    Broken(step, "exit 0 only when true: standby exit 0 with the deco still in service mode");
  if (step.err.find(transfer::HalfWrittenFlashRisk) == std::string::npos)
    Broken(step, "standby says what it risks: no word of a half-written flash");
}

// After a failure and its follow-ups, the technician's own command on the same line.
void Sequence::RunOwnCommand() {
  std::vector<std::string> a = {"--port", session_.deco.SlavePath()};
  if (own_ == OwnCommand::AutoRead || own_ == OwnCommand::Standby)
    a.push_back("--auto");
  else if (model_.InService())
    a.insert(a.end(), {"--service", "--baud", std::to_string(model_.ListenBaud())});
  std::string eeprom = AsText(model_.Eeprom());
  switch (own_) {
    case OwnCommand::VerifyEeprom:
      WriteFile(OwnFile, eeprom);
      a.insert(a.end(), {"verify", "--eeprom", OwnFile});
      break;
    case OwnCommand::WriteEeprom:
      eeprom[EepromChanges[0]] = static_cast<char>(~eeprom[EepromChanges[0]]);
      WriteFile(OwnFile, eeprom);
      a.insert(a.end(), {"write", "--eeprom", OwnFile, "--no-backup", "--yes"});
      break;
    case OwnCommand::AutoRead:
      a.insert(a.end(), {"read", "--eeprom", OwnFile, "--yes"});
      if (doubleRead_) a.push_back("--double-read");
      break;
    case OwnCommand::Standby:
      a.insert(a.end(), {"standby", "--yes"});
      break;
  }
  steps.push_back(RunStep(std::string("the technician's own: ") +
                              OwnCommandNames[static_cast<size_t>(own_)], a));
  CheckStep(steps.back(), false);
  model_.SetFaults(lasting_);
}

void Sequence::ReadAfter() {
  model_.StopRandomFaults();
  model_.SetFaults(sim::Faults{});
  session_.deco.WaitAnswered(AnsweredWithinMs);
  const bool flashToo = job_.memory != Memory::Eeprom ||
                        sim::RandomFaults(random_).StartMode() != sim::StartChipMode::ReadingArray;
  std::vector<std::string> arguments = {"--port", session_.deco.SlavePath()};
  if (model_.InService())
    arguments.insert(arguments.end(), {"--service", "--baud", std::to_string(model_.ListenBaud())});
  arguments.insert(arguments.end(), {"read", flashToo ? "--channel" : "--eeprom",
                                     flashToo ? "AfterCh.bin" : "After.bin", "--yes"});
  const int readsInBypass = model_.ReadsInBypass();
  steps.push_back(RunStep("the READ after", arguments));
  const Step& step = steps.back();
  const std::string what = flashToo ? "channel list" : "EEPROM";
  if (step.exitCode != 0)
    Broken(step, "the deco reachable afterwards: a clean " + what + " READ failed: " + step.err);
  else if (!flashToo && ReadFile("After.bin") != step.eepromAfter)
    Broken(step, "the deco reachable afterwards: a clean EEPROM READ read false data");
  else if (flashToo && ReadFile("AfterCh.bin") != Slice(step.flashAfter, Memory::Channel))
    Broken(step, "chips left reading: a clean flash READ afterwards read other than the flash");
  if (flashToo && model_.ReadsInBypass() != readsInBypass)
    Broken(step, "chips left reading: a clean flash READ afterwards read in unlock bypass");
  CheckLeavingService(step, false);
}

// The job's commands in a fault-free run, for the fault rate that gives it about FaultsPerJob
// faults and for where a cut strikes.
const std::vector<std::string>& FaultFreeCommands(const JobKind& job, bool wrongData,
                                                  std::vector<std::string>& broken) {
  static std::map<std::pair<std::string, bool>, std::pair<std::vector<std::string>, std::vector<std::string>>> probes;
  // Wrong data changes the commands of a READ only, which then reads every block twice.
  auto key = std::make_pair(std::string(job.name), wrongData && job.kind == Kind::Read);
  auto found = probes.find(key);
  if (found == probes.end()) {
    sim::RandomFaultSettings off;
    off.WrongData = wrongData;
    Sequence probe(job, off, Variant::Plain, sim::Faults{}, OwnCommand::AutoRead);
    probe.Run(false);
    found = probes.emplace(key, std::make_pair(probe.Commands(), probe.broken)).first;
  }
  for (const std::string& rule : found->second.second) broken.push_back("without faults: " + rule);
  return found->second.first;
}

// The command after the first sector erase's last cycle (counted from 1), or 0.
int AfterFirstErase(const std::vector<std::string>& commands) {
  for (size_t i = 0; i + 1 < commands.size(); ++i)
    if (commands[i].rfind(FlashWriteCommand, 0) == 0 && commands[i].size() == EraseLineSize &&
        commands[i].compare(EraseLineSize - 2, 2, SectorEraseCode) == 0)
      return static_cast<int>(i) + 2;
  return 0;
}

// The command whose reply the cut loses (counted from 1), or 0.
int CutAt(const JobKind& job, const std::vector<std::string>& commands) {
  if (job.cut == Cut::None) return 0;
  if (job.cut != Cut::WriteAfterErase) return static_cast<int>(commands.size() / 2);
  return AfterFirstErase(commands);
}

// The faults of the first job: the cut, and the variant's, at their commands.
sim::Faults FirstJobFaults(const JobKind& job, Variant variant,
                           const std::vector<std::string>& commands) {
  sim::Faults faults = LastingFaults(variant);
  faults.DropReplyAt = CutAt(job, commands);
  if (variant == Variant::SpikeBeforeOne) {
    faults.NoiseBeforeReplyAt = static_cast<int>(commands.size() / 3) + 1;
    faults.NoiseByte = SpikeByte;
  }
  if (variant == Variant::RestartAfterErase) faults.RestartAt = AfterFirstErase(commands);
  return faults;
}

}  // namespace

const std::vector<std::string>& RandomJobNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (const JobKind& job : Jobs) all.push_back(job.name);
    return all;
  }();
  return names;
}

RandomRun RunRandomFaultJob(uint32_t seed) {
  const JobKind& job = Jobs[seed % JobCount];
  RandomRun run;
  run.Seed = seed;
  run.Job = job.name;
  const Variant variant = VariantOf(seed);
  const OwnCommand own = OwnCommandOf(seed);
  run.Deco = VariantNames[static_cast<size_t>(variant)];
  run.OwnCommand = OwnCommandNames[static_cast<size_t>(own)];
  sim::RandomFaultSettings random = FaultsOfSeed(seed);
  const std::vector<std::string>& commands = FaultFreeCommands(job, random.WrongData, run.Broken);
  random.FaultEvery = std::max(1, static_cast<int>(commands.size()) / FaultsPerJob);
  const auto start = std::chrono::steady_clock::now();
  Sequence sequence(job, random, variant, FirstJobFaults(job, variant, commands), own);
  sequence.Run(true);
  run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.ExitCode = sequence.steps.front().exitCode;
  run.Faults = sequence.faults;
  run.Broken.insert(run.Broken.end(), sequence.broken.begin(), sequence.broken.end());
  for (const Step& step : sequence.steps) {
    run.Steps.push_back(step.origin + ": " + CommandText(step.arguments) + " -> exit " +
                        std::to_string(step.exitCode));
    run.Said += "  [" + step.origin + "]\n" + step.err;
    // The log lines that name a backup or a verify's verdict, which the rules look at.
    std::istringstream lines(step.out);
    for (std::string line; std::getline(lines, line);)
      if (line.find(BackupRole) != std::string::npos || line.rfind(BackupNamed, 0) == 0 ||
          line.rfind(VerifyFailed, 0) == 0)
        run.Said += line + "\n";
  }
  return run;
}

std::string Describe(const RandomRun& run) {
  const std::string who = "seed " + std::to_string(run.Seed) + ", " + run.Job;
  std::string text;
  for (const std::string& rule : run.Broken) text += who + ": " + rule + "\n";
  text += "  deco: " + run.Deco + "; after a failure: " + run.OwnCommand + "\n  steps:\n";
  for (const std::string& step : run.Steps) text += "    " + step + "\n";
  text += "  faults:" + std::string(run.Faults.empty() ? " none" : "") + "\n";
  for (size_t i = 0; i < run.Faults.size() && i < FaultLinesShown; ++i)
    text += "    " + run.Faults[i] + "\n";
  if (run.Faults.size() > FaultLinesShown)
    text += "    ... and " + std::to_string(run.Faults.size() - FaultLinesShown) + " more\n";
  if (!run.Said.empty()) {
    text += "  said:\n";
    std::istringstream lines(run.Said);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(ProgressLine, 0) != 0) text += "    " + line + "\n";
    }
  }
  return text;
}

}  // namespace testing_support

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
#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "sim/deco_model.h"
#include "support/files.h"
#include "transfer/final_check.h"
#include "support/channel_writes.h"
#include "support/sim_session.h"

namespace testing_support {

namespace {

using testing_support::FastCodeBytes;
using testing_support::FastSector;
using testing_support::FastSectorSize;
using testing_support::Sector0Size;
using testing_support::ZeroBytesAtStart;

enum class Kind { Read, Write, Chip, Diagnosis };
enum class Memory { Eeprom, Channel, Firmware };

struct JobKind {
  const char* name;
  Kind kind;
  Memory memory;
  const char* method = "normal";
  // --erase-poll --fast-program --skip-blank-words
  bool fast = false;
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
};
constexpr size_t JobCount = sizeof Jobs / sizeof Jobs[0];

// Faults drawn for one job on average: enough that most runs meet some, few enough that some
// jobs get through them.
constexpr int FaultsPerJob = 2;
constexpr double HangBoundSeconds = 60;
constexpr uint32_t EraseTimeMs = 1500;  // the chips' erase, on the test clock
constexpr uint32_t DiagnosisBaud = 38400;
// The latest reply (30 s of line time) has arrived by then.
constexpr int AnsweredWithinMs = 30000 / static_cast<int>(QuickTimeOuts) + 2000;
constexpr uint32_t EepromChanges[] = {0x100, 0x101, 0x6FF};
constexpr const char* EarlierDump = "an earlier dump";
constexpr size_t FaultLinesShown = 12;
constexpr int ThrewExit = -1;
constexpr const char* ProgressLine = "progress ";  // the bar, as a log file gets it  // the job's exception reached its caller

bool TouchesFlash(const JobKind& job) { return job.memory != Memory::Eeprom; }

std::string Slice(const std::string& flash, Memory memory) {
  return memory == Memory::Channel ? flash.substr(0, protocol::ChannelImageBytes) : flash;
}

// The run's own folder as the working folder, for the files the job makes beside its own.
class InFolder {
 public:
  InFolder() : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.Path());
  }
  ~InFolder() { std::filesystem::current_path(before_); }

 private:
  TempDir dir_;
  std::filesystem::path before_;
};

struct Checked {
  std::vector<std::string> broken;
  int commands = 0;  // the job's commands, the follow-up left out
  int exitCode = 0;
  double seconds = 0;
  std::vector<std::string> faults;
  std::string said;  // the job's messages
};

// followUp: a clean job after it, which a fault-free probe needs not.
Checked RunAndCheck(const JobKind& job, const sim::RandomFaultSettings& random, bool followUp) {
  sim::Settings settings;
  settings.Random = random;
  if (job.fast) settings.EraseTimeMs = EraseTimeMs;
  if (job.kind == Kind::Diagnosis) {
    settings.StartInService = true;
    settings.ServiceBaud = DiagnosisBaud;
  }
  SimSession session(settings, QuickTimeOuts);
  InFolder folder;
  Checked checked;
  auto broken = [&](const std::string& text) { checked.broken.push_back(text); };
  sim::DecoModel& model = session.deco.Model();
  const std::string flashBefore = AsText(model.Flash());
  const std::string eepromBefore = AsText(model.Eeprom());

  cli::JobOptions options;
  options.port = session.deco.SlavePath();
  options.clock = &session.clock;
  options.write = job.kind == Kind::Write;
  options.method = job.method;
  // Only a second read tells a well-formed wrong reply from the true one.
  options.doubleRead = job.kind == Kind::Read && random.WrongData;
  transfer::JobSelection& s = options.selection;
  std::string file;
  std::string promised;  // what a WRITE leaves in its memory
  if (job.memory == Memory::Eeprom) {
    s.Eeprom = true;
    file = s.EepromFile = "E.bin";
    promised = eepromBefore;
    for (uint32_t at : EepromChanges) promised[at] = static_cast<char>(~promised[at]);
  } else if (job.memory == Memory::Channel) {
    s.Channel = true;
    file = s.ChannelFile = "Ch.bin";
    promised = testing_support::PromisedChannel(flashBefore, job.fast);
    if (job.fast) {
      options.erasePoll = options.fastProgram = options.skipBlankWords = true;
    }
  } else {
    s.Firmware = true;
    file = s.FirmwareFile = "Fw.bin";
  }
  std::string image;  // what a WRITE is given
  if (job.kind == Kind::Write) {
    image = promised;
    // Sector 0 is only erased by a write: the image's own bytes there never reach the flash.
    if (job.memory == Memory::Channel) image[0x100] = static_cast<char>(image[0x100] ^ 1);
    WriteFile(file, image);
  } else if (job.kind != Kind::Chip) {
    WriteFile(file, EarlierDump);
  }

  CapturingHost host;
  std::atomic<bool> interrupted{false};
  cli::RunEnd end;
  const auto start = std::chrono::steady_clock::now();
  int exitCode = ThrewExit;
  try {
    exitCode = job.kind == Kind::Chip ? cli::ChipCommand(options, host, interrupted)
                                      : cli::RunReadOrWrite(options, host, interrupted, &end);
  } catch (const std::exception& failure) {
    broken(std::string("failure says why: the job threw instead of ending: ") + failure.what());
  }
  checked.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  checked.commands = model.CommandCount();
  checked.exitCode = exitCode;
  const std::string err = host.Err();
  const std::string out = host.Out();
  checked.said = err;

  if (checked.seconds > HangBoundSeconds)
    broken("no hang: the job took " + std::to_string(checked.seconds) + " s");
  if (exitCode != 0 && exitCode != ThrewExit && err.find(cli::MessagePrefix) == std::string::npos)
    broken("failure says why: exit " + std::to_string(exitCode) + " with nothing on stderr");
  if (exitCode != 0 && exitCode != ThrewExit && job.kind != Kind::Chip && end.Error.empty())
    broken("failure says why: exit " + std::to_string(exitCode) + " but the report names no error");

  const std::string flash = AsText(model.Flash());
  const std::string eeprom = AsText(model.Eeprom());
  if (const int early = model.ProgramsWhileErasing())
    broken("no program cycle before the erase is done: " + std::to_string(early) +
           " write cycle(s) reached chips still erasing, which ignored them");
  const bool memoryKept = flash == flashBefore && eeprom == eepromBefore;
  switch (job.kind) {
    case Kind::Read: {
      const std::string dump = ReadFile(file);
      const std::string memory = job.memory == Memory::Eeprom ? eeprom : Slice(flash, job.memory);
      if (exitCode == 0 && dump != memory) broken("exit 0 only when true: exit 0 with a dump unlike the deco");
      if (exitCode != 0 && dump != memory && dump != EarlierDump)
        broken("no half file: the dump is neither complete nor the earlier one");
      if (!memoryKept) broken("a READ changes nothing: the deco's memory changed");
      break;
    }
    case Kind::Write:
      if (job.memory == Memory::Eeprom) {
        if (flash != flashBefore) broken("a WRITE touches only its memory: an EEPROM write changed the flash");
        if (exitCode == 0 && eeprom != promised)
          broken("exit 0 only when true: exit 0 with the EEPROM unlike the file");
      } else {
        // By the WRITE's rule: a sector it wrote holds the image's bytes, or below the first
        // programmed sector erased flash with the zero words at the start; a Different blocks
        // WRITE leaves a sector whose flash equals the image as it was.
        std::istringstream imageStream(image);
        // A wrong reply to the comparison's single read may make a sector look different.
        bool wrongDataStruck = false;
        for (const std::string& fault : model.RandomFaultLog())
          wrongDataStruck = wrongDataStruck || fault.find(sim::WrongDataNote) != std::string::npos;
        for (int sector = 0; sector <= protocol::LastChannelSector; ++sector) {
          const size_t first = protocol::SectorBase[static_cast<size_t>(sector)] - protocol::FlashBase;
          const size_t size = protocol::SectorSize(sector);
          const std::string now = flash.substr(first, size);
          const bool equalBefore = image.substr(first, size) == flashBefore.substr(first, size);
          const bool kept = now == flashBefore.substr(first, size);
          if (equalBefore && !kept && std::string(job.method) == "diff" && !wrongDataStruck)
            broken("a Different blocks WRITE writes only what differs: it changed sector " +
                   std::to_string(sector) + ", whose flash equalled the image");
          if (exitCode == 0 && !(kept && equalBefore) &&
              now != transfer::SectorAsWritten(imageStream, file, sector))
            broken("exit 0 only when true: exit 0 with sector " + std::to_string(sector) +
                   " unlike what the WRITE promises");
        }
        const size_t beyond = protocol::SectorBase[protocol::LastChannelSector + 1] - protocol::FlashBase;
        if (flash.substr(beyond) != flashBefore.substr(beyond))
          broken("a WRITE touches only its memory: the flash beyond the channel list changed");
        if (eeprom != eepromBefore) broken("a WRITE touches only its memory: a flash write changed the EEPROM");
      }
      break;
    case Kind::Chip: {
      char codes[64];
      std::snprintf(codes, sizeof codes, "flash chip: manufacturer %02X, device %04X",
                    settings.Chip.Manufacturer, settings.Chip.Device);
      for (const char* chip : {"Lower ", "Upper "}) {
        if (exitCode == 0 && out.find(chip + std::string(codes)) == std::string::npos)
          broken(std::string("exit 0 only when true: exit 0 without \"") + chip + codes + "\"");
      }
      if (!memoryKept) broken("chip changes nothing: the deco's memory changed");
      break;
    }
    case Kind::Diagnosis: {
      if (exitCode == 0) broken("exit 0 only when true: a connect from standby succeeded at a deco in service mode");
      const std::string speed = "in service mode at " + std::to_string(DiagnosisBaud);
      if (err.find("the deco answers") != std::string::npos && err.find(speed) == std::string::npos)
        broken("the diagnosis tells the truth: it did not say the deco answers " + speed);
      if (!session.deco.HungUp() && (!model.InService() || model.ListenBaud() != DiagnosisBaud))
        broken("the diagnosis leaves the deco as found: it left service mode at " +
               std::to_string(DiagnosisBaud));
      if (!memoryKept) broken("a diagnosis changes nothing: the deco's memory changed");
      break;
    }
  }

  // The deco reachable afterwards: faults off, once the line is quiet, a clean READ at the mode
  // and speed the deco is left in; of the channel list when the chips may have been left in a
  // chip mode, which the next flash job must leave. A closed line is a cable pulled: nothing
  // more to try.
  if (followUp && !session.deco.HungUp()) {
    model.StopRandomFaults();
    session.deco.WaitAnswered(AnsweredWithinMs);
    const bool flashToo = TouchesFlash(job) || sim::RandomFaults(random).StartMode() !=
                                                   sim::StartChipMode::ReadingArray;
    cli::JobOptions again;
    again.clock = &session.clock;
    again.port = options.port;
    again.service = model.InService();
    if (again.service) again.baud = std::to_string(model.ListenBaud());
    again.selection.Eeprom = !flashToo;
    again.selection.Channel = flashToo;
    again.selection.EepromFile = "After.bin";
    again.selection.ChannelFile = "AfterCh.bin";
    CapturingHost afterHost;
    const int readsInBypass = model.ReadsInBypass();
    const std::string what = flashToo ? "channel list" : "EEPROM";
    int afterExit = ThrewExit;
    try {
      afterExit = cli::RunReadOrWrite(again, afterHost, interrupted);
    } catch (const std::exception& failure) {
      afterHost.Tell(std::string("threw: ") + failure.what());
    }
    if (afterExit != 0)
      broken("the deco reachable afterwards: a clean " + what + " READ failed: " + afterHost.Err());
    else if (!flashToo && ReadFile("After.bin") != AsText(model.Eeprom()))
      broken("the deco reachable afterwards: a clean EEPROM READ read false data");
    else if (flashToo && ReadFile("AfterCh.bin") != Slice(AsText(model.Flash()), Memory::Channel))
      broken("chips left reading: a clean flash READ afterwards read other than the flash");
    if (flashToo && model.ReadsInBypass() != readsInBypass)
      broken("chips left reading: a clean flash READ afterwards read in unlock bypass");
  }
  checked.faults = model.RandomFaultLog();
  return checked;
}

// The fault rate that gives a job about FaultsPerJob faults: its commands in a fault-free run.
int FaultEveryFor(const JobKind& job, bool wrongData, std::vector<std::string>& broken) {
  static std::map<std::pair<std::string, bool>, Checked> probes;
  // Wrong data changes the commands of a READ only, which then reads every block twice.
  auto key = std::make_pair(std::string(job.name), wrongData && job.kind == Kind::Read);
  auto found = probes.find(key);
  if (found == probes.end()) {
    sim::RandomFaultSettings off;
    off.WrongData = wrongData;
    found = probes.emplace(key, RunAndCheck(job, off, false)).first;
  }
  for (const std::string& rule : found->second.broken) broken.push_back("without faults: " + rule);
  return std::max(1, found->second.commands / FaultsPerJob);
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
  sim::RandomFaultSettings random;
  random.On = true;
  random.Seed = seed;
  // Every other round of seeds leaves wrong data out, so that READs also run without
  // --double-read.
  random.WrongData = (seed / JobCount) % 2 == 0;
  random.TimeDivisor = QuickTimeOuts;
  random.FaultEvery = FaultEveryFor(job, random.WrongData, run.Broken);
  Checked checked = RunAndCheck(job, random, true);
  run.ExitCode = checked.exitCode;
  run.Seconds = checked.seconds;
  run.Broken.insert(run.Broken.end(), checked.broken.begin(), checked.broken.end());
  run.Faults = checked.faults;
  run.Said = checked.said;
  return run;
}

std::string Describe(const RandomRun& run) {
  const std::string who = "seed " + std::to_string(run.Seed) + ", " + run.Job;
  std::string text;
  for (const std::string& rule : run.Broken) text += who + ": " + rule + "\n";
  text += "  exit " + std::to_string(run.ExitCode) + "; faults:" + (run.Faults.empty() ? " none" : "") + "\n";
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

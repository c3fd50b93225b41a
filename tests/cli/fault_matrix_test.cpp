// Every fault of the simulated deco at the start, middle and end of every phase of the jobs the
// command line runs. Each cell checks what a technician relies on: a dump is complete and equal
// to the deco or the run says it failed; a write touches nothing it does not program from the
// file and never ends in success with the flash other than it promises; nothing hangs; and a
// second job on the same deco reads true data.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "capturing_host.h"
#include "cli/cli_job.h"
#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "protocol/transaction.h"
#include "sim/deco_model.h"
#include "support/channel_writes.h"
#include "support/sim_session.h"

using testing_support::AsText;
using testing_support::CapturingHost;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

using testing_support::FastCodeBytes;
using testing_support::FastSector;
using testing_support::FastSectorSize;
using testing_support::Sector0Size;
using testing_support::ZeroBytesAtStart;

// Reply time-outs last a fifth of their length here: a missing reply costs 400 ms, not 2 s,
// which still leaves a loaded machine (sanitizers, tests beside) time for every real reply.
constexpr unsigned TimeoutDivisor = 5;
constexpr int FirstByteWaitMs = protocol::FirstByteTimeoutFactor * protocol::StandardBaseTimeout /
                                static_cast<int>(TimeoutDivisor);
constexpr int EraseBusyMs = 3000;  // below the five seconds the tool waits after an erase
constexpr double HangBoundSeconds = 60;
// Beyond a slow or late reply's lateness, for the deco to finish answering.
constexpr int AnswerMarginMs = 100;

enum class Memory { Eeprom, Channel, Firmware };

struct Job {
  const char* name;
  bool write;
  const char* method;
  Memory memory;
  // --erase-poll --fast-program --skip-blank-words: faults strike only where the chips are read
  // while erasing and programmed in bypass.
  bool fast = false;
};

const Job Jobs[] = {
    {"read_eeprom", false, "normal", Memory::Eeprom},
    {"read_channel", false, "normal", Memory::Channel},
    {"read_firmware", false, "normal", Memory::Firmware},
    {"write_eeprom_normal", true, "normal", Memory::Eeprom},
    {"write_eeprom_safe", true, "safe", Memory::Eeprom},
    {"write_eeprom_diff", true, "diff", Memory::Eeprom},
    // The image differs in sector 0 only: an erase and the eight zero words.
    {"write_channel_diff", true, "diff", Memory::Channel},
    // ... and in sector 3, whose code (its first block; the rest blank) goes in by unlock bypass.
    {"write_channel_fast", true, "diff", Memory::Channel, true},
};

void PrintTo(const Job& job, std::ostream* out) { *out << job.name; }

enum class Fault { Drop, Garbage, Short, LowerCase, Slow, Trickle, HangUp, WeakWord, CrLf, EraseBusy, Late };
const char* const FaultNames[] = {"dropped reply", "garbage reply", "short reply",
                                  "lower-case reply", "slow reply", "trickle without CR",
                                  "hang-up", "weak flash word", "CR LF endings",
                                  "erase busy period", "late reply"};
constexpr Fault PositionedFaults[] = {Fault::Drop,  Fault::Garbage, Fault::Short, Fault::LowerCase,
                                      Fault::Slow,  Fault::Trickle, Fault::HangUp};
constexpr Fault FastFaults[] = {Fault::Drop, Fault::Garbage, Fault::Short, Fault::HangUp};
constexpr const char* FastKinds[] = {"erase poll", "bypass program"};
// The simulated chips erase for this long; the tool reads until they are done.
constexpr uint32_t EraseTimeMs = 1500;

// What kind of work each command line of a run does; an erase is the six cycles around its
// set-up cycle.
std::vector<std::string> KindsOf(const std::vector<std::string>& commands) {
  std::vector<std::string> kinds(commands.size(), "connect");
  for (size_t i = 0; i < commands.size(); ++i) {
    const std::string& c = commands[i];
    if (c == "100") kinds[i] = "disconnect";
    else if (c.rfind("0610", 0) == 0) kinds[i] = "eeprom read";
    else if (c.rfind("060", 0) == 0) kinds[i] = "eeprom write";
    else if (c.rfind("0220", 0) == 0) kinds[i] = "program";
    else if (c.size() == 14 && c.rfind("0221FF7FE", 0) == 0) kinds[i] = "flash read";
  }
  for (size_t i = 2; i + 3 < commands.size(); ++i) {
    if (commands[i] != "02207FE0155400010080") continue;
    for (size_t k = i - 2; k <= i + 3; ++k) kinds[k] = "erase";
    // The reads of the erasing sector that follow.
    for (size_t k = i + 4; k < commands.size() && commands[k].rfind("0221FF", 0) == 0 &&
                           commands[k].substr(6) == commands[i + 3].substr(4, 8);
         ++k)
      kinds[k] = "erase poll";
  }
  // From entering unlock bypass to leaving it.
  for (size_t i = 0; i < commands.size(); ++i) {
    if (commands[i] != "02207FE0155400040020") continue;
    for (size_t k = i - 2; k < commands.size(); ++k) {
      kinds[k] = "bypass program";
      if (commands[k].size() == 20 && commands[k].substr(12) == "00000000" &&
          commands[k - 1].substr(12) == "00090090")
        break;
    }
  }
  return kinds;
}

struct Position {
  std::string phase;
  const char* where;
  int number;  // the command's number, from 1
};

// Start, middle and end of each kind of work, in the order the kinds first appear.
std::vector<Position> PositionsOf(const std::vector<std::string>& commands) {
  auto kinds = KindsOf(commands);
  std::vector<std::string> order;
  std::map<std::string, std::vector<int>> numbers;
  for (size_t i = 0; i < kinds.size(); ++i) {
    if (numbers[kinds[i]].empty()) order.push_back(kinds[i]);
    numbers[kinds[i]].push_back(static_cast<int>(i) + 1);
  }
  std::vector<Position> positions;
  for (const auto& kind : order) {
    const auto& n = numbers[kind];
    positions.push_back({kind, "start", n.front()});
    if (n.size() > 2) positions.push_back({kind, "middle", n[n.size() / 2]});
    if (n.size() > 1) positions.push_back({kind, "end", n.back()});
  }
  return positions;
}

struct Cell {
  Fault fault;
  int number = 0;  // the command it strikes; 0 for the whole run
  uint32_t weakWord = 0;
  int retries = cli::JobOptions().retries;
  int lateMs = 0;  // for Fault::Late: how late the reply comes, on the tool's clock
};

struct Outcome {
  std::vector<std::string> problems;
  double seconds = 0;
  std::vector<std::string> commands;
  int exitCode = 0;
  std::string out;
  uint64_t retries = 0;  // as the report counts them
};

std::string Slice(const std::vector<uint8_t>& memory, Memory which) {
  std::string text = AsText(memory);
  return which == Memory::Channel ? text.substr(0, protocol::ChannelImageBytes) : text;
}

class FaultMatrix : public testing::TestWithParam<Job> {};

Outcome RunCell(const Job& job, const Cell& cell) {
  sim::Settings settings;
  if (job.fast) settings.EraseTimeMs = EraseTimeMs;
  sim::Faults& f = settings.Fault;
  int slowMs = 0;
  switch (cell.fault) {
    case Fault::Drop: f.DropReplyAt = cell.number; break;
    case Fault::Garbage: f.GarbageReplyAt = cell.number; break;
    case Fault::Short: f.ShortReplyAt = cell.number; break;
    case Fault::LowerCase: f.LowerCaseReplyAt = cell.number; break;
    case Fault::Trickle: f.TrickleAt = cell.number; break;
    case Fault::HangUp: f.HangUpAfter = cell.number - 1; break;
    case Fault::Slow:
      // Beyond the first-byte time-out, which is five times longer for the model query.
      slowMs = FirstByteWaitMs * (cell.number == 1 ? protocol::ModelQueryTimeoutFactor : 1) * 3 / 2;
      f.SlowReplyAt = cell.number;
      f.SlowReplyMs = slowMs;
      break;
    case Fault::WeakWord: f.WeakWordAddress = cell.weakWord; break;
    case Fault::CrLf: f.CrLfEndings = true; break;
    case Fault::EraseBusy: f.EraseBusyMs = EraseBusyMs; break;
    case Fault::Late:
      slowMs = cell.lateMs;
      f.SlowReplyAt = cell.number;
      f.SlowReplyMs = slowMs;
      break;
  }
  // The fast clock with shortened reply time-outs, for the life of one cell. A late reply's
  // lateness and the time-outs it races are whole, on a clock that keeps the line's time.
  std::optional<testing_support::SimSession> sessionHolder;
  if (cell.fault == Fault::Late)
    sessionHolder.emplace(settings, testing_support::SimSession::LineTimeOnTheClock{});
  else
    sessionHolder.emplace(settings, TimeoutDivisor);
  testing_support::SimSession& session = *sessionHolder;
  TempDir dir;
  std::filesystem::path folderBefore = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  Outcome outcome;
  auto& model = session.deco.Model();
  const std::string flashBefore = AsText(model.Flash());
  const std::string eepromBefore = AsText(model.Eeprom());

  cli::JobOptions options;
  options.port = session.deco.SlavePath();
  options.clock = &session.clock;
  options.write = job.write;
  options.method = job.method;
  options.retries = cell.retries;
  options.reportFile = "run.json";
  transfer::JobSelection& s = options.selection;
  std::string file;
  std::string promised;  // what the job's memory must hold after a WRITE
  if (job.memory == Memory::Eeprom) {
    s.Eeprom = true;
    file = s.EepromFile = "E.bin";
    promised = std::string(protocol::EepromImageBytes, '\x5A');
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
  const std::string earlierDump = "an earlier dump";
  if (job.write) {
    std::string image = promised;
    if (job.memory == Memory::Channel) image[0x100] = static_cast<char>(image[0x100] ^ 1);
    WriteFile(file, image);
  } else {
    WriteFile(file, earlierDump);
  }

  CapturingHost host;
  std::atomic<bool> interrupted{false};
  auto start = std::chrono::steady_clock::now();
  int exitCode = cli::RunReadOrWrite(options, host, interrupted);
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.commands = model.CommandLog();
  std::string err = host.Err();
  outcome.exitCode = exitCode;
  outcome.out = host.Out();
  outcome.retries = nlohmann::json::parse(ReadFile("run.json"))["runs"][0]["retries"];
  auto problem = [&](const std::string& text) { outcome.problems.push_back(text); };
  if (exitCode != 0 && err.find(cli::MessagePrefix) == std::string::npos)
    problem("failed without saying why");
  if (outcome.seconds > HangBoundSeconds) problem("took " + std::to_string(outcome.seconds) + " s");

  const std::string flash = AsText(model.Flash());
  const std::string eeprom = AsText(model.Eeprom());
  if (!job.write) {
    std::string dump = ReadFile(file);
    std::string memory = job.memory == Memory::Eeprom ? eeprom : Slice(model.Flash(), job.memory);
    if (exitCode == 0 && dump != memory) problem("success with a dump unlike the deco");
    if (dump != memory && dump != earlierDump) problem("a dump neither complete nor the earlier one");
    if (flash != flashBefore || eeprom != eepromBefore) problem("a READ changed the deco");
  } else if (job.memory == Memory::Eeprom) {
    if (flash != flashBefore) problem("an EEPROM write changed the flash");
    if (exitCode == 0 && eeprom != promised) problem("success with the EEPROM unlike the file");
  } else {
    const uint32_t untouchedFrom = job.fast ? FastSector + FastSectorSize : Sector0Size;
    if (flash.substr(untouchedFrom) != flashBefore.substr(untouchedFrom) ||
        flash.substr(Sector0Size, FastSector - Sector0Size) !=
            flashBefore.substr(Sector0Size, FastSector - Sector0Size))
      problem("a sector the method does not write was changed");
    if (eeprom != eepromBefore) problem("a flash write changed the EEPROM");
    if (exitCode == 0 && flash.substr(0, protocol::ChannelImageBytes) != promised)
      problem("success with the flash unlike what the method promises");
  }

  // A second job on the same deco, once a late reply has had its time to arrive.
  if (!session.deco.HungUp()) {
    // A job that ended well after a late reply has proven the line in step.
    bool lateReplyWaitedOut = cell.fault == Fault::Late && exitCode == 0;
    if (slowMs > 0 && !lateReplyWaitedOut) {
      if (session.clock.KeepsLineTime()) session.clock.Pass(static_cast<uint64_t>(slowMs));
      session.deco.WaitAnswered(slowMs + AnswerMarginMs);
    }
    cli::JobOptions again;
    again.clock = &session.clock;
    again.port = options.port;
    again.service = model.InService();
    again.selection.Eeprom = true;
    again.selection.EepromFile = "After.bin";
    CapturingHost secondHost;
    int secondExit = cli::RunReadOrWrite(again, secondHost, interrupted);
    if (secondExit != 0) problem("the next job failed: " + secondHost.Err());
    else if (ReadFile("After.bin") != AsText(model.Eeprom())) problem("the next job read false data");
    if (job.fast && exitCode != 0) {
      // The deco stays writable the usual way: the WRITE the failed run says to run next.
      // Its code differs in every bit from the first image's, so only an erase heard lets it in.
      std::string again = promised;
      for (uint32_t i = FastSector; i < FastSector + FastCodeBytes; ++i)
        again[i] = static_cast<char>(~again[i]);
      cli::JobOptions usual = options;
      usual.service = model.InService();
      usual.erasePoll = usual.fastProgram = false;
      usual.reportFile.clear();
      usual.selection.ChannelFile = "Again.bin";
      WriteFile(usual.selection.ChannelFile, again);
      CapturingHost usualHost;
      if (cli::RunReadOrWrite(usual, usualHost, interrupted) != 0)
        problem("the usual WRITE after it failed: " + usualHost.Err());
      else if (AsText(model.Flash()).substr(0, protocol::ChannelImageBytes) != again)
        problem("the usual WRITE after it left the flash unlike its image");
    }
  }
  std::filesystem::current_path(folderBefore);
  return outcome;
}

TEST_P(FaultMatrix, EveryFaultAtEveryPhase) {
  const Job& job = GetParam();
  const bool programsFlash = job.write && job.memory != Memory::Eeprom;
  Outcome probe = RunCell(job, {Fault::CrLf});
  ASSERT_TRUE(probe.problems.empty()) << probe.problems.front();
  auto positions = PositionsOf(probe.commands);

  std::vector<Cell> cells;
  for (Fault fault : PositionedFaults) {
    if (job.fast && std::find(std::begin(FastFaults), std::end(FastFaults), fault) == std::end(FastFaults))
      continue;
    for (const Position& p : positions) {
      if (fault == Fault::HangUp && p.number == 1) continue;  // a line dead from the start is a drop
      if (job.fast && std::find(std::begin(FastKinds), std::end(FastKinds), p.phase) == std::end(FastKinds))
        continue;
      cells.push_back({fault, p.number});
    }
  }
  if (job.fast) {
    std::set<std::string> kinds;
    for (const Position& p : positions) kinds.insert(p.phase);
    for (const char* kind : FastKinds) EXPECT_TRUE(kinds.count(kind)) << kind;
  }
  if (programsFlash) {
    auto kinds = KindsOf(probe.commands);
    std::vector<uint32_t> programmed;  // the data cycle of each programmed word
    for (size_t i = 3; i < kinds.size(); ++i) {
      if (kinds[i] == "program" && probe.commands[i - 1] == "02207FE01554000500A0")
        programmed.push_back(static_cast<uint32_t>(std::stoul(probe.commands[i].substr(4, 8), nullptr, 16)));
    }
    ASSERT_FALSE(programmed.empty());
    for (uint32_t address : {programmed.front(), programmed[programmed.size() / 2], programmed.back()})
      cells.push_back({Fault::WeakWord, 0, address});
    cells.push_back({Fault::EraseBusy});
  }

  std::map<Fault, std::pair<int, int>> tally;  // passed, total
  double slowest = 0;
  for (const Cell& cell : cells) {
    Outcome outcome = RunCell(job, cell);
    slowest = std::max(slowest, outcome.seconds);
    auto& [passed, total] = tally[cell.fault];
    ++total;
    if (outcome.problems.empty()) {
      ++passed;
      continue;
    }
    std::string where = cell.number ? "command " + std::to_string(cell.number) + " (" +
                                          probe.commands[static_cast<size_t>(cell.number) - 1] + ")"
                                    : "the whole run";
    for (const auto& text : outcome.problems)
      ADD_FAILURE() << FaultNames[static_cast<int>(cell.fault)] << " at " << where << ": " << text;
  }
  tally[Fault::CrLf] = {1, 1};  // the probe run

  int passed = 0, total = 0;
  std::printf("fault matrix, %s (%zu commands):\n", job.name, probe.commands.size());
  for (const auto& [fault, counts] : tally) {
    std::printf("  %-20s %3d / %3d cells passed\n", FaultNames[static_cast<int>(fault)],
                counts.first, counts.second);
    passed += counts.first;
    total += counts.second;
  }
  std::printf("  %-20s %3d / %3d cells passed, slowest cell %.2f s\n", "all", passed, total, slowest);
}

// One missing, garbled or short reply to a block read, in a READ and in a WRITE's verify: the
// command line's retries get past it with a true dump or a proven WRITE; --retries 0 fails.
TEST(ReadRetries, OneBadReplyToABlockReadIsSentAgain) {
  const Job* const jobs[] = {&Jobs[1], &Jobs[6]};  // read_channel, write_channel_diff
  for (const Job* job : jobs) {
    Outcome probe = RunCell(*job, {Fault::CrLf});
    ASSERT_TRUE(probe.problems.empty()) << probe.problems.front();
    int number = 0;  // the middle flash read: for the WRITE, inside its verify
    for (const Position& p : PositionsOf(probe.commands))
      if (p.phase == "flash read" && std::string(p.where) == "middle") number = p.number;
    ASSERT_GT(number, 0);
    const std::string address = probe.commands[static_cast<size_t>(number) - 1].substr(6);
    for (Fault fault : {Fault::Drop, Fault::Garbage, Fault::Short}) {
      for (int retries : {2, 0}) {
        SCOPED_TRACE(std::string(job->name) + ", " + FaultNames[static_cast<int>(fault)] +
                     ", --retries " + std::to_string(retries));
        Outcome outcome = RunCell(*job, {fault, number, 0, retries});
        for (const auto& text : outcome.problems) ADD_FAILURE() << text;
        EXPECT_EQ(outcome.exitCode, retries ? cli::ExitDone : cli::ExitJobFailed);
        EXPECT_EQ(outcome.retries, retries ? 1u : 0u);
        EXPECT_EQ(outcome.out.find("Retry 1 of 2: the flash block at " + address + " (") !=
                      std::string::npos,
                  retries > 0)
            << outcome.out;
        EXPECT_EQ(outcome.out.find("Retries: 1 read(s) repeated.") != std::string::npos,
                  retries > 0);
      }
    }
  }
}

// A reply that comes after the read was given up, however late, is never taken for another
// request's: with retries the line comes back in step and the job ends with true data; without,
// the job fails; and the next job on the deco reads true data either way.
class LateReplies : public testing::TestWithParam<std::pair<const Job*, const char*>> {};

TEST_P(LateReplies, AreNeverTakenForAnotherRequests) {
  const auto [job, phase] = GetParam();
  Outcome probe = RunCell(*job, {Fault::CrLf});
  ASSERT_TRUE(probe.problems.empty()) << probe.problems.front();
  auto kinds = KindsOf(probe.commands);
  // A WRITE's flash reads before its first erase are its verify, those after its last program
  // cycle are its final check; the job's first three EEPROM reads learn the replies' form and
  // prove the line in step.
  const std::string wanted = job->write ? "flash read" : phase;
  const auto first = std::find(kinds.begin(), kinds.end(), "erase") - kinds.begin();
  const auto last = kinds.rend() - std::find(kinds.rbegin(), kinds.rend(), "program");
  std::vector<int> numbers;
  for (long i = 0; i < static_cast<long>(kinds.size()); ++i) {
    if (kinds[static_cast<size_t>(i)] != wanted) continue;
    if (job->write && (std::string(phase) == "verify" ? i >= first : i < last)) continue;
    numbers.push_back(static_cast<int>(i) + 1);
  }
  if (wanted == "eeprom read") numbers.erase(numbers.begin(), numbers.begin() + 3);
  ASSERT_GT(numbers.size(), 2u);
  const std::vector<Position> positions = {{phase, "start", numbers.front()},
                                           {phase, "middle", numbers[numbers.size() / 2]},
                                           {phase, "end", numbers.back()}};
  for (const Position& p : positions) {
    for (int lateMs : {2500, 4500, 10000, 30000}) {
      for (int retries : {0, 1, 2}) {
        SCOPED_TRACE(std::string(job->name) + ", " + phase + " " + p.where + ", " +
                     std::to_string(lateMs) + " ms late, --retries " + std::to_string(retries));
        Outcome outcome = RunCell(*job, {Fault::Late, p.number, 0, retries, lateMs});
        for (const auto& text : outcome.problems) ADD_FAILURE() << text;
        EXPECT_EQ(outcome.exitCode, retries ? cli::ExitDone : cli::ExitJobFailed) << outcome.out;
        EXPECT_EQ(outcome.out.find("Line back in step: ") != std::string::npos,
                  retries > 0)
            << outcome.out;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Phases, LateReplies,
    testing::Values(std::make_pair(&Jobs[1], "flash read"), std::make_pair(&Jobs[0], "eeprom read"),
                    std::make_pair(&Jobs[6], "verify"), std::make_pair(&Jobs[6], "final check")),
    [](const testing::TestParamInfo<std::pair<const Job*, const char*>>& info) {
      std::string name = std::string(info.param.first->name) + "_" + info.param.second;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

INSTANTIATE_TEST_SUITE_P(Jobs, FaultMatrix, testing::ValuesIn(Jobs),
                         [](const testing::TestParamInfo<Job>& info) { return info.param.name; });

}  // namespace

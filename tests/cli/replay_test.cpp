// Line traces of each kind of job, made with the simulated deco and kept as fixtures, replayed
// against the tool: the same files and the same exit for as long as the tool's dialogue stays
// the same. A change that alters the dialogue on purpose records them again:
//   PYRELINK_RECORD_TRACES=1 build/tests/cli_tests --gtest_filter='ReplayTest.*'
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <memory>
#include <sstream>

#include "capturing_host.h"
#include "cli/cli_job.h"
#include "protocol/flash_map.h"
#include "serial/line_trace.h"
#include "sim/deco_model.h"
#include "support/files.h"
#include "support/sim_session.h"

using testing_support::AsText;
using testing_support::CapturingHost;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

constexpr uint32_t Channel = 0x80000;
constexpr uint32_t WordsKeptPerSector = 64;  // the rest of each sector blank: a small trace

std::string Trace(const std::string& name) { return std::string(PYRELINK_TRACES) + "/" + name; }

// The EEPROM with every byte changed, so that every line is written.
std::string ChangedEeprom() {
  std::string eeprom = AsText(sim::DecoModel::PatternEeprom());
  for (char& c : eeprom) c = static_cast<char>(~c);
  return eeprom;
}

// The deco's channel list with each programmed sector cut to its first words.
std::string SparseChannel() {
  std::string image = AsText(sim::DecoModel::PatternFlash()).substr(0, Channel);
  for (int s = protocol::FirstProgrammedSector; s <= protocol::LastChannelSector; ++s) {
    const uint32_t first = protocol::SectorBase[static_cast<size_t>(s)] - protocol::FlashBase;
    const uint32_t kept = 4 * WordsKeptPerSector;
    image.replace(first + kept, protocol::SectorSize(s) - kept, protocol::SectorSize(s) - kept,
                  '\xFF');
  }
  return image;
}

// The trace with every event after the first sending of command put later by us: what a trace
// made on a real line holds where the tool waited in real time, and the recording's clock only
// made as if.
std::string LaterAfter(const std::string& trace, const std::string& command, uint64_t us) {
  std::istringstream in(trace);
  std::string out, text;
  bool later = false;
  while (std::getline(in, text)) {
    serial::TraceEvent event;
    if (serial::ParseTraceLine(text, event)) {
      if (later) {
        char time[24];
        std::snprintf(time, sizeof time, "%10llu",
                      static_cast<unsigned long long>(event.Us + us));
        text = time + text.substr(text.find(' ', text.find_first_not_of(' ')));
      }
      later |= event.Event == "send" && event.Text.rfind(command, 0) == 0;
    }
    out += text + "\n";
  }
  return out;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

struct Job {
  const char* trace;
  std::function<void(cli::JobOptions&, const TempDir&)> options;
  int exitCode;
};

}  // namespace

TEST(ReplayTest, EachKindOfJobReplaysToTheSameFilesAndExit) {
  const bool record = std::getenv("PYRELINK_RECORD_TRACES") != nullptr;
  const std::string pattern = AsText(sim::DecoModel::PatternFlash());
  auto eepromWrite = [](const char* method) {
    return [method](cli::JobOptions& o, const TempDir& dir) {
      o.write = true;
      o.method = method;
      o.backup = true;
      o.workDir = dir.Path();
      o.selection.Eeprom = true;
      o.selection.EepromFile = dir.File("E.bin");
    };
  };
  struct Row {
    const char* name;
    std::vector<Job> jobs;  // in turn on one deco; the later ones as the earlier ones advised
    sim::Faults faults;
  } rows[] = {
      {"READ of the EEPROM and the channel list",
       {{"read.trace",
         [](cli::JobOptions& o, const TempDir& dir) {
           o.selection.Eeprom = o.selection.Channel = true;
           o.selection.EepromFile = dir.File("E.bin");
           o.selection.ChannelFile = dir.File("Ch.bin");
         },
         cli::ExitDone}},
       {}},
      // --auto's search goes into the trace: the replay answers it as the deco did.
      {"--auto READ of the EEPROM",
       {{"read_auto.trace",
         [](cli::JobOptions& o, const TempDir& dir) {
           o.service = false;
           o.autoConnect = true;
           o.baud = "38400";  // asked first, where the deco is silent
           o.selection.Eeprom = true;
           o.selection.EepromFile = dir.File("E.bin");
         },
         cli::ExitDone}},
       {}},
      {"WRITE, Normal, with its backup", {{"write_normal.trace", eepromWrite("normal"), 0}}, {}},
      {"WRITE, Safe", {{"write_safe.trace", eepromWrite("safe"), 0}}, {}},
      {"WRITE, Different blocks", {{"write_diff.trace", eepromWrite("diff"), 0}}, {}},
      {"fast WRITE of the channel list",
       {{"write_fast.trace",
         [](cli::JobOptions& o, const TempDir& dir) {
           o.write = true;
           o.fast = o.skipBlankWords = o.erasePoll = o.fastProgram = true;
           o.method = "safe";
           o.workDir = dir.Path();
           o.selection.Channel = true;
           o.selection.ChannelFile = dir.File("Ch.bin");
         },
         cli::ExitDone}},
       {}},
      // A reply lost in the EEPROM's writing: the WRITE fails, its write-again writes it.
      {"failed WRITE and its write-again",
       {{"write_failed.trace", eepromWrite("normal"), cli::ExitJobFailed},
        {"write_again.trace",
         [&](cli::JobOptions& o, const TempDir& dir) {
           eepromWrite("diff")(o, dir);
           o.service = true;
           o.backup = false;
         },
         cli::ExitDone}},
       [] {
         sim::Faults f;
         f.DropReplyAt = 40;
         return f;
       }()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    testing_support::WriteFile(dir.File("E.bin"), ChangedEeprom());
    sim::Settings settings = testing_support::InService();
    settings.EraseTimeMs = 20;
    settings.Fault = row.faults;
    std::unique_ptr<testing_support::SimSession> recording;
    if (record) recording = std::make_unique<testing_support::SimSession>(settings);
    for (const Job& job : row.jobs) {
      SCOPED_TRACE(job.trace);
      testing_support::WriteFile(dir.File("Ch.bin"), SparseChannel());
      std::unique_ptr<testing_support::SimSession> replaying;
      std::shared_ptr<sim::Replay> replay;
      if (!record) {
        sim::Settings replayed = settings;
        replay = std::make_shared<sim::Replay>(Trace(job.trace), 1);
        replayed.Replayed = replay;
        replaying = std::make_unique<testing_support::SimSession>(replayed);
      }
      testing_support::SimSession& session = record ? *recording : *replaying;
      cli::JobOptions options;
      options.port = session.deco.SlavePath();
      options.clock = &session.clock;
      options.service = true;
      options.retries = 0;  // a lost reply fails the job, as the failed WRITE's trace needs
      if (record) options.traceFile = Trace(job.trace);
      options.commandLine = {"pyrelink-cli", "(test)", row.name};
      job.options(options, dir);
      CapturingHost host;
      std::atomic<bool> interrupted{false};
      EXPECT_EQ(cli::RunReadOrWrite(options, host, interrupted), job.exitCode) << host.Err();
      if (replay) {
        EXPECT_EQ(replay->Parting(), "");
        EXPECT_TRUE(replay->Finished());
        // A fixture changed on purpose is recorded again, not edited.
        EXPECT_EQ(replay->TraceSeal(), sim::Replay::Seal::Intact);
        EXPECT_EQ(replay->Job(), std::string("pyrelink-cli (test) ") + row.name);
      }
    }
    if (row.jobs.front().trace == std::string("read.trace")) {
      EXPECT_EQ(ReadFile(dir.File("E.bin")), AsText(sim::DecoModel::PatternEeprom()));
      EXPECT_EQ(ReadFile(dir.File("Ch.bin")), pattern.substr(0, Channel));
    }
  }
}

// What the tool saw, kept: the speed switch's answer, which the tool takes only after waiting
// for the deco to change speed, is there when its wait ends; and a command sent at another
// speed than the trace heard it at gets no answer, and the replay says so. The trace is of a
// READ of the EEPROM from a deco in standby.
TEST(ReplayTest, KeepsTheTimesAndSpeedsTheToolSaw) {
  constexpr const char* SpeedSwitch = "021020004000001B";
  constexpr uint64_t SwitchWaitUs = 3000000;
  const std::string switched = "Set baudrate 115200 ...\nOK\n";
  auto eepromRead = [](cli::JobOptions& o, const TempDir& dir) {
    o.retries = 0;
    o.selection.Eeprom = true;
    o.selection.EepromFile = dir.File("E.bin");
  };
  TempDir dir;
  std::string recorded;
  {
    testing_support::SimSession recording;
    cli::JobOptions options;
    options.port = recording.deco.SlavePath();
    options.clock = &recording.clock;
    options.traceFile = dir.File("recorded.trace");
    options.commandLine = {"pyrelink-cli", "read", "--eeprom", "E.bin"};
    eepromRead(options, dir);
    {
      CapturingHost host;  // holds the trace to the run's end, and then seals it
      std::atomic<bool> interrupted{false};
      ASSERT_EQ(cli::RunReadOrWrite(options, host, interrupted), cli::ExitDone) << host.Err();
      ASSERT_NE(host.Out().find(switched), std::string::npos) << host.Out();
    }
    recorded = ReadFile(options.traceFile);
  }
  // Who recorded it, when and where.
  EXPECT_TRUE(std::regex_search(
      recorded, std::regex("^# pyrelink line trace: microseconds, event, text\n# recorded "
                           "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC by pyrelink-cli \\S+ on \\S")))
      << recorded.substr(0, 200);
  struct Row {
    const char* name;
    std::function<std::string(const std::string&)> edit;
    const char* wrongSpeed;  // what the replay says first, up to the trace's line; "": replayed
    int replays = 1;
    sim::Replay::Seal seal = sim::Replay::Seal::Changed;
    // Another job than the trace's, and what the replay then says of the parting, in part.
    bool readChannel = false;
    const char* parting = "";
  } rows[] = {
      {"as recorded: its head names the recorder, its checksum holds",
       [](const std::string& trace) { return trace; }, "", 1, sim::Replay::Seal::Intact},
      // The channel list's READ begins with a reset of the flash chips, where the trace's job
      // read the EEPROM: said at once, and the line closed, instead of time-outs.
      {"another job than the trace's", [](const std::string& trace) { return trace; }, "", 1,
       sim::Replay::Seal::Intact, true,
       "the tool sends the flash chips a command where the trace's job ("},
      {"a line added after the checksum",
       [](const std::string& trace) { return trace + "# a note\n"; }, "", 1},
      // On a real line the tool reads it three seconds after the switch, as it waits in real time.
      {"the speed switch's answer, read after the tool's wait",
       [&](const std::string& trace) { return LaterAfter(trace, SpeedSwitch, SwitchWaitUs); }, "",
       3},
      {"the deco in standby heard at another speed",
       [](const std::string& trace) {
         return Replaced(trace, "speed 9600 7E1", "speed 19200 7E1");
       },
       "the tool sent \"VORTANE\" at 9600 baud; the trace heard it at 19200"},
      // As when the tool that made the trace, or the one replaying it, left out the switch.
      {"the dialogue after the switch heard at another speed",
       [](const std::string& trace) {
         return Replaced(trace, "speed 115200 7E1", "speed 38400 7E1");
       },
       "the tool sent \"09\" at 115200 baud; the trace heard it at 38400"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string replayed = dir.File("replayed.trace");
    testing_support::WriteFile(replayed, row.edit(recorded));
    const bool replays = *row.wrongSpeed == 0 && !row.readChannel;
    for (int run = 1; run <= row.replays; ++run) {
      SCOPED_TRACE("replay " + std::to_string(run));
      std::filesystem::remove(dir.File("E.bin"));
      sim::Settings settings;
      auto replay = std::make_shared<sim::Replay>(replayed, 1);
      settings.Replayed = replay;
      // Time-outs at the wrong speed take no real time.
      testing_support::SimSession session(settings,
                                          testing_support::SimSession::LineTimeOnTheClock{});
      EXPECT_EQ(replay->TraceSeal(), row.seal);
      EXPECT_EQ(replay->Job().rfind("pyrelink-cli ", 0), 0u) << replay->Job();
      cli::JobOptions options;
      options.port = session.deco.SlavePath();
      options.clock = &session.clock;
      eepromRead(options, dir);
      if (row.readChannel) {
        options.selection.Eeprom = false;
        options.selection.Channel = true;
        options.selection.ChannelFile = dir.File("Ch.bin");
      }
      CapturingHost host;
      std::atomic<bool> interrupted{false};
      EXPECT_EQ(cli::RunReadOrWrite(options, host, interrupted),
                replays ? cli::ExitDone : cli::ExitJobFailed)
          << host.Err();
      const std::string parting = replay->Parting();
      EXPECT_NE(parting.find(row.parting), std::string::npos) << parting;
      if (row.readChannel) {
        EXPECT_NE(parting.find("the tool runs another job than the trace's"), std::string::npos)
            << parting;
        // The line closed at the parting: no time-out was waited for.
        EXPECT_NE(host.Err().find("Input/output error"), std::string::npos) << host.Err();
      }
      EXPECT_EQ(replay->WrongSpeed().substr(0, std::string(row.wrongSpeed).size()),
                row.wrongSpeed);
      EXPECT_EQ(replay->Finished(), replays);
      if (replays) {
        EXPECT_EQ(replay->Parting(), "");
        EXPECT_NE(host.Out().find(switched), std::string::npos) << host.Out();
        EXPECT_EQ(ReadFile(dir.File("E.bin")), AsText(sim::DecoModel::PatternEeprom()));
      }
    }
  }
}

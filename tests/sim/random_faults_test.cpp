// The simulated deco's seeded random faults: the same seed gives the same faults, each fault
// does what it says to the reply, and stopping them gives the true deco back.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "sim/deco_model.h"

namespace {

constexpr uint32_t Service = 115200;
constexpr int Commands = 3000;
constexpr unsigned Divisor = 5;
constexpr int LatestMs = 30000;

sim::Settings WithFaults(uint32_t seed) {
  sim::Settings settings;
  settings.StartInService = true;
  settings.ServiceBaud = Service;
  settings.Random.On = seed != 0;
  settings.Random.Seed = seed;
  settings.Random.FaultEvery = 10;
  settings.Random.TimeDivisor = Divisor;
  return settings;
}

// EEPROM line reads and flash block reads in turn.
std::string CommandAt(int i) {
  char line[32];
  if (i % 2 == 0) std::snprintf(line, sizeof line, "0610%02X080", (i / 2 % 16) * 8);
  else std::snprintf(line, sizeof line, "0221FF7FE%05X", (i / 2 % 64) * 256);
  return line;
}

std::vector<sim::Reply> Serve(sim::DecoModel& deco, int count) {
  std::vector<sim::Reply> replies;
  for (int i = 0; i < count; ++i) {
    replies.push_back(deco.Handle(CommandAt(i), Service));
    if (replies.back().HangUp) break;
  }
  return replies;
}

bool UpperHex(const std::string& text) {
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'A' || c > 'F')) return false;
  return true;
}

TEST(RandomFaults, TheSameSeedGivesTheSameFaults) {
  sim::DecoModel first(WithFaults(7)), second(WithFaults(7)), other(WithFaults(8));
  auto a = Serve(first, Commands), b = Serve(second, Commands);
  Serve(other, Commands);
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].Bytes, b[i].Bytes) << i;
    EXPECT_EQ(a[i].DelayMs, b[i].DelayMs) << i;
  }
  EXPECT_EQ(first.RandomFaultLog(), second.RandomFaultLog());
  EXPECT_NE(first.RandomFaultLog(), other.RandomFaultLog());
}

TEST(RandomFaults, EachFaultDoesWhatItSays) {
  std::map<std::string, int> seen;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    // The clean deco's chips read the array.
    if (sim::RandomFaults(WithFaults(seed).Random).StartMode() != sim::StartChipMode::ReadingArray)
      continue;
    sim::DecoModel faulty(WithFaults(seed)), clean(WithFaults(0));
    for (int i = 0; i < Commands; ++i) {
      const std::string line = CommandAt(i);
      const size_t logged = faulty.RandomFaultLog().size();
      sim::Reply got = faulty.Handle(line, Service);
      const auto log = faulty.RandomFaultLog();
      if (log.size() == logged) {
        // No fault: the true reply, at once. A deaf deco does not act on the command, so the
        // clean one is not asked either.
        EXPECT_EQ(got.Bytes, clean.Handle(line, Service).Bytes) << seed << " " << line;
        EXPECT_EQ(got.DelayMs, 0);
        continue;
      }
      const std::string& what = log.back();
      const std::string truth = what.find("not heard") != std::string::npos ||
                                        what.find("deaf for") != std::string::npos
                                    ? ""
                                    : clean.Handle(line, Service).Bytes;
      SCOPED_TRACE(std::to_string(seed) + ": " + what);
      if (what.find("ms late") != std::string::npos) {
        ++seen["late"];
        EXPECT_EQ(got.Bytes, truth);
        EXPECT_GT(got.DelayMs, 0);
        EXPECT_LE(got.DelayMs, LatestMs / static_cast<int>(Divisor));
      } else if (what.find("wrong data") != std::string::npos) {
        ++seen["wrong data"];
        ASSERT_EQ(got.Bytes.size(), truth.size());
        EXPECT_NE(got.Bytes, truth);
        const size_t data = line.rfind("0610", 0) == 0 ? 7 : 3;
        EXPECT_EQ(got.Bytes.substr(0, data), truth.substr(0, data));  // the echo kept
        EXPECT_TRUE(UpperHex(got.Bytes.substr(0, got.Bytes.size() - 1)));
      } else if (what.find("garbage") != std::string::npos) {
        ++seen["garbage"];
        ASSERT_EQ(got.Bytes.size(), truth.size());
        EXPECT_EQ(got.Bytes.find_first_of("0123456789ABCDEF"), std::string::npos);
      } else if (what.find("line closed") != std::string::npos) {
        ++seen["hang-up"];
        EXPECT_TRUE(got.HangUp);
        break;
      } else if (what.find("restarts") != std::string::npos) {
        ++seen["restart"];
        EXPECT_EQ(got.Bytes, "");
        EXPECT_FALSE(faulty.InService());
        EXPECT_EQ(faulty.ListenBaud(), sim::StandbyBaud);
        EXPECT_EQ(faulty.Restarts(), 1);
        break;
      } else if (what.find("next line's reply") != std::string::npos) {
        ++seen["other line"];
        const int next = (std::stoi(line.substr(4, 2), nullptr, 16) + 8) % 128;
        char nextLine[16];
        std::snprintf(nextLine, sizeof nextLine, "0610%02X080", next);
        EXPECT_EQ(got.Bytes, clean.Handle(nextLine, Service).Bytes);
      } else if (what.find("halfway") != std::string::npos) {
        ++seen["pause mid-line"];
        EXPECT_EQ(got.Bytes, truth);
        EXPECT_EQ(got.PauseAfter, truth.size() / 2);
        EXPECT_GT(got.PauseMs, 0);
        EXPECT_LE(got.PauseMs, 3000 / static_cast<int>(Divisor));
      } else if (what.find("noise") != std::string::npos) {
        ++seen["noise"];
        const size_t noise = got.Bytes.size() - truth.size();
        EXPECT_TRUE(noise >= 1 && noise <= 3) << got.Bytes;
        EXPECT_EQ(got.Bytes.substr(noise), truth);
        EXPECT_TRUE(UpperHex(got.Bytes.substr(0, noise)));
      } else {
        ++seen[what.find("dropped") != std::string::npos ? "dropped" : "deaf"];
        EXPECT_EQ(got.Bytes, "");
      }
    }
  }
  for (const char* kind : {"late", "wrong data", "garbage", "hang-up", "dropped", "deaf",
                           "restart", "other line", "pause mid-line", "noise"})
    EXPECT_GT(seen[kind], 0) << kind;
}

// Switched off, the newer kinds leave every seed's faults as they were drawn before them.
TEST(RandomFaults, WithoutGlitchesAndNoiseASeedDrawsTheOlderKindsOnly) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    sim::Settings settings = WithFaults(seed);
    settings.Random.GlitchesAndNoise = false;
    sim::DecoModel deco(settings);
    Serve(deco, Commands);
    for (const std::string& what : deco.RandomFaultLog())
      for (const char* kind : {"restarts", "next line's reply", "halfway", "noise"})
        EXPECT_EQ(what.find(kind), std::string::npos) << seed << ": " << what;
  }
}

TEST(RandomFaults, StoppedFaultsGiveTheTrueDecoBack) {
  sim::DecoModel faulty(WithFaults(3)), clean(WithFaults(0));
  faulty.StopRandomFaults();
  const size_t logged = faulty.RandomFaultLog().size();
  for (int i = 0; i < Commands; ++i)
    ASSERT_EQ(faulty.Handle(CommandAt(i), Service).Bytes, clean.Handle(CommandAt(i), Service).Bytes);
  EXPECT_EQ(faulty.RandomFaultLog().size(), logged);
}

TEST(RandomFaults, SomeJobsFindTheChipsInAChipMode) {
  std::map<sim::StartChipMode, int> modes;
  for (uint32_t seed = 1; seed <= 64; ++seed) {
    sim::Settings settings = WithFaults(seed);
    sim::StartChipMode mode = sim::RandomFaults(settings.Random).StartMode();
    ++modes[mode];
    settings.Random.FaultEvery = 1 << 30;  // the start mode only
    sim::DecoModel deco(settings);
    // Identification answers the manufacturer code in each chip's word 0.
    const std::string block = deco.Handle("0221FF7FE00000", Service).Bytes;
    EXPECT_EQ(block.substr(3, 8) == "00800001", mode == sim::StartChipMode::Identification) << seed;
    deco.Handle("0221FF7FE00100", Service);
    EXPECT_EQ(deco.ReadsInBypass() > 0, mode == sim::StartChipMode::UnlockBypass) << seed;
  }
  EXPECT_GT(modes[sim::StartChipMode::Identification], 0);
  EXPECT_GT(modes[sim::StartChipMode::UnlockBypass], 0);
  EXPECT_GT(modes[sim::StartChipMode::ReadingArray], 0);
}

}  // namespace

namespace {

void Send(sim::DecoModel& deco, const std::string& addressAndData) {
  deco.Handle("0220" + addressAndData, Service);
}

// An erase of sector 3, then one word programmed at its start.
void EraseAndProgram(sim::DecoModel& deco) {
  for (const char* cycle : {"7FE01554005500AA", "7FE00AA800AA0055", "7FE0155400010080",
                            "7FE01554005500AA", "7FE00AA800AA0055", "7FE10000000C0030"})
    Send(deco, cycle);
  for (const char* cycle : {"7FE01554005500AA", "7FE00AA800AA0055", "7FE01554000500A0",
                            "7FE1000012345678"})
    Send(deco, cycle);
}

}  // namespace

// An erase that runs on reads blank once too early, then shows its status until it is done, and
// ignores programming meanwhile.
TEST(RandomFaults, AnEraseThatRunsOnReadsBlankOnceAndIgnoresProgramming) {
  uint64_t now = 0;
  int runOn = 0, usual = 0;
  for (uint32_t seed = 1; seed <= 16; ++seed) {
    sim::Settings settings = WithFaults(seed);
    if (sim::RandomFaults(settings.Random).StartMode() != sim::StartChipMode::ReadingArray) continue;
    settings.Random.FaultEvery = 1 << 30;  // the erases' own fault only
    settings.Now = [&now] { return now; };
    sim::DecoModel deco(settings);
    for (int round = 0; round < 2; ++round) {
      const size_t logged = deco.RandomFaultLog().size();
      const int early = deco.ProgramsWhileErasing();
      EraseAndProgram(deco);
      const bool ranOn = deco.RandomFaultLog().size() > logged;
      (ranOn ? runOn : usual) += 1;
      EXPECT_EQ(deco.Handle("0221FF7FE10000", Service).Bytes.substr(3, 8),
                ranOn ? "FFFFFFFF" : "12345678")
          << seed;
      if (ranOn) {
        EXPECT_NE(deco.Handle("0221FF7FE10000", Service).Bytes.substr(3, 8), "FFFFFFFF") << seed;
      }
      EXPECT_EQ(deco.ProgramsWhileErasing() > early, ranOn) << seed;
      now += 5000;  // the erase is done by then
      EXPECT_EQ(deco.Handle("0221FF7FE10000", Service).Bytes.substr(3, 8),
                ranOn ? "FFFFFFFF" : "12345678")
          << seed;
    }
  }
  EXPECT_GT(runOn, 0);
  EXPECT_GT(usual, 0);
}

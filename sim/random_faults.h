// Faults drawn at random, per command, from a seeded generator: the same seed and the same
// commands give the same faults, so a run that breaks a rule can be run again. Late replies and
// deaf periods are line time; the simulator waits them divided by TimeDivisor, as tests divide
// the tool's reply time-outs, so that lateness and time-outs keep their relation.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace sim {

struct RandomFaultSettings {
  bool On = false;
  uint32_t Seed = 0;
  // On average one command in this many meets a fault.
  int FaultEvery = 50;
  // Replies with well-formed wrong data among the faults: only a second read can catch them.
  bool WrongData = true;
  // The deco's waits are divided by this (the tests' reply time-out divisor).
  unsigned TimeDivisor = 1;
  // Among the faults: restarts (power glitches), an EEPROM line answered with another line's
  // reply, replies that pause mid-line, noise before a reply. Off, a seed draws what it drew
  // before they existed.
  bool GlitchesAndNoise = true;
};

// What the flash chips are found in when the job starts, left there by an earlier program.
enum class StartChipMode { ReadingArray, Identification, UnlockBypass };

enum class RandomFault {
  None, Late, Dropped, Garbage, WrongData, HangUp, Deaf, EraseRunsOn,
  Restart, OtherLine, PauseMidLine, Noise
};

// What a fault does to one reply.
struct Strike {
  RandomFault Kind = RandomFault::None;
  int DelayMs = 0;  // real ms before the reply
  // EraseRunsOn: the chips erase this long (ms on the deco's clock), ignoring programming and
  // answering status bits, except the first read, which comes too early and reads erased.
  int BusyMs = 0;
  int PauseMs = 0;     // PauseMidLine: real ms the reply stops for halfway
  std::string Noise;   // Noise: the characters before the reply
  std::string Where;  // the command, for the log
};

class RandomFaults {
 public:
  explicit RandomFaults(const RandomFaultSettings& settings);

  StartChipMode StartMode() const { return startMode_; }
  // Whether the deco ignores this command line: it is deaf for a while.
  bool Deaf(const std::string& line);
  // Draws the fault of command number, before the deco acts on it: a Deaf one is not heard.
  Strike Draw(const std::string& line, int number);
  // Applies the strike to the reply the deco made.
  void Apply(const Strike& strike, const std::string& line, std::string& bytes);
  // Faults off from now on; a deaf period ends too.
  void Stop();
  // What struck so far, one line each, for the message of a run that broke a rule.
  std::vector<std::string> Log() const { return log_; }

 private:
  int Below(int below);  // a number in [0, below)
  int RealMs(int lineMs) const;  // line time as the deco waits it
  void Note(const std::string& line, const std::string& what);

  RandomFaultSettings settings_;
  std::mt19937 generator_;
  StartChipMode startMode_ = StartChipMode::ReadingArray;
  int deafLeft_ = 0;  // commands still to ignore
  std::vector<std::string> log_;
};

const char* StartModeName(StartChipMode mode);
// The characters of noise before a reply: a line picking up interference, parity right.
inline constexpr char NoiseAlphabet[] = "0123456789ABCDEF";
// How the log names a well-formed wrong reply.
inline constexpr const char* WrongDataNote = "wrong data: ";

}  // namespace sim

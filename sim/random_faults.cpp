#include "sim/random_faults.h"

namespace sim {

namespace {

// How often each fault strikes, relative to the others.
constexpr int LateWeight = 30;
constexpr int DroppedWeight = 15;
constexpr int GarbageWeight = 15;
constexpr int WrongDataWeight = 15;
constexpr int HangUpWeight = 5;
constexpr int DeafWeight = 15;
constexpr int RestartWeight = 4;
constexpr int OtherLineWeight = 10;
constexpr int PauseMidLineWeight = 10;
constexpr int NoiseWeight = 10;
// A reply that stops mid-line resumes within this much line time; noise is this many characters
// at most.
constexpr int PauseMidLineMs[] = {200, 3000};
constexpr int MostNoiseCharacters = 3;

// The tool waits 2 s of line time for a reply's first byte. A late reply comes either well
// within that or well after it, so that a loaded machine does not turn one into the other.
constexpr int LateWithinMs[] = {200, 1400};
constexpr int LateBeyondMs[] = {2800, 8000};
constexpr int VeryLateMs = 30000;  // one late reply in VeryLateOneIn is up to this late
constexpr int VeryLateOneIn = 6;
constexpr int DeafCommandsMax = 8;
// One job start in this many finds the chips in identification mode, and one in this many in
// unlock bypass.
constexpr int IdentificationOneIn = 4;
constexpr int BypassOneIn = 8;
// One wrong-data reply in this many reads as an erased block (all F), the rest have one digit
// changed.
constexpr int ErasedLookOneIn = 4;
constexpr char GarbageCharacters[] = "GHKXZ?*#";
// One sector erase in this many runs this long, and its first read comes too early and reads
// erased: less than the fixed pause after an erase, more than the chips show their status.
constexpr int EraseRunsOnOneIn = 3;
constexpr int EraseRunsOnMs[] = {2000, 4500};

// The last cycle of a sector erase: 30 to the lower chip at a sector's start (sectors start on
// 16 KB boundaries).
bool IsSectorErase(const std::string& line) {
  return line.size() == 20 && line.rfind("0220", 0) == 0 && line.substr(18) == "30" &&
         line.find_first_not_of("0123456789ABCDEF") == std::string::npos &&
         std::stoul(line.substr(4, 8), nullptr, 16) % 0x4000 == 0;
}

// Where the data of a reply to line starts, or npos for a reply without data.
size_t DataStart(const std::string& line, const std::string& bytes) {
  size_t start = std::string::npos;
  if (line.rfind("0221FF", 0) == 0) start = 3;
  else if (line.rfind("0610", 0) == 0) start = 7;
  // An answer without data ("021" to the initialisation reads, "?") stays as it is.
  return start != std::string::npos && bytes.size() > start + 1 ? start : std::string::npos;
}

bool IsEepromLineRead(const std::string& line) {
  return line.size() == 9 && line.rfind("0610", 0) == 0;
}

char HexDigit(int value) { return "0123456789ABCDEF"[value & 15]; }

int DigitValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

}  // namespace

const char* StartModeName(StartChipMode mode) {
  switch (mode) {
    case StartChipMode::Identification: return "identification";
    case StartChipMode::UnlockBypass: return "unlock bypass";
    default: return "reading the array";
  }
}

RandomFaults::RandomFaults(const RandomFaultSettings& settings)
    : settings_(settings), generator_(settings.Seed) {
  if (!settings_.On) return;
  if (Below(IdentificationOneIn) == 0) startMode_ = StartChipMode::Identification;
  else if (Below(BypassOneIn) == 0) startMode_ = StartChipMode::UnlockBypass;
  if (startMode_ != StartChipMode::ReadingArray)
    log_.push_back(std::string("at the start: chips in ") + StartModeName(startMode_));
}

int RandomFaults::RealMs(int lineMs) const {
  return lineMs / static_cast<int>(settings_.TimeDivisor ? settings_.TimeDivisor : 1);
}

int RandomFaults::Below(int below) {
  return static_cast<int>(generator_() % static_cast<uint32_t>(below));
}

void RandomFaults::Note(const std::string& line, const std::string& what) {
  log_.push_back(line + ": " + what);
}

bool RandomFaults::Deaf(const std::string& line) {
  if (deafLeft_ == 0) return false;
  --deafLeft_;
  Note(line, "not heard (deaf)");
  return true;
}

Strike RandomFaults::Draw(const std::string& line, int number) {
  Strike strike;
  if (!settings_.On) return strike;
  strike.Where = "command " + std::to_string(number) + " " + line;
  if (IsSectorErase(line) && Below(EraseRunsOnOneIn) == 0) {
    strike.Kind = RandomFault::EraseRunsOn;
    strike.BusyMs = EraseRunsOnMs[0] + Below(EraseRunsOnMs[1] - EraseRunsOnMs[0]);
    Note(strike.Where, "the erase runs on " + std::to_string(strike.BusyMs) +
                           " ms, its first read blank too early");
    return strike;
  }
  if (Below(settings_.FaultEvery) != 0) return strike;
  const int wrongData = settings_.WrongData ? WrongDataWeight : 0;
  const bool more = settings_.GlitchesAndNoise;
  const int restart = more ? RestartWeight : 0;
  const int otherLine = more ? OtherLineWeight : 0;
  const int pause = more ? PauseMidLineWeight : 0;
  const int noise = more ? NoiseWeight : 0;
  int pick = Below(LateWeight + DroppedWeight + GarbageWeight + wrongData + HangUpWeight +
                   DeafWeight + restart + otherLine + pause + noise);
  auto within = [&](int weight) {
    bool hit = pick < weight;
    pick -= weight;
    return hit;
  };
  if (within(LateWeight)) {
    int lateMs;
    if (Below(2) == 0) lateMs = LateWithinMs[0] + Below(LateWithinMs[1] - LateWithinMs[0]);
    else if (Below(VeryLateOneIn) == 0) lateMs = LateBeyondMs[1] + Below(VeryLateMs - LateBeyondMs[1]);
    else lateMs = LateBeyondMs[0] + Below(LateBeyondMs[1] - LateBeyondMs[0]);
    strike.Kind = RandomFault::Late;
    strike.DelayMs = RealMs(lateMs);
    Note(strike.Where, "reply " + std::to_string(lateMs) + " ms late");
  } else if (within(DroppedWeight)) {
    strike.Kind = RandomFault::Dropped;
    Note(strike.Where, "reply dropped");
  } else if (within(GarbageWeight)) {
    strike.Kind = RandomFault::Garbage;
    Note(strike.Where, "garbage reply");
  } else if (within(wrongData)) {
    strike.Kind = RandomFault::WrongData;
  } else if (within(HangUpWeight)) {
    strike.Kind = RandomFault::HangUp;
    Note(strike.Where, "line closed");
  } else if (within(restart)) {
    strike.Kind = RandomFault::Restart;
    Note(strike.Where, "the deco restarts (power glitch): no reply, standby at 9600");
  } else if (within(otherLine)) {
    if (IsEepromLineRead(line)) {
      strike.Kind = RandomFault::OtherLine;
      Note(strike.Where, "answered with the next line's reply");
    }
  } else if (within(pause)) {
    const int pauseMs = PauseMidLineMs[0] + Below(PauseMidLineMs[1] - PauseMidLineMs[0]);
    strike.Kind = RandomFault::PauseMidLine;
    strike.PauseMs = RealMs(pauseMs);
    Note(strike.Where, "the reply stops " + std::to_string(pauseMs) + " ms halfway");
  } else if (within(noise)) {
    strike.Kind = RandomFault::Noise;
    for (int n = 1 + Below(MostNoiseCharacters); n > 0; --n)
      strike.Noise += NoiseAlphabet[Below(sizeof NoiseAlphabet - 1)];
    Note(strike.Where, "noise \"" + strike.Noise + "\" before the reply");
  } else {
    // The command itself is not heard, nor the next ones for a while.
    strike.Kind = RandomFault::Deaf;
    deafLeft_ = Below(DeafCommandsMax);
    Note(strike.Where, "deaf for it and " + std::to_string(deafLeft_) + " more command(s)");
  }
  return strike;
}

void RandomFaults::Apply(const Strike& strike, const std::string& line, std::string& bytes) {
  switch (strike.Kind) {
    case RandomFault::Dropped:
    case RandomFault::HangUp:
      bytes.clear();
      break;
    case RandomFault::Noise:
      if (!bytes.empty()) bytes.insert(0, strike.Noise);
      break;
    case RandomFault::Garbage:
      for (char& c : bytes) {
        if (c != '\r' && c != '\n') c = GarbageCharacters[Below(sizeof GarbageCharacters - 1)];
      }
      break;
    case RandomFault::WrongData: {
      size_t start = DataStart(line, bytes);
      size_t end = bytes.find('\r');
      if (start == std::string::npos || end == std::string::npos || end <= start) return;
      if (Below(ErasedLookOneIn) == 0) {
        for (size_t i = start; i < end; ++i) bytes[i] = 'F';
        Note(strike.Where, std::string(WrongDataNote) + "reads as erased");
      } else {
        size_t at = start + static_cast<size_t>(Below(static_cast<int>(end - start)));
        bytes[at] = HexDigit(DigitValue(bytes[at]) + 1 + Below(15));
        Note(strike.Where, WrongDataNote + std::string("digit ") + std::to_string(at - start) + " changed");
      }
      break;
    }
    default:
      break;
  }
}

void RandomFaults::Stop() {
  settings_.On = false;
  deafLeft_ = 0;
}

}  // namespace sim

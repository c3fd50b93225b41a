// A model of a 607X deco's service interface: service mode and line speed, the NOR flash with
// its unlock/erase/program state machine, the EEPROM, and faults that tests switch on. The flash
// is two 16-bit chips side by side, the upper one on bits 16-31 with each byte's data lines
// reversed (its high byte's either way): each chip runs its own command state machine on the
// byte it sees.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/random_faults.h"
#include "sim/replay.h"

namespace sim {

inline constexpr uint32_t FlashBase = 0x7FE00000u;
inline constexpr uint32_t FlashSize = 0x200000u;
inline constexpr uint32_t EepromSize = 2048u;
inline constexpr uint32_t StandbyBaud = 9600u;
inline constexpr const char* DefaultModel = "DECO 6071 SERVICE V2.31";
inline constexpr const char* ProtectedModel = "DECO KVT6072 SERVICE V3.02";
// What a deco that does not echo the EEPROM line read sends before the line's data.
inline constexpr const char* NoEchoHead = "0210000";

// Command numbers count the command lines the deco understood, from 1.
struct Faults {
  int DropReplyAt = 0;          // no reply to this command
  int GarbageReplyAt = 0;       // a reply of the right length without a single hex digit
  int ShortReplyAt = 0;         // a reply cut to half its length
  int LowerCaseReplyAt = 0;     // the reply in lower case
  int TrickleAt = 0;            // bytes trickle without CR instead of this reply
  int CorruptReplyAt = 0;       // a two-bit error, which 7E1 parity lets through, in a digit
  int CorruptReplyCount = 1;    // ... of this many replies from there, each in another digit
  int HangUpAfter = 0;          // answer this many commands, then close the line
  uint32_t WeakWordAddress = 0;  // a flash word that ignores its first programming(s)
  int WeakWordFailures = 1;
  int SlowReplyMs = 0;          // pause before a reply
  int SlowReplyAt = 0;          // ... before this command's reply only (0 = before every reply)
  int EraseBusyMs = 0;          // after a sector erase, program cycles are ignored this long
  int EarlyBlankReads = 0;      // while a sector erases, its first reads answer all FF as if done
  bool BypassIgnored = false;   // the chips enter unlock bypass, but its programming never takes
  bool CrLfEndings = false;     // replies end with CR LF instead of CR
  int NoiseBeforeReplyAt = 0;   // noise characters (parity right) before this command's reply
  int NoiseCharacters = 1;      // ... this many of them
  bool NoiseBeforeEveryReply = false;  // the noise before every reply, not one command's
  // The noise character; 0: hex digits that vary from reply to reply. A byte with bit 7 set is
  // what a line with a spike on it delivers.
  uint8_t NoiseByte = 0;
  int OtherLineReplyAt = 0;     // an EEPROM line read answered with the next line's reply
  int PauseMidReplyAt = 0;      // this command's reply stops halfway ...
  int PauseMidReplyMs = 1000;   // ... for this long
  int RestartAt = 0;            // a power glitch on this command: see DecoModel::Restart
  bool Pace = false;            // deliver at the real line speed (10 bits per character)
};

// The flash chips: their autoselect codes and whether they have unlock bypass.
struct ChipPart {
  const char* Name;  // as --chip takes it
  uint16_t Manufacturer;
  uint16_t Device;
  bool UnlockBypass;
};
inline constexpr ChipPart ChipParts[] = {
    {"am29lv800bb", 0x0001, 0x225B, true},
    {"am29f800bb", 0x0001, 0x2258, false},
    {"unknown", 0x0037, 0x2299, true},  // not a part the tool knows
};
// The part called name, or null.
const ChipPart* FindChipPart(const std::string& name);

// Characters sent at sentBaud as a receiver at pcBaud takes them in: the same at the same speed,
// else framing garbage (no hex digit among it).
std::string SeenAtSpeed(const std::string& sent, uint32_t sentBaud, uint32_t pcBaud);

// Milliseconds from a clock that never jumps; tests hand in their virtual clock.
using MsClock = std::function<uint64_t()>;
uint64_t SteadyMs();

struct Settings {
  std::string Model = DefaultModel;
  uint32_t ServiceBaud = 115200;  // the speed of the last speed switch
  bool StartInService = false;
  // Whether an EEPROM line's reply begins with the read's first seven characters; a deco that
  // does not echo puts EepromHead there.
  bool EchoEepromRead = true;
  std::string EepromHead = NoEchoHead;  // what a deco that does not echo begins its reply with
  Faults Fault;
  MsClock Now = SteadyMs;  // times the erase busy period and the erase
  // The pause before a slow reply runs on Now as well, not in real time, and bytes heard
  // meanwhile keep their speed: a test whose clock keeps the line's time moves it on while the
  // tool waits.
  bool PausesOnNow = false;
  ChipPart Chip = ChipParts[0];
  // The upper chip's high data byte (bits 24-31) wired in reverse, like its low byte; or straight.
  bool UpperHighByteReversed = true;
  // How long a sector erase runs; meanwhile the erasing chips answer reads with status bits
  // (DQ7 low, DQ6 toggling from read to read) and ignore every write. 0: done at once.
  uint32_t EraseTimeMs = 0;
  bool KeepCommandLog = true;  // a long soak counts commands without keeping each line
  // A USB adapter's latency timer: the last, partly filled packet of a reply is passed on this
  // many ms after its last byte (a reply shorter than a packet waits whole).
  int AdapterLatencyMs = 0;
  RandomFaultSettings Random;
  // Answer as a traced deco did instead of as this model does; null: the model.
  std::shared_ptr<Replay> Replayed;
};

// What the deco does after a command line.
struct Reply {
  std::string Bytes;     // already seen through the PC's speed (garbled when it differs)
  int Number = 0;        // which command this answers, counted from 1
  uint32_t SentAtBaud = 0;
  // The PC's speed when the command came: a PC at another speed when the reply goes out (it
  // changed speed meanwhile) sees the reply garbled.
  uint32_t HeardAtBaud = 0;
  bool Trickle = false;  // send Bytes' first character again and again, never a CR
  bool HangUp = false;   // close the line instead of answering
  int DelayMs = 0;       // a random fault's lateness, in real ms
  size_t PauseAfter = 0;  // with PauseMs: the reply stops after this many characters ...
  int PauseMs = 0;        // ... for this many real ms
};

class DecoModel {
 public:
  explicit DecoModel(const Settings& settings);

  // Handles one command line (without CR LF) that arrived while the PC ran at pcBaud.
  Reply Handle(const std::string& line, uint32_t pcBaud);

  // The pause before the reply to command number (1-based), in ms.
  int ReplyDelayMs(int number) const;
  int CommandCount() const;

  // Whether a PC at pcBaud is understood right now.
  bool Understands(uint32_t pcBaud) const;

  bool InService() const;
  uint32_t ListenBaud() const;
  std::vector<uint8_t> Flash() const;
  std::vector<uint8_t> Eeprom() const;
  void SetFlash(const std::vector<uint8_t>& image);
  void SetEeprom(const std::vector<uint8_t>& image);
  std::vector<std::string> CommandLog() const;
  // Faults from now on, for a deco that serves many jobs; command numbers keep counting.
  void SetFaults(const Faults& faults);
  Faults FaultsNow() const;
  int WeakWordFailuresLeft() const;
  // Flash reads while a chip was in unlock bypass, where only its own two commands belong.
  int ReadsInBypass() const;
  const Settings& Config() const { return settings_; }
  // Program cycles and writes that came while the flash was still erasing, and were ignored.
  int ProgramsWhileErasing() const;
  // Power glitches the deco has had: each left it silent, in standby at 9600, its chips reading
  // and a sector being erased partly erased.
  int Restarts() const;
  // The deco's own view of its exits to standby: a "100" heard while its flash held neither what
  // it held before (as made or last set), nor what it held when it last left standby, nor one of
  // the images allowed here (a file as a WRITE leaves it) is a deco sent to standby half written.
  void AllowAtExit(const std::vector<uint8_t>& flash);
  struct HalfWrittenExit {
    int Number;           // the "100"'s command number
    std::string Sectors;  // the sectors unlike the flash as it was before, as "0, 3"
  };
  std::vector<HalfWrittenExit> HalfWrittenExits() const;
  // Random faults off from now on; what they did so far, one line each.
  void StopRandomFaults();
  std::vector<std::string> RandomFaultLog() const;

  // Deterministic start contents, so tests can predict what a read returns.
  static std::vector<uint8_t> PatternFlash();
  static std::vector<uint8_t> PatternEeprom();

 private:
  std::string Answer(const std::string& line, uint32_t pcBaud, Reply& reply);
  std::string FlashRead(uint32_t address);
  void FlashWrite(uint32_t address, uint32_t data);
  // What chip lane (0 lower, 1 upper) answers to a read of the word at address, in its own bits.
  uint16_t ChipRead(int lane, uint32_t address);
  // The upper chip's high byte as the bus sees it, and back: its wiring undoes itself.
  uint8_t UpperHighBusByte(uint8_t byte) const;
  enum class ChipAction { None, Program, Erase };
  ChipAction ChipWrite(int lane, uint32_t address, uint8_t command);

  struct Chip {
    int step = 0;  // position in the unlock / erase / program command sequence
    int mode = 0;  // reading the array, autoselect, unlock bypass and its steps
    uint64_t erasingUntilMs = 0;
    bool toggle = false;  // DQ6 while erasing
  };
  std::string ApplyFaults(std::string bytes, int number, Reply& reply) const;
  void StartChipsIn(StartChipMode mode);
  std::string EepromLineReply(uint32_t offset) const;
  // The fixed and random faults that act on the deco rather than on one reply's characters.
  void Restart();
  void AnswerOtherLine(const std::string& line, std::string& bytes) const;
  void NoteExit();

  mutable std::mutex mutex_;
  Settings settings_;
  bool service_;
  uint32_t listenBaud_;
  int commands_ = 0;
  Chip chips_[2];
  int readsInBypass_ = 0;
  int earlyBlankReadsLeft_ = 0;
  int programsWhileErasing_ = 0;
  bool eraseStarted_ = false;  // by the command being handled
  // The sector erase under way and the sector's data before it, for an erase cut short.
  int erasingSector_ = -1;
  std::vector<uint8_t> beforeErase_;
  int restarts_ = 0;
  int weakFailuresLeft_;
  uint64_t busyUntilMs_ = 0;
  std::vector<uint8_t> flash_;
  // What an exit to standby may leave in the flash: see AllowAtExit.
  std::vector<uint8_t> flashBefore_, flashInStandby_;
  std::vector<std::vector<uint8_t>> allowedAtExit_;
  std::vector<HalfWrittenExit> halfWrittenExits_;
  std::vector<uint8_t> eeprom_;
  std::vector<std::string> log_;
  RandomFaults random_;
};

// The flash sector that starts at address, or -1.
int SectorStartingAt(uint32_t address);
// First address and size of sector s (0..18).
uint32_t SectorFirst(int s);
uint32_t SectorSize(int s);

}  // namespace sim

#include "sim/deco_model.h"

#include <algorithm>

#include <cctype>
#include <chrono>
#include <cstdio>

namespace sim {

namespace {

constexpr int SectorCount = 19;
constexpr uint32_t UnlockAddress1 = 0x7FE01554u;
constexpr uint32_t UnlockAddress2 = 0x7FE00AA8u;
constexpr uint8_t UnlockData1 = 0xAA;
constexpr uint8_t UnlockData2 = 0x55;
constexpr uint8_t EraseSetup = 0x80;
constexpr uint8_t ProgramSetup = 0xA0;
constexpr uint8_t SectorErase = 0x30;
constexpr uint8_t AutoselectCommand = 0x90;
constexpr uint8_t UnlockBypass = 0x20;
constexpr uint8_t BypassReset = 0x90;
constexpr uint8_t BypassResetData = 0x00;
constexpr uint8_t ReadArray = 0xF0;
constexpr uint32_t ReadBlockBytes = 256;
constexpr uint32_t EepromLineBytes = 128;
constexpr const char* SpeedSwitchPrefix = "021020004000";
constexpr const char* ShortAck = "021";

// Steps of the NOR command sequence.
enum NorStep { Idle, Unlocked1, Unlocked2, EraseSetupDone, EraseUnlocked1, EraseUnlocked2, Program };
// What a chip does with reads and writes besides the command sequences.
enum ChipMode { ReadingArray, Autoselect, Bypass, BypassProgram, BypassResetStarted };

uint8_t ReverseBits(uint8_t byte) {
  uint8_t reversed = 0;
  for (int bit = 0; bit < 8; ++bit)
    if (byte & (1u << bit)) reversed = static_cast<uint8_t>(reversed | (0x80u >> bit));
  return reversed;
}

bool IsUpperHex(const std::string& text) {
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'A' || c > 'F')) return false;
  }
  return !text.empty();
}

uint32_t ParseHex(const std::string& text) {
  return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
}

std::string Hex(uint32_t value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", width, value);
  return buffer;
}

uint32_t SwitchBaud(const std::string& code) {
  if (code == "0145") return 9600;
  if (code == "0051") return 38400;
  if (code == "001B") return 115200;
  return 0;
}

// What a UART sampling at the wrong speed makes of a character: a start bit that is too long
// or too short, so bit patterns of framing garbage, never a CR.
constexpr uint8_t FramingGarbage[] = {0x00, 0x80, 0xF8, 0xE6, 0x78, 0xFE, 0x1C, 0x66};

// What a PC at pcBaud makes of "021" CR sent at sentBaud.
// The speed switch's answer, "021", as a PC still at its old speed sees it.
std::string SeenThroughSpeed(uint32_t sentBaud, uint32_t pcBaud) {
  if (pcBaud == StandbyBaud && sentBaud == 38400) return "s";
  if (pcBaud == StandbyBaud && sentBaud == 115200) return "\x7F";
  return SeenAtSpeed("021\r", sentBaud, pcBaud);
}

}  // namespace

std::string SeenAtSpeed(const std::string& sent, uint32_t sentBaud, uint32_t pcBaud) {
  if (sentBaud == pcBaud || sentBaud == 0 || pcBaud == 0) return sent;
  // A slower receiver merges characters, a faster one splits each into two.
  size_t count = pcBaud < sentBaud ? sent.size() * pcBaud / sentBaud : 2 * sent.size();
  std::string garbage;
  for (size_t i = 0; i < (count ? count : 1); ++i)
    garbage += static_cast<char>(FramingGarbage[(i + sentBaud / 100 + pcBaud / 100) % sizeof FramingGarbage]);
  return garbage;
}

uint64_t SteadyMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

uint32_t SectorFirst(int s) {
  static const uint32_t Fixed[] = {0x7FE00000u, 0x7FE08000u, 0x7FE0C000u, 0x7FE10000u,
                                   0x7FE20000u};
  if (s < 5) return Fixed[s];
  return 0x7FE40000u + static_cast<uint32_t>(s - 5) * 0x20000u;
}

uint32_t SectorSize(int s) {
  uint32_t next = s + 1 < SectorCount ? SectorFirst(s + 1) : FlashBase + FlashSize;
  return next - SectorFirst(s);
}

int SectorStartingAt(uint32_t address) {
  for (int s = 0; s < SectorCount; ++s) {
    if (SectorFirst(s) == address) return s;
  }
  return -1;
}

DecoModel::DecoModel(const Settings& settings)
    : settings_(settings),
      service_(settings.StartInService),
      listenBaud_(settings.StartInService ? settings.ServiceBaud : StandbyBaud),
      weakFailuresLeft_(settings.Fault.WeakWordFailures),
      flash_(PatternFlash()),
      flashBefore_(flash_),
      flashInStandby_(flash_),
      eeprom_(PatternEeprom()),
      random_(settings.Random) {
  StartChipsIn(random_.StartMode());
}

std::vector<uint8_t> DecoModel::PatternFlash() {
  std::vector<uint8_t> image(FlashSize);
  uint32_t state = 0x6072u;
  for (auto& byte : image) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return image;
}

std::vector<uint8_t> DecoModel::PatternEeprom() {
  std::vector<uint8_t> image(EepromSize);
  for (uint32_t i = 0; i < EepromSize; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  return image;
}

bool DecoModel::Understands(uint32_t pcBaud) const {
  std::lock_guard<std::mutex> lock(mutex_);
  // A replay hears every speed, to tell the tool's from the trace's.
  return settings_.Replayed || pcBaud == listenBaud_;
}

bool DecoModel::InService() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return service_;
}

uint32_t DecoModel::ListenBaud() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return listenBaud_;
}

std::vector<uint8_t> DecoModel::Flash() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flash_;
}

std::vector<uint8_t> DecoModel::Eeprom() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return eeprom_;
}

void DecoModel::SetFlash(const std::vector<uint8_t>& image) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < flash_.size(); ++i) flash_[i] = i < image.size() ? image[i] : 0xFF;
  flashBefore_ = flashInStandby_ = flash_;
}

void DecoModel::AllowAtExit(const std::vector<uint8_t>& flash) {
  std::lock_guard<std::mutex> lock(mutex_);
  allowedAtExit_.push_back(flash);
}

std::vector<DecoModel::HalfWrittenExit> DecoModel::HalfWrittenExits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return halfWrittenExits_;
}

void DecoModel::NoteExit() {
  if (flash_ == flashBefore_ || flash_ == flashInStandby_) return;
  for (const std::vector<uint8_t>& allowed : allowedAtExit_)
    if (flash_ == allowed) return;
  std::string sectors;
  for (int s = 0; s < SectorCount; ++s) {
    const uint32_t offset = SectorFirst(s) - FlashBase;
    if (!std::equal(flash_.begin() + offset, flash_.begin() + offset + SectorSize(s),
                    flashBefore_.begin() + offset))
      sectors += (sectors.empty() ? "" : ", ") + std::to_string(s);
  }
  halfWrittenExits_.push_back({commands_, sectors});
}

void DecoModel::SetEeprom(const std::vector<uint8_t>& image) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < eeprom_.size(); ++i) eeprom_[i] = i < image.size() ? image[i] : 0xFF;
}

std::vector<std::string> DecoModel::CommandLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

Reply DecoModel::Handle(const std::string& line, uint32_t pcBaud) {
  std::lock_guard<std::mutex> lock(mutex_);
  Reply reply;
  if (settings_.Replayed) {
    if (settings_.KeepCommandLog) log_.push_back(line);
    reply.Number = ++commands_;
    reply.SentAtBaud = pcBaud;
    if (const std::optional<ReplayAnswer> answer = settings_.Replayed->Answer(line, pcBaud)) {
      reply.Bytes = answer->Bytes;
      reply.DelayMs = answer->DelayMs;
    }
    // Past the parting nothing the deco did is known: the tool is told at once, not by time-outs.
    reply.HangUp = !settings_.Replayed->Parting().empty();
    return reply;
  }
  reply.HeardAtBaud = pcBaud;
  if (pcBaud != listenBaud_) return reply;  // noise at the wrong speed: nothing understood
  if (random_.Deaf(line)) return reply;
  const Strike strike = random_.Draw(line, commands_ + 1);
  if (strike.Kind == RandomFault::Deaf) return reply;
  if (settings_.KeepCommandLog) log_.push_back(line);
  int number = ++commands_;
  reply.Number = number;
  reply.SentAtBaud = listenBaud_;
  eraseStarted_ = false;
  std::string bytes = Answer(line, pcBaud, reply);
  const Faults& f = settings_.Fault;
  if (number == f.OtherLineReplyAt || strike.Kind == RandomFault::OtherLine)
    AnswerOtherLine(line, bytes);
  if (!bytes.empty() && f.CrLfEndings && bytes.back() == '\r') bytes += '\n';
  reply.Bytes = ApplyFaults(bytes, number, reply);
  random_.Apply(strike, line, reply.Bytes);
  reply.DelayMs = strike.DelayMs;
  if (number == f.PauseMidReplyAt || strike.Kind == RandomFault::PauseMidLine) {
    reply.PauseAfter = reply.Bytes.size() / 2;
    reply.PauseMs = strike.Kind == RandomFault::PauseMidLine ? strike.PauseMs : f.PauseMidReplyMs;
  }
  if (number == f.RestartAt || strike.Kind == RandomFault::Restart) {
    Restart();
    reply.Bytes.clear();
    return reply;
  }
  if (strike.Kind == RandomFault::EraseRunsOn && eraseStarted_) {
    const uint64_t until = settings_.Now() + static_cast<uint64_t>(strike.BusyMs);
    for (Chip& chip : chips_) chip.erasingUntilMs = std::max(chip.erasingUntilMs, until);
    earlyBlankReadsLeft_ = std::max(earlyBlankReadsLeft_, 1);
  }
  reply.HangUp = strike.Kind == RandomFault::HangUp;
  if (settings_.Fault.HangUpAfter > 0 && number > settings_.Fault.HangUpAfter) {
    // The line goes dead instead of answering: like a cable pulled between two commands.
    reply.HangUp = true;
    reply.Bytes.clear();
  }
  return reply;
}

Faults DecoModel::FaultsNow() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_.Fault;
}

int DecoModel::ReplyDelayMs(int number) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Faults& f = settings_.Fault;
  return f.SlowReplyAt == 0 || f.SlowReplyAt == number ? f.SlowReplyMs : 0;
}

void DecoModel::SetFaults(const Faults& faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_.Fault = faults;
  weakFailuresLeft_ = faults.WeakWordFailures;
}

int DecoModel::WeakWordFailuresLeft() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_.Fault.WeakWordAddress ? weakFailuresLeft_ : 0;
}

int DecoModel::CommandCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

int DecoModel::Restarts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return restarts_;
}

void DecoModel::Restart() {
  ++restarts_;
  service_ = false;
  listenBaud_ = StandbyBaud;
  const uint64_t now = settings_.Now();
  const bool erasing = eraseStarted_ || now < chips_[0].erasingUntilMs || now < chips_[1].erasingUntilMs;
  if (erasing && erasingSector_ >= 0) {
    // The erase stopped halfway: the sector's second half still holds what it held.
    const uint32_t first = SectorFirst(erasingSector_) - FlashBase;
    const uint32_t half = SectorSize(erasingSector_) / 2;
    std::copy(beforeErase_.begin() + half, beforeErase_.end(), flash_.begin() + first + half);
  }
  for (Chip& chip : chips_) chip = Chip();
  erasingSector_ = -1;
  busyUntilMs_ = 0;
  earlyBlankReadsLeft_ = 0;
}

void DecoModel::AnswerOtherLine(const std::string& line, std::string& bytes) const {
  if (line.size() != 9 || line.rfind("0610", 0) != 0 || !IsUpperHex(line.substr(4, 2))) return;
  const uint32_t next = (ParseHex(line.substr(4, 2)) * 16 + EepromLineBytes) % EepromSize;
  bytes = EepromLineReply(next);
}

std::string DecoModel::EepromLineReply(uint32_t offset) const {
  std::string data;
  for (uint32_t i = 0; i < EepromLineBytes; ++i) data += Hex(eeprom_[offset + i], 2);
  const std::string head =
      settings_.EchoEepromRead ? "0610" + Hex(offset / 16, 2) + "0" : settings_.EepromHead;
  return head + data + "\r";
}

std::string DecoModel::ApplyFaults(std::string bytes, int number, Reply& reply) const {
  const Faults& f = settings_.Fault;
  if (number == f.DropReplyAt) return "";
  if (number == f.TrickleAt) {
    reply.Trickle = true;
    return "7";
  }
  if (number == f.GarbageReplyAt) {
    for (char& c : bytes) {
      if (c != '\r' && c != '\n') c = 'Z';
    }
  }
  if (number == f.ShortReplyAt) {
    size_t body = bytes.find('\r');
    if (body != std::string::npos) bytes = bytes.substr(0, body / 2) + bytes.substr(body);
  }
  if (f.CorruptReplyAt > 0 && number >= f.CorruptReplyAt &&
      number < f.CorruptReplyAt + f.CorruptReplyCount) {
    // Two bits of a digit 0..7 flip: still a digit, still even parity, another value. Which
    // digit depends on the command, so that two corrupted replies differ.
    int skip = number % 16;
    for (size_t i = 3; i < bytes.size(); ++i) {
      if (bytes[i] >= '0' && bytes[i] <= '7' && skip-- == 0) {
        bytes[i] = static_cast<char>(bytes[i] ^ 0x03);
        break;
      }
    }
  }
  if ((number == f.NoiseBeforeReplyAt || f.NoiseBeforeEveryReply) && !bytes.empty()) {
    std::string noise;
    for (int i = 0; i < f.NoiseCharacters; ++i)
      noise += f.NoiseByte != 0
                   ? static_cast<char>(f.NoiseByte)
                   : NoiseAlphabet[static_cast<size_t>(number + i) % (sizeof NoiseAlphabet - 1)];
    bytes.insert(0, noise);
  }
  if (number == f.LowerCaseReplyAt) {
    for (char& c : bytes) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return bytes;
}

std::string DecoModel::Answer(const std::string& line, uint32_t pcBaud, Reply& reply) {
  if (line == "VORTANE") {
    if (!service_) flashInStandby_ = flash_;
    service_ = true;
    return settings_.Model + "\r";
  }
  if (!service_) return "";  // in standby only the service-mode command is heard

  if (line.size() == 16 && line.rfind(SpeedSwitchPrefix, 0) == 0) {
    uint32_t baud = SwitchBaud(line.substr(12));
    if (baud == 0) return "?\r";
    listenBaud_ = baud;
    reply.SentAtBaud = baud;
    return SeenThroughSpeed(baud, pcBaud);
  }
  if (line == "100") {
    NoteExit();
    service_ = false;
    listenBaud_ = StandbyBaud;
    return "100\r";
  }
  if (line == "09") return std::string(ShortAck) + "\r";

  if (line.size() == 14 && line.rfind("0221FF", 0) == 0 && IsUpperHex(line.substr(6))) {
    uint32_t address = ParseHex(line.substr(6));
    if (address % 4 != 0) return std::string(ShortAck) + "\r";  // the initialisation reads
    return FlashRead(address);
  }
  if (line.size() == 9 && line.rfind("0610", 0) == 0 && line.substr(6) == "080" &&
      IsUpperHex(line.substr(4, 2))) {
    uint32_t offset = ParseHex(line.substr(4, 2)) * 16;
    if (offset + EepromLineBytes > EepromSize) return "?\r";
    return EepromLineReply(offset);
  }
  if (line.size() == 263 && line.rfind("060", 0) == 0 && IsUpperHex(line.substr(3))) {
    uint32_t offset = ParseHex(line.substr(3, 4));
    if (offset + EepromLineBytes > EepromSize) return "?\r";
    for (uint32_t i = 0; i < EepromLineBytes; ++i)
      eeprom_[offset + i] = static_cast<uint8_t>(ParseHex(line.substr(7 + 2 * i, 2)));
    return "060\r";
  }
  if (line.size() == 20 && line.rfind("0220", 0) == 0 && IsUpperHex(line.substr(4))) {
    FlashWrite(ParseHex(line.substr(4, 8)), ParseHex(line.substr(12, 8)));
    return "022\r";
  }
  return "?\r";
}

std::string DecoModel::FlashRead(uint32_t address) {
  if (address < FlashBase || address - FlashBase > FlashSize - ReadBlockBytes) return "?\r";
  std::string reply = ShortAck;
  reply.reserve(3 + 2 * ReadBlockBytes + 1);
  const uint64_t now = settings_.Now();
  const bool erasing = now < chips_[0].erasingUntilMs || now < chips_[1].erasingUntilMs;
  if (erasing && earlyBlankReadsLeft_ > 0) {
    --earlyBlankReadsLeft_;
    return reply + std::string(2 * ReadBlockBytes, 'F') + "\r";
  }
  static const char Digits[] = "0123456789ABCDEF";
  for (uint32_t word = 0; word < ReadBlockBytes; word += 4) {
    uint16_t lower = ChipRead(0, address + word);
    uint16_t upper = ChipRead(1, address + word);
    // The upper chip's low byte arrives on the bus with its bits in reverse order.
    uint32_t value = uint32_t{UpperHighBusByte(static_cast<uint8_t>(upper >> 8))} << 24 |
                     uint32_t{ReverseBits(static_cast<uint8_t>(upper))} << 16 | lower;
    // A word travels most significant digit first.
    for (int shift = 28; shift >= 0; shift -= 4) reply += Digits[(value >> shift) & 15];
  }
  reply += '\r';
  return reply;
}

uint16_t DecoModel::ChipRead(int lane, uint32_t address) {
  Chip& chip = chips_[lane];
  if (chip.erasingUntilMs != 0 && settings_.Now() < chip.erasingUntilMs) {
    // Erase status: DQ7 is the complement of erased data, DQ6 toggles, DQ3 says it has begun.
    chip.toggle = !chip.toggle;
    return static_cast<uint16_t>(0x08 | (chip.toggle ? 0x40 : 0));
  }
  chip.erasingUntilMs = 0;
  uint32_t offset = address - FlashBase;
  if (chip.mode == Autoselect) {
    switch ((offset / 4) & 0xFF) {
      case 0: return settings_.Chip.Manufacturer;
      case 1: return settings_.Chip.Device;
      default: return 0;  // sector protection and the rest: nothing protected
    }
  }
  if (chip.mode != ReadingArray) ++readsInBypass_;
  // The flash holds the bus's bits: the upper chip keeps them in its own order, through its wiring.
  uint32_t byte = offset + 2 * static_cast<uint32_t>(lane);
  uint8_t low = flash_[byte], high = flash_[byte + 1];
  if (lane == 1) {
    low = ReverseBits(low);
    high = UpperHighBusByte(high);
  }
  return static_cast<uint16_t>(low | high << 8);
}

void DecoModel::FlashWrite(uint32_t address, uint32_t data) {
  ChipAction actions[2];
  for (int lane = 0; lane < 2; ++lane) {
    uint8_t command = lane == 0 ? static_cast<uint8_t>(data) : ReverseBits(static_cast<uint8_t>(data >> 16));
    actions[lane] = ChipWrite(lane, address, command);
  }
  uint32_t offset = address - FlashBase;
  if (actions[0] == ChipAction::Erase || actions[1] == ChipAction::Erase) {
    int sector = SectorStartingAt(address);
    uint32_t first = SectorFirst(sector) - FlashBase;
    erasingSector_ = sector;
    beforeErase_.assign(flash_.begin() + first, flash_.begin() + first + SectorSize(sector));
    for (int lane = 0; lane < 2; ++lane) {
      if (actions[lane] != ChipAction::Erase) continue;
      for (uint32_t i = 0; i < SectorSize(sector); i += 4) {
        flash_[first + i + 2 * static_cast<uint32_t>(lane)] = 0xFF;
        flash_[first + i + 2 * static_cast<uint32_t>(lane) + 1] = 0xFF;
      }
      if (settings_.EraseTimeMs > 0)
        chips_[lane].erasingUntilMs = settings_.Now() + settings_.EraseTimeMs;
    }
    earlyBlankReadsLeft_ = settings_.Fault.EarlyBlankReads;
    eraseStarted_ = true;
    if (settings_.Fault.EraseBusyMs > 0)
      busyUntilMs_ = settings_.Now() + static_cast<uint64_t>(settings_.Fault.EraseBusyMs);
  }
  if (actions[0] != ChipAction::Program && actions[1] != ChipAction::Program) return;
  if (address < FlashBase || offset >= FlashSize || address % 4 != 0) return;
  // A flash still erasing ignores the program cycle, as a real NOR chip does.
  if (busyUntilMs_ != 0 && settings_.Now() < busyUntilMs_) {
    ++programsWhileErasing_;
    return;
  }
  if (address == settings_.Fault.WeakWordAddress && weakFailuresLeft_ > 0) {
    --weakFailuresLeft_;
    return;
  }
  // NOR programming only clears bits.
  for (int lane = 0; lane < 2; ++lane) {
    if (actions[lane] != ChipAction::Program) continue;
    for (uint32_t b = 2 * static_cast<uint32_t>(lane); b < 2 * static_cast<uint32_t>(lane) + 2; ++b)
      flash_[offset + b] &= static_cast<uint8_t>(data >> (8 * b));
  }
}

DecoModel::ChipAction DecoModel::ChipWrite(int lane, uint32_t address, uint8_t command) {
  Chip& chip = chips_[lane];
  // An erasing chip ignores every write.
  if (chip.erasingUntilMs != 0 && settings_.Now() < chip.erasingUntilMs) {
    ++programsWhileErasing_;
    return ChipAction::None;
  }
  chip.erasingUntilMs = 0;
  switch (chip.mode) {
    case Autoselect:
      if (command == ReadArray) chip.mode = ReadingArray;
      return ChipAction::None;
    // In unlock bypass only its program and reset commands are heard.
    case Bypass:
      if (command == ProgramSetup) chip.mode = BypassProgram;
      else if (command == BypassReset) chip.mode = BypassResetStarted;
      return ChipAction::None;
    case BypassProgram:
      chip.mode = Bypass;
      return settings_.Fault.BypassIgnored ? ChipAction::None : ChipAction::Program;
    case BypassResetStarted:
      chip.mode = command == BypassResetData ? ReadingArray : Bypass;
      return ChipAction::None;
    default:
      break;
  }
  if (chip.step == Program) {
    chip.step = Idle;
    return ChipAction::Program;  // the data cycle: any byte is data, F0 too
  }
  if (command == ReadArray) {
    chip.step = Idle;
    return ChipAction::None;
  }
  const bool unlock1 = address == UnlockAddress1 && command == UnlockData1;
  const bool unlock2 = address == UnlockAddress2 && command == UnlockData2;
  switch (chip.step) {
    case Unlocked1:
      chip.step = unlock2 ? Unlocked2 : Idle;
      return ChipAction::None;
    case Unlocked2:
      chip.step = Idle;
      if (address != UnlockAddress1) return ChipAction::None;
      if (command == EraseSetup) chip.step = EraseSetupDone;
      else if (command == ProgramSetup) chip.step = Program;
      else if (command == AutoselectCommand) chip.mode = Autoselect;
      else if (command == UnlockBypass && settings_.Chip.UnlockBypass) chip.mode = Bypass;
      return ChipAction::None;
    case EraseSetupDone:
      chip.step = unlock1 ? EraseUnlocked1 : Idle;
      return ChipAction::None;
    case EraseUnlocked1:
      chip.step = unlock2 ? EraseUnlocked2 : Idle;
      return ChipAction::None;
    case EraseUnlocked2:
      chip.step = Idle;
      return SectorStartingAt(address) >= 0 && command == SectorErase ? ChipAction::Erase
                                                                      : ChipAction::None;
    default:
      chip.step = unlock1 ? Unlocked1 : Idle;
      return ChipAction::None;
  }
}

uint8_t DecoModel::UpperHighBusByte(uint8_t byte) const {
  return settings_.UpperHighByteReversed ? ReverseBits(byte) : byte;
}

int DecoModel::ProgramsWhileErasing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return programsWhileErasing_;
}

void DecoModel::StopRandomFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  random_.Stop();
}

std::vector<std::string> DecoModel::RandomFaultLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return random_.Log();
}

void DecoModel::StartChipsIn(StartChipMode mode) {
  // As an earlier program left both chips: after their autoselect or unlock bypass command.
  const int chipMode = mode == StartChipMode::Identification ? Autoselect
                       : mode == StartChipMode::UnlockBypass && settings_.Chip.UnlockBypass
                           ? Bypass
                           : ReadingArray;
  for (Chip& chip : chips_) chip.mode = chipMode;
}

int DecoModel::ReadsInBypass() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return readsInBypass_;
}

const ChipPart* FindChipPart(const std::string& name) {
  for (const ChipPart& part : ChipParts)
    if (name == part.Name) return &part;
  return nullptr;
}

}  // namespace sim

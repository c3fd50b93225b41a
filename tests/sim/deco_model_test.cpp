// The simulated deco through its public face: the model alone, and on a pty.
#include "sim/deco_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "serial/serial_error.h"
#include "sim/pty_deco.h"
#include "support/pty_pair.h"
#include "support/sim_session.h"

using sim::DecoModel;
using sim::Settings;

namespace {
constexpr uint32_t Service = 115200;

DecoModel InServiceModel(Settings settings = Settings()) {
  settings.StartInService = true;
  settings.ServiceBaud = Service;
  return DecoModel(settings);
}

void Write(DecoModel& deco, const std::string& addressAndData) {
  deco.Handle("0220" + addressAndData, Service);
}

void Program(DecoModel& deco, const std::string& address, const std::string& data) {
  Write(deco, "7FE01554005500AA");
  Write(deco, "7FE00AA800AA0055");
  Write(deco, "7FE01554000500A0");
  Write(deco, address + data);
}

void Erase(DecoModel& deco, const std::string& address) {
  Write(deco, "7FE01554005500AA");
  Write(deco, "7FE00AA800AA0055");
  Write(deco, "7FE0155400010080");
  Write(deco, "7FE01554005500AA");
  Write(deco, "7FE00AA800AA0055");
  Write(deco, address + "000C0030");
}
}  // namespace

TEST(DecoModelTest, NorFlashRules) {
  DecoModel deco = InServiceModel();
  Erase(deco, "7FE08000");  // sector 1
  auto flash = deco.Flash();
  for (uint32_t i = 0x8000; i < 0xC000; ++i) ASSERT_EQ(flash[i], 0xFF);
  EXPECT_EQ(flash[0x7FFF], DecoModel::PatternFlash()[0x7FFF]);

  Program(deco, "7FE08000", "12345678");
  flash = deco.Flash();
  EXPECT_EQ(flash[0x8000], 0x78);
  EXPECT_EQ(flash[0x8003], 0x12);
  Program(deco, "7FE08000", "FFFFFF00");  // bits only go from 1 to 0
  EXPECT_EQ(deco.Flash()[0x8000], 0x00);
  EXPECT_EQ(deco.Flash()[0x8001], 0x56);

  // Out of sequence: the third line is missing, so the data write is just a stray write.
  Write(deco, "7FE01554005500AA");
  Write(deco, "7FE00AA800AA0055");
  Write(deco, "7FE0800400000000");
  EXPECT_EQ(deco.Flash()[0x8004], 0xFF);
  // An erase aimed at an address that is not a sector start erases nothing.
  Erase(deco, "7FE08004");
  EXPECT_EQ(deco.Flash()[0x8000], 0x00);
}

TEST(DecoModelTest, RepliesToReadsAndEeprom) {
  DecoModel deco = InServiceModel();
  auto reply = deco.Handle("0221FF7FE00000", Service);
  ASSERT_EQ(reply.Bytes.size(), 516u);
  auto flash = DecoModel::PatternFlash();
  char first[9];
  std::snprintf(first, sizeof first, "%02X%02X%02X%02X", flash[3], flash[2], flash[1], flash[0]);
  EXPECT_EQ(reply.Bytes.substr(3, 8), first);
  EXPECT_EQ(deco.Handle("0221FF7FF7EC71", Service).Bytes, "021\r");
  auto line = deco.Handle("061078080", Service).Bytes;
  EXPECT_EQ(line.substr(0, 7), "0610780");
  EXPECT_EQ(line.size(), 7u + 256u + 1u);
  std::string data(256, 'A');
  deco.Handle("0600780" + data, Service);
  EXPECT_EQ(deco.Eeprom()[1920], 0xAA);
  EXPECT_EQ(deco.Eeprom()[2047], 0xAA);
}

TEST(DecoModelTest, SpeedRules) {
  DecoModel deco{Settings()};
  EXPECT_FALSE(deco.InService());
  EXPECT_TRUE(deco.Handle("VORTANE", 115200).Bytes.empty());  // wrong speed: nothing heard
  EXPECT_TRUE(deco.Handle("09", 9600).Bytes.empty());         // standby: only VORTANE
  EXPECT_EQ(deco.Handle("VORTANE", 9600).Bytes, std::string(sim::DefaultModel) + "\r");
  EXPECT_EQ(deco.Handle("0210200040000051", 9600).Bytes, "s");
  EXPECT_EQ(deco.ListenBaud(), 38400u);
  // Seen at 38400, the answer sent at 115200 is framing garbage, not silence.
  auto garbled = deco.Handle("021020004000001B", 38400).Bytes;
  EXPECT_FALSE(garbled.empty());
  EXPECT_EQ(garbled.find_first_of("\r021"), std::string::npos);
  EXPECT_EQ(deco.ListenBaud(), 115200u);
  EXPECT_FALSE(deco.Handle("0210200040000145", 115200).Bytes.empty());  // to 9600, seen at 115200
  EXPECT_EQ(deco.Handle("0210200040000145", 9600).Bytes, "021\r");
  deco.Handle("021020004000001B", 9600);
  EXPECT_EQ(deco.Handle("100", 115200).Bytes, "100\r");
  EXPECT_EQ(deco.ListenBaud(), 9600u);
  deco.Handle("VORTANE", 9600);
  EXPECT_EQ(deco.Handle("021020004000001B", 9600).Bytes, "\x7F");
  EXPECT_EQ(deco.CommandLog().size(), 10u);  // "09" in standby was heard, not obeyed
}

TEST(DecoModelTest, ReplyFaults) {
  Settings settings;
  settings.Fault.DropReplyAt = 1;
  settings.Fault.GarbageReplyAt = 2;
  settings.Fault.ShortReplyAt = 3;
  settings.Fault.LowerCaseReplyAt = 4;
  settings.Fault.TrickleAt = 5;
  settings.Fault.HangUpAfter = 5;
  settings.Fault.CrLfEndings = true;
  DecoModel deco = InServiceModel(settings);
  const std::string read = "0221FF7FE00000";
  EXPECT_EQ(deco.Handle(read, Service).Bytes, "");
  auto garbage = deco.Handle(read, Service).Bytes;
  EXPECT_EQ(garbage.size(), 517u);
  EXPECT_EQ(garbage.find_first_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(deco.Handle(read, Service).Bytes.size(), 257u + 2u);
  auto lower = deco.Handle(read, Service).Bytes;
  EXPECT_EQ(lower.substr(0, 3), "021");
  EXPECT_NE(lower.find_first_of("abcdef"), std::string::npos);
  EXPECT_TRUE(deco.Handle(read, Service).Trickle);
  auto last = deco.Handle("09", Service);
  EXPECT_EQ(last.Bytes, "");
  EXPECT_TRUE(last.HangUp);
}

TEST(DecoModelTest, NoEchoNoiseAnotherLinePauseAndRestart) {
  Settings settings;
  settings.EchoEepromRead = false;
  settings.Fault.NoiseBeforeReplyAt = 2;
  settings.Fault.NoiseCharacters = 3;
  settings.Fault.OtherLineReplyAt = 3;
  settings.Fault.PauseMidReplyAt = 4;
  settings.Fault.RestartAt = 10;  // the erase's last cycle
  settings.EraseTimeMs = 1000;
  uint64_t now = 0;
  settings.Now = [&now] { return now; };
  DecoModel deco = InServiceModel(settings);
  const DecoModel clean = InServiceModel();
  const std::string line1 = deco.Handle("061008080", Service).Bytes;
  EXPECT_EQ(line1.substr(0, 7), sim::NoEchoHead);
  EXPECT_EQ(line1.size(), 7u + 256u + 1u);
  const std::string noisy = deco.Handle("0221FF7FE00000", Service).Bytes;
  EXPECT_EQ(noisy.size(), 3u + 516u);
  EXPECT_EQ(noisy.substr(3, 3), "021");
  EXPECT_EQ(noisy.find_first_not_of("0123456789ABCDEF"), 3u + 515u);
  const std::string other = deco.Handle("061008080", Service).Bytes;
  EXPECT_EQ(other.substr(0, 7), sim::NoEchoHead);
  EXPECT_NE(other, line1);
  EXPECT_EQ(other.substr(7, 2), "03");  // line 2's first byte: 256 * 7 + 3
  const sim::Reply paused = deco.Handle("061008080", Service);
  EXPECT_EQ(paused.Bytes, line1);
  EXPECT_EQ(paused.PauseAfter, line1.size() / 2);
  EXPECT_EQ(paused.PauseMs, 1000);
  // The glitch strikes the erase's last cycle: half the sector erased, the rest as it was.
  Write(deco, "7FE01554005500AA");
  Write(deco, "7FE00AA800AA0055");
  Write(deco, "7FE0155400010080");
  Write(deco, "7FE01554005500AA");
  Write(deco, "7FE00AA800AA0055");
  const sim::Reply restart = deco.Handle("02207FE10000000C0030", Service);
  EXPECT_EQ(restart.Bytes, "");
  EXPECT_EQ(deco.Restarts(), 1);
  EXPECT_FALSE(deco.InService());
  EXPECT_EQ(deco.ListenBaud(), sim::StandbyBaud);
  const auto flash = deco.Flash(), before = clean.Flash();
  EXPECT_EQ(flash[0x10000], 0xFF);
  EXPECT_EQ(flash[0x17FFF], 0xFF);
  EXPECT_EQ(flash[0x18000], before[0x18000]);
  EXPECT_EQ(flash[0x1FFFF], before[0x1FFFF]);
  // Back in service mode, the chips read the array at once.
  deco.Handle("VORTANE", sim::StandbyBaud);
  deco.Handle("021020004000001B", sim::StandbyBaud);
  EXPECT_EQ(deco.Handle("0221FF7FE18000", Service).Bytes,
            InServiceModel().Handle("0221FF7FE18000", Service).Bytes);
}

TEST(DecoModelTest, WeakWordAndEraseBusyPeriodIgnoreProgramming) {
  Settings settings;
  settings.Fault.WeakWordAddress = 0x7FE10010u;
  DecoModel deco = InServiceModel(settings);
  Erase(deco, "7FE10000");
  Program(deco, "7FE10010", "00000000");
  EXPECT_EQ(deco.Flash()[0x10010], 0xFF);
  Program(deco, "7FE10010", "00000000");
  EXPECT_EQ(deco.Flash()[0x10010], 0x00);

  // A tool that does not wait out the erase leaves the sector's first words erased.
  uint64_t now = 1000;
  Settings busy;
  busy.Fault.EraseBusyMs = 3000;
  busy.Now = [&now] { return now; };
  DecoModel erasing = InServiceModel(busy);
  Erase(erasing, "7FE10000");
  now += 2999;
  Program(erasing, "7FE10000", "00000000");
  EXPECT_EQ(erasing.Flash()[0x10000], 0xFF);
  now += 1;
  Program(erasing, "7FE10000", "00000000");
  EXPECT_EQ(erasing.Flash()[0x10000], 0x00);
}

// The two chips behind the 32-bit bus, each hearing its command byte in its own lane (the upper
// one bit-reversed, its high byte either way): autoselect codes, status while erasing (and a chip
// that reads blank too early), and unlock bypass where the part has it.
TEST(DecoModelTest, TwoChipsWithTheUpperLaneReversed) {
  struct Row {
    const char* chip;
    const char* codes;  // the first two words of a read in autoselect mode
    bool bypass;
    bool straightHighByte = false;
    int earlyBlankReads = 0;
  } rows[] = {
      {"am29lv800bb", "0080000144DA225B", true},
      {"am29lv800bb", "0080000122DA225B", true, true},
      {"am29f800bb", "00800001441A2258", false},
      {"unknown", "00EC003744992299", true},
      {"unknown", "00EC003722992299", true, true, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.chip) + (row.straightHighByte ? ", straight" : ", reversed"));
    uint64_t now = 1000;
    Settings settings;
    settings.Chip = *sim::FindChipPart(row.chip);
    settings.UpperHighByteReversed = !row.straightHighByte;
    settings.Fault.EarlyBlankReads = row.earlyBlankReads;
    settings.EraseTimeMs = 700;
    settings.Now = [&now] { return now; };
    DecoModel deco = InServiceModel(settings);
    const std::string pattern = deco.Handle("0221FF7FE00000", Service).Bytes;
    auto firstWords = [&](const std::string& address) {
      return deco.Handle("0221FF" + address, Service).Bytes.substr(3, 16);
    };

    Write(deco, "7FE01554005500AA");
    Write(deco, "7FE00AA800AA0055");
    Write(deco, "7FE0155400090090");
    EXPECT_EQ(firstWords("7FE00000"), row.codes);
    Program(deco, "7FE00000", "00000000");  // not heard in autoselect mode
    Write(deco, "7FE00000000F00F0");
    EXPECT_EQ(deco.Handle("0221FF7FE00000", Service).Bytes, pattern);

    // An erase whose last cycle carries the command in the lower lane only: one chip erases.
    Write(deco, "7FE01554005500AA");
    Write(deco, "7FE00AA800AA0055");
    Write(deco, "7FE0155400010080");
    Write(deco, "7FE01554005500AA");
    Write(deco, "7FE00AA800AA0055");
    Write(deco, "7FE1000000000030");
    now += 700;
    auto flash = deco.Flash();
    EXPECT_EQ(flash[0x10000], 0xFF);
    EXPECT_EQ(flash[0x1FFFD], 0xFF);
    EXPECT_EQ(flash[0x10002], DecoModel::PatternFlash()[0x10002]);
    EXPECT_EQ(flash[0x1FFFF], DecoModel::PatternFlash()[0x1FFFF]);

    // Erasing: DQ7 low and DQ6 toggling from read to read, never erased data; writes unheard.
    Erase(deco, "7FE10000");
    if (row.earlyBlankReads) {
      EXPECT_EQ(firstWords("7FE10000"), "FFFFFFFFFFFFFFFF");
    }
    EXPECT_EQ(firstWords("7FE10000"), "0012004800100008");
    Program(deco, "7FE10000", "00000000");
    now += 699;
    EXPECT_EQ(firstWords("7FE10000").substr(0, 8), "00120048");
    now += 1;
    EXPECT_EQ(firstWords("7FE10000"), "FFFFFFFFFFFFFFFF");

    Write(deco, "7FE01554005500AA");
    Write(deco, "7FE00AA800AA0055");
    Write(deco, "7FE0155400040020");
    Write(deco, "7FE01554000500A0");
    Write(deco, "7FE1000012345678");
    Write(deco, "7FE01554000500A0");
    Write(deco, "7FE1000800F00FF0");  // a data cycle takes any byte, a reset's too
    EXPECT_EQ(deco.ReadsInBypass(), 0);
    firstWords("7FE10000");
    EXPECT_EQ(deco.ReadsInBypass(), row.bypass ? 2 * 64 : 0);
    Erase(deco, "7FE10000");  // not heard in bypass
    now += 700;
    Write(deco, "7FE0000000090090");
    Write(deco, "7FE0000000000000");
    EXPECT_EQ(firstWords("7FE10000"), row.bypass ? "12345678FFFFFFFF" : "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(deco.Handle("0221FF7FE10008", Service).Bytes.substr(3, 8),
              row.bypass ? "00F00FF0" : "FFFFFFFF");
  }
}

// Replies in time as a real line and a USB adapter deliver them: a paced reply spreads over its
// wire time; an adapter holds a short reply back for its latency timer.
TEST(PtyDecoTest, RepliesTakeTheirTime) {
  using Clock = std::chrono::steady_clock;
  struct Row {
    const char* name;
    bool pace;
    int latencyMs;
    int pauseMidReplyMs;
    const char* command;
    size_t length;
    double atLeastSeconds;  // from the command's start to the reply's end
  } rows[] = {
      // 16 command and 516 reply characters of 10 bits at 115200 need 46.2 ms; a burst reply
      // after the command's 1.4 ms would be far below. Measured from the command: a reader
      // that is late for the first byte cannot make the reply look fast.
      {"paced read reply", true, 0, 0, "0221FF7FE00000", 516, 0.040},
      {"short reply behind a 50 ms adapter", false, 50, 0, "09", 4, 0.050},
      {"read reply pausing 60 ms halfway", false, 0, 60, "0221FF7FE00000", 516, 0.060},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Settings settings;
    settings.StartInService = true;
    settings.ServiceBaud = Service;
    settings.Fault.Pace = row.pace;
    settings.AdapterLatencyMs = row.latencyMs;
    settings.Fault.PauseMidReplyAt = 1;
    settings.Fault.PauseMidReplyMs = row.pauseMidReplyMs;
    sim::PtyDeco deco(settings);
    protocol::DecoLink link;
    link.Open(deco.SlavePath(), Service);
    auto start = Clock::now();
    link.SendLine(row.command);
    std::string reply;
    ASSERT_TRUE(link.ReceiveReply(1000, 1000, reply));
    EXPECT_EQ(reply.size() + 1, row.length);  // and its CR
    EXPECT_GT(std::chrono::duration<double>(Clock::now() - start).count(), row.atLeastSeconds);
  }
}

TEST(PtyDecoTest, ServesOnAPtyAndHangsUp) {
  Settings settings;
  settings.StartInService = true;
  settings.ServiceBaud = 9600;
  settings.Fault.HangUpAfter = 2;
  sim::PtyDeco deco(settings);
  protocol::DecoLink link;
  link.Open(deco.SlavePath(), 9600);
  std::string reply;
  link.SendLine("09");
  EXPECT_TRUE(link.ReceiveReply(1000, 1000, reply));
  EXPECT_EQ(reply, "021");
  link.SendLine("09");
  EXPECT_TRUE(link.ReceiveReply(1000, 1000, reply));
  EXPECT_EQ(reply, "021");
  link.SendLine("09");
  EXPECT_THROW(link.ReceiveReply(3000, 1000, reply), serial::ESerialError);
  EXPECT_TRUE(deco.HungUp());
  EXPECT_EQ(deco.Model().CommandLog().size(), 3u);
}

// While a slow reply waits on the clock, the deco's receiver still hears each byte at the speed
// it came at: a command sent at another speed stays noise after the tool moved back.
TEST(PtyDecoTest, BytesHeardDuringASlowReplyKeepTheirSpeed) {
  std::atomic<uint64_t> now{0};
  Settings settings;
  settings.StartInService = true;
  settings.ServiceBaud = Service;
  settings.Fault.SlowReplyAt = 1;
  settings.Fault.SlowReplyMs = 1000;
  settings.Now = [&now] { return now.load(); };
  settings.PausesOnNow = true;
  sim::PtyDeco deco(settings);
  protocol::DecoLink link;
  link.Open(deco.SlavePath(), Service);
  for (uint32_t baud : {Service, 9600u}) {
    link.SetSpeed(static_cast<int32_t>(baud));
    link.SendLine("09");
    deco.CatchUp();
  }
  link.SetSpeed(Service);
  now += 1000;
  std::string reply;
  ASSERT_TRUE(link.ReceiveReply(1000, 1000, reply));
  EXPECT_EQ(reply, "021");
  deco.WaitAnswered(1000);
  EXPECT_EQ(link.InputWaiting(), 0);
  EXPECT_EQ(deco.Model().CommandLog().size(), 1u);
}

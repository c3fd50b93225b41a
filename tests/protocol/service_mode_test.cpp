// Entering and leaving service mode against the simulated deco.
#include "protocol/service_mode.h"

#include <gtest/gtest.h>

#include "protocol/transaction.h"
#include "serial/serial_error.h"
#include "support/sim_session.h"

using namespace protocol;
using testing_support::InService;
using testing_support::SimSession;

namespace {
const std::vector<std::string> InitialisationLines = {"09",
                                                      "0221FF7FF7EC71",
                                                      "0221FF7FF6D771",
                                                      "0221FF7FF734FD",
                                                      "0221FF7FF6FFD5",
                                                      "0221FF7FF70FF9",
                                                      "0221FF7FF735C5",
                                                      "0221FF7FF7817D",
                                                      "0221FF7FF7CDDE"};

std::vector<std::string> Tail(const std::vector<std::string>& all, size_t n) {
  return std::vector<std::string>(all.end() - static_cast<std::ptrdiff_t>(n), all.end());
}
}  // namespace

TEST(ServiceModeTest, FromStandbyAtEachSpeed) {
  struct Row {
    const char* baud;
    uint32_t rate;
    const char* switchLine;
  } rows[] = {{"9600", 9600, "0210200040000145"},
              {"38400", 38400, "0210200040000051"},
              {"115200", 115200, "021020004000001B"}};
  for (const Row& row : rows) {
    SimSession session;
    session.Connect(row.baud, true);
    EXPECT_EQ(session.link.Speed(), row.rate) << row.baud;
    EXPECT_EQ(session.deco.Model().ListenBaud(), row.rate);
    EXPECT_EQ(session.Log(),
              (std::vector<std::string>{"Display of deco must show -SE-", sim::DefaultModel,
                                        std::string("Set baudrate ") + row.baud + " ...", "OK",
                                        "Initializing deco ..."}))
        << row.baud;
    auto commands = session.deco.Model().CommandLog();
    ASSERT_EQ(commands.size(), 11u);
    EXPECT_EQ(commands[0], "VORTANE");
    EXPECT_EQ(commands[1], row.switchLine);
    EXPECT_EQ(Tail(commands, 9), InitialisationLines);
    EXPECT_FALSE(session.learned.Block18Protected);
  }
}

TEST(ServiceModeTest, FromServiceModeTheSwitchAnswerIsJudgedAsItComes) {
  // Already at the chosen speed, the deco's plain "021" answer is only right at 9600.
  struct Row {
    const char* baud;
    uint32_t rate;
    const char* judgement;
  } rows[] = {{"9600", 9600, "OK"}, {"38400", 38400, "ERROR!"}, {"115200", 115200, "ERROR!"}};
  for (const Row& row : rows) {
    SimSession session(InService(row.rate));
    session.Connect(row.baud, false);
    EXPECT_EQ(session.link.Speed(), row.rate);
    auto log = session.Log();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[3], row.judgement) << row.baud;
    EXPECT_EQ(Tail(session.deco.Model().CommandLog(), 9), InitialisationLines);
  }
}

TEST(ServiceModeTest, ProtectedModelAndExit) {
  sim::Settings settings;
  settings.Model = "xx KVT6072 yy";
  SimSession session(settings);
  session.Connect("115200", true);
  EXPECT_TRUE(session.learned.Block18Protected);
  EXPECT_EQ(session.Log()[1], "xx KVT6072 yy => Block 18 protected.");
  session.recorder.Clear();
  EXPECT_TRUE(LeaveServiceMode(session.link));
  EXPECT_EQ(session.Log(), (std::vector<std::string>{"Exit -SE-", "OK : Deco must be Standby now!",
                                                     std::string(30, '=')}));
  EXPECT_FALSE(session.deco.Model().InService());
}

TEST(ServiceModeTest, ExitNotConfirmed) {
  sim::Settings settings = InService();
  settings.Fault.GarbageReplyAt = 1;
  SimSession session(settings);
  session.Open(115200);
  EXPECT_FALSE(LeaveServiceMode(session.link));
  EXPECT_EQ(session.Log()[1], "ERROR when Exit -SE-");
}

TEST(ServiceModeTest, NoAnswerAndWrongSpeed) {
  {
    sim::Settings settings;
    settings.Fault.DropReplyAt = 1;
    SimSession session(settings);
    session.link.SetBaseTimeout(10);
    try {
      session.Connect("115200", true);
      FAIL() << "connected to a silent deco";
    } catch (const serial::ESerialError& error) {
      EXPECT_EQ(error.Code, 9997);
    }
    EXPECT_EQ(session.Log().back(), "Display of deco must show -SE-");
  }
  {
    // The deco shows -SE- at 115200 but the user says standby: 9600 is not understood.
    SimSession session(InService(115200));
    session.link.SetBaseTimeout(10);
    EXPECT_THROW(session.Connect("115200", true), serial::ESerialError);
    EXPECT_TRUE(session.deco.Model().CommandLog().empty());
  }
}

// A deco listening at 38400 whose reply to that speed's probe comes late, while the next
// speed is tried, does not answer at 115200: its reply comes there as framing garbage, which is
// no part of a reply. Where
// the deco listens, a lost reply is asked again, and the reply table alone tells a reply (a deco
// whose replies begin "0610000" whatever the line answers too).
TEST(ServiceModeTest, ASpeedIsTheDecosWhenTwoReadsThereAreAnswered) {
  {
    sim::Settings settings = InService(38400);
    settings.Fault.SlowReplyAt = 1;
    settings.Fault.SlowReplyMs = 600;  // after the first probe's 400 ms, within the second's
    SimSession session(settings, testing_support::QuickTimeOuts);
    session.Open(38400);
    EXPECT_EQ(DecoAnswersInServiceAt(session.link, "38400"), protocol::ServiceAnswer::None);
    EXPECT_EQ(AskInServiceAt(session.link, "115200"), protocol::ServiceAnswer::None);
    EXPECT_EQ(session.deco.Model().CommandLog().size(), 1u);
  }
  struct Row {
    const char* name;
    int dropReplyAt;
    bool echo;
  } rows[] = {{"a lost reply", 1, true}, {"a fixed head 0610000", 0, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Settings settings = InService(9600);
    settings.Fault.DropReplyAt = row.dropReplyAt;
    settings.EchoEepromRead = row.echo;
    settings.EepromHead = "0610000";
    SimSession session(settings, testing_support::QuickTimeOuts);
    session.Open(9600);
    EXPECT_EQ(AskInServiceAt(session.link, "9600"), protocol::ServiceAnswer::Reply);
  }
}

// What the connect learned before it failed stays known: the model of a deco that stops
// answering during the initialisation is still reported.
TEST(ServiceModeTest, TheModelIsKnownWhenTheInitialisationFails) {
  sim::Settings settings;
  settings.Model = sim::ProtectedModel;
  settings.Fault.DropReplyAt = 4;  // the second initialisation line
  SimSession session(settings);
  session.link.SetBaseTimeout(10);
  EXPECT_THROW(session.Connect("115200", true), serial::ESerialError);
  EXPECT_EQ(session.learned.Model, sim::ProtectedModel);
  EXPECT_TRUE(session.learned.Block18Protected);
  EXPECT_EQ(session.learned.SpeedSwitchAnswer, DecoFacts::SwitchAnswer::Right);
  EXPECT_TRUE(session.link.IsOpen());
}

TEST(ServiceModeTest, MissingPortRaisesTheSystemError) {
  SimSession session;
  DecoFacts learned;
  try {
    EnterServiceMode(session.link, "/dev/pyrelink-missing", "115200", true, learned);
    FAIL();
  } catch (const serial::ESerialError& error) {
    EXPECT_EQ(error.Code, ENOENT);
  }
}

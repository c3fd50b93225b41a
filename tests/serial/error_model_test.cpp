// The port object's rules that need no device: port names, error texts and codes, ticks.
#include <gtest/gtest.h>

#include <vector>

#include "serial/block_serial.h"
#include "serial/serial_util.h"
#include "support/serial_errors.h"

using serial::ESerialError;
using serial::TBlockSerial;
using testing_support::SerialErrorCodeOf;

TEST(PortNameTest, RecognisesPortNumbers) {
  struct Row {
    const char* name;
    int32_t index;
  } rows[] = {{"com3", 2},  {"COM3", 2}, {"/dev/ttyS2", 2},  {"COM10", 9},
              {"COMX", -1}, {"COM", -1}, {"/dev/ttySX", -2}, {"/dev/pts/3", -1}};
  TBlockSerial port;
  for (const Row& row : rows) {
    port.ParsePortNumber(row.name);
    EXPECT_EQ(port.PortIndex, row.index) << row.name;
  }
}

TEST(ErrorModelTest, TextsAndMessage) {
  EXPECT_EQ(TBlockSerial::GetErrorDesc(9997), "Timeout during operation");
  EXPECT_EQ(TBlockSerial::GetErrorDesc(0), "OK");
  std::string io = TBlockSerial::GetErrorDesc(5);
  ASSERT_FALSE(io.empty());
  EXPECT_NE(io.back(), '.');
  ESerialError error(9997);
  EXPECT_STREQ(error.what(), "Communication error 9997: Timeout during operation");
  EXPECT_EQ(error.Description, "Timeout during operation");
}

TEST(ErrorModelTest, LineErrorFlagsLastMatchWins) {
  TBlockSerial port;
  port.MapLineErrors(0x0006);
  EXPECT_EQ(port.LastErrorCode, 10002);
  port.MapLineErrors(0x0009);
  EXPECT_EQ(port.LastErrorCode, 10001);
  port.MapLineErrors(0x0100);
  EXPECT_EQ(port.LastErrorCode, 10003);
}

TEST(ErrorModelTest, ClosedObjectAndNeverOpened) {
  std::vector<serial::THookSerialReason> reasons;
  {
    TBlockSerial port;
    port.OnStatus = [&](TBlockSerial*, serial::THookSerialReason reason, const std::string&) {
      reasons.push_back(reason);
    };
    port.RaiseExcept = true;
    EXPECT_EQ(SerialErrorCodeOf([&] { port.SendText("x"); }), 9994);
    EXPECT_EQ(SerialErrorCodeOf([&] { port.ReceiveByte(10); }), 9994);
    // The queue count runs no readiness check: the system refuses the invalid handle.
    EXPECT_NE(SerialErrorCodeOf([&] { port.PendingCount(); }), 0);
  }
  ASSERT_EQ(reasons.size(), 1u);
  EXPECT_EQ(reasons[0], serial::HR_SerialClose);
}

TEST(TickTest, Span) {
  EXPECT_EQ(serial::TickSpan(0xFFFFFFF0u, 0x00000010u), 32u);
  EXPECT_EQ(serial::TickSpan(100, 100), 0u);
  EXPECT_EQ(serial::TickSpan(200, 100), 100u);
  EXPECT_EQ(serial::TickSpan(100, 250), 150u);
}

// The port object's rules that need no device: port names, error texts and codes, time-outs.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "serial/block_serial.h"
#include "serial/block_serial_classic.h"
#include "serial/port_backend.h"
#include "serial/serial_util.h"
#include "support/scripted_backend.h"
#include "support/serial_errors.h"

using serial::ESerialError;
using serial::TBlockSerial;
using testing_support::ScriptedBackend;
using testing_support::SerialErrorCodeOf;

// What a line error does to a reply: the code names the error, and every byte received with it
// or before it stays in the line buffer for whoever looks next. Also where the system reports
// the error to the count query that finds the bytes waiting, before they are read (Windows).
TEST(LineErrorTest, CodesAndTheBytesReceivedWithThem) {
  struct Row {
    uint32_t flags;
    int32_t code;
    bool withCounts;
  } rows[] = {{serial::LineErrParity, 10002, false},  {serial::LineErrFrame, 9999, false},
              {serial::LineErrOverrun, 10000, false}, {serial::LineErrRxOver, 10001, false},
              {serial::LineErrParity, 10002, true},   {serial::LineErrFrame, 9999, true},
              {serial::LineErrOverrun, 10000, true},  {serial::LineErrRxOver, 10001, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.withCounts ? "errors with the counts" : "errors with the read");
    auto backend = std::make_unique<ScriptedBackend>();
    ScriptedBackend& device = *backend;
    device.errorsWithCounts = row.withCounts;
    TBlockSerial port(std::move(backend));
    port.RaiseErrors(true);
    port.OpenPort("COM1");
    device.chunks = {{"021", 0}, {"0A", row.flags}};
    EXPECT_EQ(SerialErrorCodeOf([&] { port.ReceiveUntil(100, "\r"); }), row.code);
    EXPECT_EQ(port.Held(), "0210A") << row.code;
    device.chunks = {{"BC", row.flags}};
    port.DropHeld();
    EXPECT_EQ(SerialErrorCodeOf([&] { port.ReceiveByte(100); }), row.code);
    EXPECT_EQ(port.Held(), "BC") << row.code;
  }
}

TEST(LineErrorTest, AWriteThatCannotDrainIsATimeout) {
  auto backend = std::make_unique<ScriptedBackend>();
  backend->writesDrain = false;
  TBlockSerial port(std::move(backend));
  port.RaiseErrors(true);
  port.OpenPort("COM1");
  EXPECT_FALSE(port.WaitWritable(10));
  EXPECT_EQ(SerialErrorCodeOf([&] { port.SendText("09\r\n"); }), serial::ErrTimeout);
}

// Line errors reported with the counts wait for the transfer they belong to: receive errors for
// the next read, a full output queue for the next write; a purge takes them with its bytes.
TEST(LineErrorTest, HeldUntilTheTransferTheyBelongTo) {
  using serial::LineErrFrame, serial::LineErrParity, serial::LineErrTxFull;
  enum Transfer { None, Read, Wrote };
  struct Row {
    uint32_t seen;
    uint32_t purge;
    Transfer transfer;
    uint32_t reported;
    uint32_t later;  // reported by a read and a write after that
  } rows[] = {{LineErrParity, 0, None, 0, LineErrParity},
              {LineErrParity, 0, Read, LineErrParity, 0},
              {LineErrParity, 0, Wrote, 0, LineErrParity},
              {LineErrTxFull, 0, Wrote, LineErrTxFull, 0},
              {LineErrTxFull, 0, Read, 0, LineErrTxFull},
              {LineErrFrame | LineErrTxFull, 0, Read, LineErrFrame, LineErrTxFull},
              {LineErrParity, serial::PurgeRxClear, Read, 0, 0},
              {LineErrParity, serial::PurgeTxClear, Read, LineErrParity, 0},
              {LineErrFrame | LineErrTxFull, serial::PurgeAll, Wrote, 0, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message()
                 << row.seen << " purge " << row.purge << " transfer " << row.transfer);
    serial::LineErrorLatch latch;
    latch.Seen(row.seen);
    EXPECT_EQ(latch.HandOver(), 0u);  // a count query without a transfer before it
    latch.Purged(row.purge);
    if (row.transfer == Read) latch.Read();
    if (row.transfer == Wrote) latch.Wrote();
    EXPECT_EQ(latch.HandOver(), row.reported);
    latch.Read();
    uint32_t later = latch.HandOver();
    latch.Wrote();
    later |= latch.HandOver();
    EXPECT_EQ(later, row.later);
  }
}

TEST(PortNameTest, RecognisesPortNumbers) {
  struct Row {
    const char* name;
    int32_t index;
  } rows[] = {{"com3", 2},  {"COM3", 2}, {"/dev/ttyS2", 2},  {"COM10", 9},
              {"COMX", -1}, {"COM", -1}, {"/dev/ttySX", -2}, {"/dev/pts/3", -1}};
  for (const Row& row : rows) EXPECT_EQ(TBlockSerial::PortNumberOf(row.name), row.index) << row.name;
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
  EXPECT_EQ(TBlockSerial::LineErrorCode(0x0006), 10002);
  EXPECT_EQ(TBlockSerial::LineErrorCode(0x0009), 10001);
  EXPECT_EQ(TBlockSerial::LineErrorCode(0x0100), 10003);
  EXPECT_EQ(TBlockSerial::LineErrorCode(0), 0);
}

TEST(ErrorModelTest, ClosedObjectAndNeverOpened) {
  std::vector<serial::THookSerialReason> reasons;
  {
    TBlockSerial port;
    port.SetStatusHook([&](TBlockSerial*, serial::THookSerialReason reason, const std::string&) {
      reasons.push_back(reason);
    });
    port.RaiseErrors(true);
    EXPECT_EQ(SerialErrorCodeOf([&] { port.SendText("x"); }), 9994);
    EXPECT_EQ(SerialErrorCodeOf([&] { port.ReceiveByte(10); }), 9994);
    // The queue count runs no readiness check: the system refuses the invalid handle.
    EXPECT_NE(SerialErrorCodeOf([&] { port.PendingCount(); }), 0);
  }
  ASSERT_EQ(reasons.size(), 1u);
  EXPECT_EQ(reasons[0], serial::HR_SerialClose);
}

// A reply that comes in two chunks, the second one at once. Per wait, the time-out bounds each
// wait, so even 0 lets the second chunk in; off, it bounds the whole
// receive, and a negative one is spent by the first wait. A receive that runs out of time
// keeps what it collected in the line buffer; an exact-length one hands the surplus back there.
TEST(ReceiveTimeoutTest, PerWaitOrTotal) {
  struct Row {
    bool perWait;
    int32_t timeout;
    int32_t code;
    const char* line;   // ReceiveUntil with terminator CR
    const char* kept;   // the line buffer after it
    const char* three;  // ReceiveCount of three bytes
  } rows[] = {{true, 0, 0, "ABC", "", "ABC"},
              {true, -1, 0, "ABC", "", "ABC"},
              {false, 10000, 0, "ABC", "", "ABC"},
              {false, 0, 9997, "", "AB", ""},
              {false, -1, 9997, "", "AB", ""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << (row.perWait ? "per wait " : "total ") << row.timeout);
    auto backend = std::make_unique<ScriptedBackend>();
    ScriptedBackend& device = *backend;
    serial::TClassicSerial port(std::move(backend));
    port.OpenPort("COM1");

    device.chunks = {{"AB", 0}, {"C\r", 0}};
    EXPECT_EQ(port.ReceiveUntil(row.timeout, "\r", serial::ReceiveLimits{0, !row.perWait, false}),
              row.line);
    EXPECT_EQ(port.LastError(), row.code);
    EXPECT_EQ(port.Held(), row.kept);

    port.DropHeld();
    device.chunks = {{"AB", 0}, {"CD", 0}};
    EXPECT_EQ(port.ReceiveCount(3, row.timeout, !row.perWait), row.three);
    EXPECT_EQ(port.LastError(), row.code);
    if (row.code == 0) {
      EXPECT_EQ(port.Held(), "D");
    }
  }
}

// The Windows build's serial backend against the simulated deco, reached as a COM port (under
// Wine the port is a link to the simulator's pseudo-terminal). The simulator is started in
// standby by the script that runs this program, with its 12th command's reply dropped.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <functional>

#include "protocol/hex_codec.h"
#include "protocol/service_mode.h"
#include "protocol/transaction.h"
#include "serial/block_serial.h"
#include "sim/deco_model.h"
#include "support/serial_errors.h"

using testing_support::SerialErrorCodeOf;
using namespace protocol;

namespace {

std::string PortName() {
  const char* port = std::getenv("PYRELINK_TEST_PORT");
  return port && *port ? port : "COM1";
}

struct Lines : StatusSink {
  std::vector<std::string> lines;
  void ShowStatusText(const std::string& line) override { lines.push_back(line); }
};

// Processor time of the calling thread, in milliseconds.
double ThreadCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return -1;
  auto ms = [](const FILETIME& time) {
    return static_cast<double>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                               time.dwLowDateTime) /
           10000.0;
  };
  return ms(kernel) + ms(user);
}

}  // namespace

// One scenario in order, as the deco sees it: connect from standby, read, a lost reply, leave.
TEST(ComPortTest, ConnectReadLostReplyAndLeave) {
  // The real clock: the deco needs the pause after the speed switch before it listens again.
  Lines log;
  DecoLink link(&log);
  DecoFacts learned;

  EnterServiceMode(link, PortName(), "115200", true, learned);
  ASSERT_GE(log.lines.size(), 4u);
  EXPECT_EQ(log.lines[1], sim::DefaultModel);
  EXPECT_EQ(log.lines.back(), "Initializing deco ...");
  EXPECT_EQ(link.Speed(), 115200u);

  // Command 12, after eleven to connect: no reply. A time-out within its bound, and the next
  // command is answered.
  link.SetBaseTimeout(100);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SerialErrorCodeOf([&] { SendCommand(link, "09", 1); }), serial::ErrTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(100 * FirstByteTimeoutFactor + 1000));
  link.SetBaseTimeout(StandardBaseTimeout);
  EXPECT_EQ(SendCommand(link, "09", 1), "021");

  std::string reply = SendCommand(link, "0221FF7FE00100", 1);
  uint8_t block[256];
  ASSERT_EQ(DecodeHexWords256(reply, 3, block), HexData::Good) << reply;
  std::vector<uint8_t> flash = sim::DecoModel::PatternFlash();
  EXPECT_TRUE(std::equal(block, block + 256, flash.begin() + 0x100));

  EXPECT_TRUE(LeaveServiceMode(link));
  link.Close();

  // A read on an empty queue waits its time-out and says so; it is no hang-up.
  serial::TBlockSerial port;
  port.OpenPort(PortName());
  port.SetDeadlockTimeout(100);
  char byte = 0;
  EXPECT_EQ(port.ReadBytes(&byte, 1), 0);
  EXPECT_EQ(port.LastError(), serial::ErrTimeout);
}

// 7E1 refused (Wine refuses it on a pseudo-terminal, at the latest from an open's second setting):
// only on Wine may the line become 8N1, and the note says so; anywhere else 8N1 would turn every
// parity bit into data, so the refusal is the error.
TEST(ComPortTest, RefusedLineFormatFallsBackOnlyOnWine) {
  struct Row {
    bool onWine;
    int32_t code;
    const char* note;
  } rows[] = {{true, 0, "line set to 8N1: Wine on a pseudo-terminal refused 7E1"},
              {false, ERROR_INVALID_PARAMETER, ""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.onWine ? "Wine" : "Windows");
    serial::TBlockSerial port(serial::MakeWindowsPortBackend(row.onWine));
    port.RaiseErrors(true);
    port.OpenPort(PortName());
    ASSERT_EQ(port.LastError(), 0);
    SerialErrorCodeOf([&] { port.ConfigureLine(9600, 7, 'E', 0, false, false); });
    EXPECT_EQ(SerialErrorCodeOf([&] { port.ConfigureLine(115200, 7, 'E', 0, false, false); }),
              row.code);
    EXPECT_EQ(port.LatencyNote(), row.note);
  }
}

// A wait for data that does not come leaves the processor to others (on Wine the event wait
// ends at once, and the queue is looked at in short sleeps), and lasts its time-out.
TEST(ComPortTest, AWaitForNothingLeavesTheProcessorFree) {
  serial::TBlockSerial port;
  port.RaiseErrors(true);
  port.OpenPort(PortName());
  constexpr int32_t WaitMs = 400;
  double cpuBefore = ThreadCpuMs();
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.WaitReadable(WaitMs));
  double elapsedMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  double cpuMs = ThreadCpuMs() - cpuBefore;
  EXPECT_GE(elapsedMs, WaitMs - 20);
  EXPECT_GE(cpuMs, 0);
  EXPECT_LT(cpuMs, elapsedMs / 4) << "ms of processor time in a wait of " << elapsedMs << " ms";
}

TEST(ComPortTest, NamesAndErrors) {
  serial::TBlockSerial port;
  port.OpenPort("COM250");
  EXPECT_EQ(port.DevicePath(), "\\\\.\\COM250");
  EXPECT_NE(port.LastError(), 0);
  std::string text = port.LastErrorText();
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.');
  EXPECT_NE(text.back(), ' ');
}

// TBlockSerial against a real pseudo-terminal: the test plays the device on the master side.
#include "serial/block_serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "serial/serial_util.h"
#include "support/pty_pair.h"
#include "support/serial_errors.h"

using serial::ESerialError;
using serial::TBlockSerial;
using testing_support::PtyPair;
using testing_support::SerialErrorCodeOf;

namespace {

constexpr int ShortTimeout = 60;

struct OpenPort {
  PtyPair pty;
  TBlockSerial port;
  OpenPort() {
    port.RaiseErrors(true);
    port.OpenPort(pty.SlavePath());
    port.ConfigureLine(9600, 7, 'E', 0, false, false);
  }
};

}  // namespace

TEST(PortNameTest, OnlyAPortNumberNamesANumberedDevice) {
  struct Row {
    const char* name;
    const char* device;
  } rows[] = {{"COM250", "/dev/ttyS249"},
              {"/dev/ttyS250", "/dev/ttyS250"},
              {"/dev/ttySC250", "/dev/ttySC250"},
              {"/dev/ttySTM250", "/dev/ttySTM250"},
              {"COMX", "COMX"}};
  for (const Row& row : rows) {
    TBlockSerial port;
    port.OpenPort(row.name);
    EXPECT_EQ(port.DevicePath(), row.device) << row.name;
    EXPECT_EQ(port.LastError(), ENOENT) << row.name;
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Handle(), -1);
  }
}

TEST(OpenTest, MissingBusyAndSecondOpen) {
  TBlockSerial missing;
  missing.RaiseErrors(true);
  try {
    missing.OpenPort("/dev/pyrelink-no-such-device");
    FAIL() << "no exception";
  } catch (const ESerialError& error) {
    EXPECT_EQ(error.Code, ENOENT);
    EXPECT_EQ(error.Description, "No such file or directory");
  }
  EXPECT_FALSE(missing.IsOpen());

  OpenPort first;
  EXPECT_TRUE(first.port.IsOpen());
  EXPECT_EQ(SerialErrorCodeOf([&] { first.port.OpenPort(first.pty.SlavePath()); }), 9992);
  EXPECT_TRUE(first.port.IsOpen());

  TBlockSerial second;
  second.RaiseErrors(true);
  EXPECT_EQ(SerialErrorCodeOf([&] { second.OpenPort(first.pty.SlavePath()); }), EBUSY);
  EXPECT_FALSE(second.IsOpen());
  first.port.ClosePort();
  EXPECT_EQ(SerialErrorCodeOf([&] { second.OpenPort(first.pty.SlavePath()); }), 0);
}

TEST(ConfigureLineTest, RecordAndFlags) {
  OpenPort link;
  const auto& s = link.port.LineSettings();
  EXPECT_EQ(s.Length, 28u);
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.DataBits, 7);
  EXPECT_EQ(s.Parity, 2);
  EXPECT_EQ(s.StopBits, 0);
  EXPECT_EQ(s.XonChar, 17);
  EXPECT_EQ(s.XoffChar, 19);
  EXPECT_EQ(s.XonLimit, 1024);
  EXPECT_EQ(s.XoffLimit, 1024);
  EXPECT_EQ(s.Flags, 0x1013u);
  link.port.ConfigureLine(115200, 8, 'n', 0, false, false);
  EXPECT_EQ(s.Flags, 0x1011u);
  link.port.ConfigureLine(9600, 8, 'N', 0, true, true);
  EXPECT_EQ(s.Flags, 0x2315u);
  EXPECT_NE(SerialErrorCodeOf([&] { link.port.ConfigureLine(12345, 7, 'E', 0, false, false); }), 0);
  EXPECT_TRUE(link.port.IsOpen());
}

TEST(ReceiveTest, LineBufferServesBytesAndKeepsWhatFollowsTheTerminator) {
  OpenPort link;
  link.pty.WriteMaster("AB");
  EXPECT_EQ(link.port.ReceiveByte(ShortTimeout * 10), 'A');
  EXPECT_EQ(link.port.Held(), "B");
  EXPECT_EQ(link.port.ReceiveByte(0), 'B');

  link.pty.WriteMaster("OK\r\nNX");
  EXPECT_EQ(link.port.ReceiveUntil(ShortTimeout * 10, "\r"), "OK");
  EXPECT_EQ(link.port.Held(), "\nNX");

  EXPECT_EQ(link.port.ReceiveUntil(ShortTimeout, ""), "");
  EXPECT_EQ(link.port.LastError(), 0);
  EXPECT_EQ(link.port.Held(), "\nNX");
}

TEST(ReceiveTest, PortIsRawFromTheOpenOn) {
  PtyPair pty;
  {
    // What an earlier program may leave behind: echo, lines, CR turned into LF.
    int earlier = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    termios cooked{};
    ::tcgetattr(earlier, &cooked);
    cooked.c_lflag |= ECHO | ICANON;
    cooked.c_iflag |= ICRNL;
    ::tcsetattr(earlier, TCSANOW, &cooked);
    ::close(earlier);
  }
  TBlockSerial port;
  port.RaiseErrors(true);
  port.OpenPort(pty.SlavePath());
  pty.WriteMaster("OK\r");
  EXPECT_EQ(port.ReceiveUntil(ShortTimeout * 10, "\r"), "OK");
  EXPECT_EQ(pty.ReadMaster(ShortTimeout), "");  // nothing echoed back to the device
}

TEST(ReceiveTest, ReadBytesOnAnEmptyQueueWaitsItsTimeoutAndIsNoHangUp) {
  OpenPort link;
  link.port.RaiseErrors(false);
  link.port.SetDeadlockTimeout(ShortTimeout);
  char byte = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link.port.ReadBytes(&byte, 1), 0);
  EXPECT_EQ(link.port.LastError(), 9997);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ShortTimeout));
  link.pty.WriteMaster("x");
  EXPECT_EQ(link.port.ReadBytes(&byte, 1), 1);
  EXPECT_EQ(byte, 'x');
  link.pty.CloseMaster();
  EXPECT_EQ(link.port.ReadBytes(&byte, 1), 0);
  EXPECT_NE(link.port.LastError(), 0);
  EXPECT_NE(link.port.LastError(), 9997);
}

TEST(ReceiveTest, TimeoutKeepsCollectedBytes) {
  OpenPort link;
  EXPECT_EQ(SerialErrorCodeOf([&] { link.port.ReceiveUntil(ShortTimeout, "\r"); }), 9997);
  EXPECT_EQ(link.port.Held(), "");
  EXPECT_FALSE(link.port.WaitReadable(0));
  EXPECT_EQ(link.port.LastError(), 0);

  link.pty.WriteMaster("partial");
  EXPECT_EQ(SerialErrorCodeOf([&] { link.port.ReceiveUntil(ShortTimeout, "\r"); }), 9997);
  EXPECT_EQ(link.port.Held(), "partial");
}

TEST(ReceiveTest, TheTimeoutLimitsEachSilenceOrTheTotal) {
  for (bool perWait : {true, false}) {
    OpenPort link;
    std::thread trickle([&] {
      for (int i = 0; i < 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        link.pty.WriteMaster("x");
      }
      link.pty.WriteMaster("\r");
    });
    int32_t code =
        SerialErrorCodeOf([&] {
          EXPECT_EQ(link.port.ReceiveUntil(100, "\r", serial::ReceiveLimits{0, !perWait, false}),
                    "xxxxxxxx");
        });
    trickle.join();
    if (perWait) {
      EXPECT_EQ(code, 0);
    } else {
      EXPECT_EQ(code, 9997);
      EXPECT_FALSE(link.port.Held().empty());
      EXPECT_EQ(link.port.Held().find('\r'), std::string::npos);
    }
  }
}

TEST(ReceiveTest, MaxLineLength) {
  OpenPort link;
  const serial::ReceiveLimits four{4, false, false};
  link.pty.WriteMaster("123456\r");
  EXPECT_EQ(SerialErrorCodeOf([&] { link.port.ReceiveUntil(ShortTimeout * 10, "\r", four); }),
            9996);
  EXPECT_EQ(link.port.Held(), "123456\r");  // nothing lost with the error
  link.port.DiscardBuffers();
  // A short line followed by the next one's first bytes is within the limit.
  link.pty.WriteMaster("12\r34567");
  EXPECT_EQ(link.port.ReceiveUntil(ShortTimeout * 10, "\r", four), "12");
  link.port.DiscardBuffers();
  link.pty.WriteMaster("123456\r");
  EXPECT_EQ(link.port.ReceiveUntil(ShortTimeout * 10, "\r"), "123456");
}

TEST(ReceiveTest, AnyLineEndDropsTheLfAfterALoneCr) {
  OpenPort link;
  const serial::ReceiveLimits anyEnd{0, false, true};
  link.pty.WriteMaster("a\r");
  EXPECT_EQ(link.port.ReceiveUntil(ShortTimeout * 10, "\r\n", anyEnd), "a");
  link.pty.WriteMaster("\nb\r\n");
  EXPECT_EQ(link.port.ReceiveUntil(ShortTimeout * 10, "\r\n", anyEnd), "b");
  EXPECT_EQ(link.port.Held(), "");
}

// A line as long as the one before it, arriving at the line's pace, is slept for until it can be
// there and taken in a few reads: its receive does not wake for every character or two.
TEST(ReceiveTest, ALineAsLongAsTheLastIsNotWokenForByEachCharacter) {
  constexpr int32_t Baud = 115200;
  constexpr size_t Length = 520;
  OpenPort link;
  link.port.ConfigureLine(Baud, 7, 'E', 0, false, false);
  const std::string line = std::string(Length - 1, '7') + "\r";
  const serial::ReceiveLimits whole{0, true, false};
  link.pty.WriteMaster(line);
  EXPECT_EQ(link.port.ReceiveUntil(1000, "\r", whole), line.substr(0, Length - 1));
  // The first characters wait at once, as for a receiver that comes late; the rest come at the
  // line's speed and are slept for, not woken for one by one.
  constexpr size_t Backlog = 128;
  std::thread paced([&] {
    const auto start = std::chrono::steady_clock::now();
    const auto perCharacter = std::chrono::microseconds(serial::BitsPerCharacter * 1000000 / Baud);
    link.pty.WriteMaster(line.substr(0, Backlog));
    for (size_t i = Backlog; i < Length; ++i) {
      std::this_thread::sleep_until(start + perCharacter * static_cast<int>(i - Backlog));
      link.pty.WriteMaster(line.substr(i, 1));
    }
  });
  rusage before{}, after{};
  ::getrusage(RUSAGE_THREAD, &before);
  EXPECT_TRUE(link.port.WaitCharacter(1000, false));
  EXPECT_EQ(link.port.ReceiveUntil(1000, "\r", whole), line.substr(0, Length - 1));
  ::getrusage(RUSAGE_THREAD, &after);
  paced.join();
  EXPECT_LT(after.ru_nvcsw - before.ru_nvcsw, static_cast<long>(Length / 20));

  // A line whose first part came at once, faster than the line carries it, has its rest waited
  // for as it comes, never slept for at the line's speed (at 9600 baud 200 ms).
  link.port.ConfigureLine(9600, 7, 'E', 0, false, false);
  link.pty.WriteMaster(line.substr(0, Length / 2));
  std::thread rest([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    link.pty.WriteMaster(line.substr(Length / 2));
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link.port.ReceiveUntil(1000, "\r", whole), line.substr(0, Length - 1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  rest.join();
}

TEST(SendTest, WritesReachTheDeviceAndWaitsReport) {
  OpenPort link;
  std::vector<serial::THookSerialReason> reasons;
  link.port.SetStatusHook([&](TBlockSerial*, serial::THookSerialReason reason,
                               const std::string&) { reasons.push_back(reason); });
  EXPECT_TRUE(link.port.WaitWritable(-1));
  link.port.SendText("VORTANE\r\n");
  EXPECT_EQ(link.pty.ReadMaster(500, 9), "VORTANE\r\n");
  std::string big(64 * 1024, 'Z');
  std::thread reader([&] { EXPECT_EQ(link.pty.ReadMaster(3000, big.size()).size(), big.size()); });
  link.port.SendText(big);  // more than the pty holds: the write must wait for room
  reader.join();
  link.port.SetStatusHook(nullptr);  // the hook must not outlive what it writes to
  ASSERT_GE(reasons.size(), 2u);
  EXPECT_EQ(reasons[0], serial::HR_CanWrite);
  EXPECT_EQ(reasons[1], serial::HR_WriteCount);
}

TEST(HangUpTest, PeerClosingMidReceiveIsAnErrorAtOnce) {
  OpenPort link;
  link.pty.WriteMaster("12");
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    link.pty.CloseMaster();
  });
  auto start = std::chrono::steady_clock::now();
  int32_t code = SerialErrorCodeOf([&] { link.port.ReceiveUntil(5000, "\r"); });
  auto spent = std::chrono::steady_clock::now() - start;
  closer.join();
  EXPECT_NE(code, 0);
  EXPECT_NE(code, 9997);
  EXPECT_LT(spent, std::chrono::milliseconds(2000));
  EXPECT_EQ(link.port.Held(), "12");
}

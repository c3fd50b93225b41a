// The Linux port list and the adapters' latency timers, against made-up sysfs trees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "serial/low_latency.h"
#include "serial/sysfs_ports.h"
#include "support/files.h"
#include "support/pty_pair.h"

// A made-up sysfs tree: the list must come from its attributes alone, so a device node that
// does not exist (as here) or cannot be opened still shows up. A UART type of 0 means no UART
// answered, whatever driver registered the port: kernels before 6.5 link a legacy port's device
// to the serial8250 driver, later ones to the serial-base bus's "port" driver.
TEST(PortListTest, SysfsAttributesDecideWithoutOpening) {
  namespace fs = std::filesystem;
  fs::path root = fs::temp_directory_path() / ("pyrelink-sysfs-" + std::to_string(::getpid()));
  fs::path drivers = root / "drivers";
  struct Row {
    const char* tty;
    const char* driver;  // nullptr: no device behind the tty
    const char* type;    // nullptr: no type attribute
  } rows[] = {{"ttyS0", "serial8250", "4"},     {"ttyS1", "serial8250", "0"},
              {"ttyS10", "serial8250", "4"},    {"ttyS2", "serial8250", "4"},
              {"ttyS3", "port", "0"},           {"ttyS4", "port", "4"},
              {"ttyUSB0", "ftdi_sio", nullptr}, {"ttySC0", "sc16is7xx", "0"},
              {"ttySC1", "sc16is7xx", "4"},     {"tty1", nullptr, nullptr}};
  for (const Row& row : rows) {
    fs::path tty = root / "class" / row.tty;
    fs::create_directories(tty);
    if (row.type) std::ofstream(tty / "type") << row.type << "\n";
    if (!row.driver) continue;
    fs::create_directories(tty / "device");
    fs::create_directories(drivers / row.driver);
    fs::create_directory_symlink(drivers / row.driver, tty / "device" / "driver");
  }
  EXPECT_EQ(serial::SysfsSerialPorts((root / "class").string()),
            (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS4", "/dev/ttyS10",
                                      "/dev/ttySC1", "/dev/ttyUSB0"}));
  fs::remove_all(root);
}

// An adapter's latency timer in a made-up sysfs tree: set to 1 ms at the open when it is longer,
// left alone when it is 1 ms already, put back at the close. A pty has no low-latency flag.
TEST(LowLatencyTest, LatencyTimerSetForTheOpenAndPutBack) {
  namespace fs = std::filesystem;
  testing_support::PtyPair pty;
  const std::string name = fs::canonical(pty.SlavePath()).filename();
  struct Row {
    const char* before;  // nullptr: no latency timer (not an FTDI adapter)
    const char* during;
    const char* note;
  } rows[] = {{"16", "1", "no low-latency flag; latency timer 16 ms -> 1 ms"},
              {"1", "1", "no low-latency flag; latency timer already 1 ms"},
              {nullptr, nullptr, "no low-latency flag"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.before ? row.before : "none");
    testing_support::TempDir root;
    fs::path timer = fs::path(root.Path()) / "class/tty" / name / "device/latency_timer";
    if (row.before) {
      fs::create_directories(timer.parent_path());
      std::ofstream(timer) << row.before << "\n";
    }
    auto readTimer = [&] {
      std::string value;
      std::ifstream(timer) >> value;
      return value;
    };
    int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    serial::LatencyChange change = serial::RequestLowLatency(fd, pty.SlavePath(), root.Path());
    EXPECT_EQ(change.note, row.note);
    EXPECT_EQ(readTimer(), row.during ? row.during : "");
    serial::RestoreLatency(fd, change);
    EXPECT_EQ(readTimer(), row.before ? row.before : "");
    ::close(fd);
  }
}

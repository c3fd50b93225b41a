// The Linux port list's source, against a made-up sysfs tree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "serial/sysfs_ports.h"

// A made-up sysfs tree: the list must come from its attributes alone, so a device node that
// does not exist (as here) or cannot be opened still shows up.
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
              {"ttyUSB0", "ftdi_sio", nullptr}, {"ttySC0", "sc16is7xx", "0"},
              {"tty1", nullptr, nullptr}};
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
            (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttySC0",
                                      "/dev/ttyUSB0"}));
  fs::remove_all(root);
}

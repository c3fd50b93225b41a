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
// does not exist or cannot be opened still shows up. A UART type of 0 means no UART answered,
// whatever driver registered the port: kernels before 6.5 link a legacy port's device to the
// serial8250 driver, later ones to the serial-base bus's "port" driver. A USB adapter's details
// come from the USB device above its tty (not from the hub above that), its stable name from
// the by-id link that leads to its own device node, and its latency timer from its usb-serial
// port, where only FTDI's driver shows one.
TEST(PortListTest, SysfsAttributesDecideWithoutOpening) {
  namespace fs = std::filesystem;
  testing_support::TempDir temp;
  const fs::path root = temp.Path();
  const fs::path drivers = root / "bus/drivers";
  const fs::path byId = root / "dev/serial/by-id";
  struct Row {
    const char* tty;
    const char* driver;  // nullptr: no device behind the tty
    const char* type;    // nullptr: no type attribute
  } rows[] = {{"ttyS0", "serial8250", "4"},     {"ttyS1", "serial8250", "0"},
              {"ttyS10", "serial8250", "4"},    {"ttyS2", "serial8250", "4"},
              {"ttyS3", "port", "0"},           {"ttyS4", "port", "4"},
              {"ttyUSB0", "ftdi_sio", nullptr}, {"ttyUSB1", "cp210x", nullptr},
              {"ttyACM0", "cdc_acm", nullptr},  {"ttySC0", "sc16is7xx", "0"},
              {"ttySC1", "sc16is7xx", "4"},     {"tty1", nullptr, nullptr}};
  // The tty's device below a USB device: usb-serial drivers put a folder of their own under the
  // interface, an ACM port's device is the interface. nullptr: the device has no such file.
  struct Usb {
    const char* tty;
    const char* usbDevice;
    const char* ttyDevice;
    const char* vendor;
    const char* product;
    const char* serial;
    const char* productText;
    const char* manufacturer;
    const char* link;  // udev's name in by-id
    const char* description;
    const char* latencyTimer;
  } usbs[] = {{"ttyUSB0", "usb1/1-1", "usb1/1-1/1-1:1.0/ttyUSB0", "0403", "6001", "A1B2C3",
               "FT232R USB UART", "FTDI", "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0",
               "FT232R USB UART", "16"},
              {"ttyUSB1", "usb1/1-3", "usb1/1-3/1-3:1.0/ttyUSB1", "10c4", "ea60", "0001",
               "CP2102 USB to UART Bridge Controller", "Silicon Labs",
               "usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0",
               "CP2102 USB to UART Bridge Controller", nullptr},
              {"ttyACM0", "usb1/1-2", "usb1/1-2/1-2:1.0", "2341", "0043", nullptr, nullptr,
               "Arduino (www.arduino.cc)", "usb-Arduino__www.arduino.cc__0043-if00",
               "Arduino (www.arduino.cc)", nullptr}};
  auto put = [](const fs::path& file, const char* text) {
    if (text) std::ofstream(file) << text << "\n";
  };
  fs::create_directories(root / "devices/usb1");
  put(root / "devices/usb1/idVendor", "1d6b");  // the root hub
  fs::create_directories(byId);
  const fs::path usbSerialPorts = root / "bus/usb-serial/devices";
  fs::create_directories(usbSerialPorts);
  auto usbOf = [&](const std::string& tty) -> const Usb* {
    for (const Usb& usb : usbs) {
      if (tty == usb.tty) return &usb;
    }
    return nullptr;
  };
  for (const Row& row : rows) {
    fs::path tty = root / "class/tty" / row.tty;
    fs::create_directories(tty);
    put(tty / "type", row.type);
    if (!row.driver) continue;
    fs::path device = tty / "device";
    if (const Usb* usb = usbOf(row.tty)) {
      fs::path usbDevice = root / "devices" / usb->usbDevice;
      device = root / "devices" / usb->ttyDevice;
      fs::create_directories(device);
      fs::create_directory_symlink(device, tty / "device");
      put(usbDevice / "idVendor", usb->vendor);
      put(usbDevice / "idProduct", usb->product);
      put(usbDevice / "serial", usb->serial);
      put(usbDevice / "product", usb->productText);
      put(usbDevice / "manufacturer", usb->manufacturer);
      put(device / "latency_timer", usb->latencyTimer);
      // A usb-serial driver's port is its own folder, and on the bus of such ports.
      if (device.filename() == row.tty)
        fs::create_directory_symlink(device, usbSerialPorts / row.tty);
      fs::create_symlink(fs::path("../..") / row.tty, byId / usb->link);
    }
    fs::create_directories(device);
    fs::create_directories(drivers / row.driver);
    fs::create_directory_symlink(drivers / row.driver, device / "driver");
    put(root / "dev" / row.tty, "");
  }
  const std::vector<std::string> listed = serial::SysfsSerialPorts((root / "class/tty").string());
  EXPECT_EQ(listed, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS2",
                                              "/dev/ttyS4", "/dev/ttyS10", "/dev/ttySC1",
                                              "/dev/ttyUSB0", "/dev/ttyUSB1"}));
  for (const std::string& port : listed) {
    const std::string tty = fs::path(port).filename().string();
    SCOPED_TRACE(tty);
    const std::string node = (root / "dev" / tty).string();
    const serial::PortDetails details =
        serial::SysfsPortDetails(node, root.string(), byId.string());
    const Usb* usb = usbOf(tty);
    auto expected = [&](const char* Usb::*field) {
      return usb && usb->*field ? std::string(usb->*field) : std::string();
    };
    EXPECT_EQ(details.name, node);
    EXPECT_EQ(details.description, expected(&Usb::description));
    EXPECT_EQ(details.vendor, expected(&Usb::vendor));
    EXPECT_EQ(details.product, expected(&Usb::product));
    EXPECT_EQ(details.serial, expected(&Usb::serial));
    EXPECT_EQ(details.byId, usb ? (byId / usb->link).string() : "");
    const bool timer = usb && usb->latencyTimer;
    EXPECT_EQ(details.latencyTimerMs,
              timer ? std::optional<int>(std::stoi(usb->latencyTimer)) : std::nullopt);
    EXPECT_EQ(serial::WhereToLowerLatencyTimer(details),
              timer ? "echo 1 > /sys/bus/usb-serial/devices/" + tty + "/latency_timer" : "");
  }
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

// Port details from sysfs: a USB adapter's tty hangs below one of the USB device's interfaces,
// and the device's folder holds its ids and strings. The stable name is udev's link under
// /dev/serial/by-id, which names the adapter rather than the order it was plugged in. An FTDI
// adapter's driver shows its latency timer beside its usb-serial port.
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/low_latency.h"
#include "serial/port_details.h"
#include "serial/port_list.h"
#include "serial/serial_util.h"
#include "serial/sysfs_ports.h"

namespace serial {

namespace {

namespace fs = std::filesystem;

constexpr const char* SysfsRoot = "/sys";
constexpr const char* ByIdFolder = "/dev/serial/by-id";
constexpr const char* UsbSerialDevices = "bus/usb-serial/devices";
constexpr const char* LatencyTimerFile = "latency_timer";

std::string Attribute(const fs::path& folder, const char* name) {
  std::ifstream in(folder / name);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ') line.pop_back();
  return line;
}

// The tty's name of a device path: that of the node a link leads to.
std::string TtyName(const std::string& devicePath) {
  std::error_code error;
  fs::path node = fs::canonical(devicePath, error);
  return (error ? fs::path(devicePath) : node).filename().string();
}

// The folder of the tty's usb-serial port; the driver's own attributes are there.
fs::path UsbSerialPort(const fs::path& root, const std::string& tty) {
  return root / UsbSerialDevices / tty;
}

// The latency timer in whole milliseconds; none when the file is absent or holds something else.
std::optional<int> LatencyTimer(const fs::path& root, const std::string& tty) {
  const std::string text = Attribute(UsbSerialPort(root, tty), LatencyTimerFile);
  int ms = 0;
  auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (text.empty() || failure != std::errc() || end != text.data() + text.size() || ms < 0)
    return std::nullopt;
  return ms;
}

bool Within(const fs::path& path, const fs::path& root) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

// The first folder above the tty's device that has a USB vendor id; none for a port that is
// not on USB. The walk stays within the sysfs tree.
fs::path UsbDeviceFolder(const fs::path& ttyFolder, const fs::path& root) {
  std::error_code error;
  fs::path folder = fs::canonical(ttyFolder / "device", error);
  if (error) return {};
  for (; Within(folder, root) && folder != root; folder = folder.parent_path()) {
    if (fs::exists(folder / "idVendor", error)) return folder;
  }
  return {};
}

// The link in byIdDir that leads to the same device node; the first by name when several do.
std::string ByIdLink(const std::string& devicePath, const std::string& byIdDir) {
  std::vector<std::string> links;
  std::error_code error;
  for (fs::directory_iterator entry(byIdDir, error), end; !error && entry != end;
       entry.increment(error)) {
    std::error_code same;
    if (fs::equivalent(entry->path(), devicePath, same)) links.push_back(entry->path().string());
  }
  return links.empty() ? "" : *std::min_element(links.begin(), links.end());
}

}  // namespace

PortDetails SysfsPortDetails(const std::string& devicePath, const std::string& sysfsRoot,
                             const std::string& byIdDir) {
  PortDetails details;
  details.name = devicePath;
  std::error_code error;
  fs::path root = fs::canonical(sysfsRoot, error);
  if (error) return details;
  std::string tty = TtyName(devicePath);
  fs::path usb = UsbDeviceFolder(root / "class" / "tty" / tty, root);
  if (!usb.empty()) {
    details.vendor = Attribute(usb, "idVendor");
    details.product = Attribute(usb, "idProduct");
    details.serial = Attribute(usb, "serial");
    details.description = Attribute(usb, "product");
    if (details.description.empty()) details.description = Attribute(usb, "manufacturer");
  }
  details.byId = ByIdLink(devicePath, byIdDir);
  details.latencyTimerMs = LatencyTimer(root, tty);
  return details;
}

std::vector<PortDetails> ListPortDetails() {
  std::vector<std::string> names;
  SplitList(ListSerialPorts(), ',', names);
  std::vector<PortDetails> ports;
  for (const std::string& name : names)
    ports.push_back(SysfsPortDetails(name, SysfsRoot, ByIdFolder));
  return ports;
}

std::string WhereToLowerLatencyTimer(const PortDetails& port) {
  if (!port.latencyTimerMs) return "";
  return std::string("echo ") + LowLatencyTimerMs + " > " +
         (UsbSerialPort(SysfsRoot, TtyName(port.name)) / LatencyTimerFile).string();
}

}  // namespace serial

// Port details from the registry: each device that made a COM port has an instance key under
// SYSTEM\CurrentControlSet\Enum (enumerator, device id, instance) whose "Device Parameters" name
// the port, and whose FriendlyName is what the Device Manager shows. USB device ids carry the
// vendor and product ids; the USB enumerator's instance name is the adapter's serial number
// when it has one (otherwise the system makes up a name with '&' in it). FTDI's driver makes its
// ports under an enumerator of its own, with '+' between the parts of their device ids, and keeps
// each port's latency timer beside its name. Best effort: keys this user may not read are passed
// over.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "serial/port_details.h"
#include "serial/port_list.h"
#include "serial/serial_util.h"

namespace serial {

namespace {

constexpr const char* EnumKey = "SYSTEM\\CurrentControlSet\\Enum";
constexpr const char* UsbEnumerator = "USB";
constexpr const char* FtdiEnumerator = "FTDIBUS";
constexpr const char* DeviceParameters = "Device Parameters";
constexpr DWORD MaxKeyName = 255;

class Key {
 public:
  Key(HKEY parent, const std::string& name) {
    if (::RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_) ::RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  explicit operator bool() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  char name[MaxKeyName + 1];
  for (DWORD index = 0;; ++index) {
    DWORD length = MaxKeyName + 1;
    if (::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  return names;
}

// A text value of key (or of its subkey, when given); empty when there is none.
std::string TextValue(HKEY key, const char* subkey, const char* value) {
  DWORD size = 0;
  if (::RegGetValueA(key, subkey, value, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return "";
  std::vector<char> data(size + 1, 0);
  if (::RegGetValueA(key, subkey, value, RRF_RT_REG_SZ, nullptr, data.data(), &size) !=
      ERROR_SUCCESS)
    return "";
  return data.data();
}

// A DWORD value of key's subkey that fits an int; none when there is none.
std::optional<int> NumberValue(HKEY key, const char* subkey, const char* value) {
  DWORD data = 0;
  DWORD size = sizeof data;
  if (::RegGetValueA(key, subkey, value, RRF_RT_REG_DWORD, nullptr, &data, &size) !=
          ERROR_SUCCESS ||
      data > static_cast<DWORD>(std::numeric_limits<int>::max()))
    return std::nullopt;
  return static_cast<int>(data);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The four hex digits after tag ("VID_", "PID_") in a device id, in lower case as other systems
// write them; empty when absent.
std::string IdAfter(const std::string& deviceId, const std::string& tag) {
  size_t at = Lower(deviceId).find(Lower(tag));
  if (at == std::string::npos || at + tag.size() + 4 > deviceId.size()) return "";
  std::string id = Lower(deviceId.substr(at + tag.size(), 4));
  bool hex = std::all_of(id.begin(), id.end(),
                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
  return hex ? id : "";
}

void Describe(PortDetails& port, HKEY instance, const std::string& enumerator,
              const std::string& deviceId, const std::string& instanceName) {
  port.description = TextValue(instance, nullptr, "FriendlyName");
  port.vendor = IdAfter(deviceId, "VID_");
  port.product = IdAfter(deviceId, "PID_");
  if (Lower(enumerator) == Lower(UsbEnumerator) &&
      instanceName.find('&') == std::string::npos)
    port.serial = instanceName;
  if (Lower(enumerator) == Lower(FtdiEnumerator))
    port.latencyTimerMs = NumberValue(instance, DeviceParameters, "LatencyTimer");
}

}  // namespace

std::vector<PortDetails> ListPortDetails() {
  std::vector<std::string> names;
  SplitList(ListSerialPorts(), ',', names);
  std::vector<PortDetails> ports;
  for (const std::string& name : names)
    ports.push_back(PortDetails{name, "", "", "", "", "", std::nullopt});
  if (ports.empty()) return ports;
  Key root(HKEY_LOCAL_MACHINE, EnumKey);
  if (!root) return ports;
  for (const std::string& enumerator : SubkeyNames(root.get())) {
    Key bus(root.get(), enumerator);
    if (!bus) continue;
    for (const std::string& deviceId : SubkeyNames(bus.get())) {
      Key device(bus.get(), deviceId);
      if (!device) continue;
      for (const std::string& instanceName : SubkeyNames(device.get())) {
        Key instance(device.get(), instanceName);
        if (!instance) continue;
        std::string portName = Lower(TextValue(instance.get(), DeviceParameters, "PortName"));
        if (portName.empty()) continue;
        for (PortDetails& port : ports) {
          if (Lower(port.name) == portName)
            Describe(port, instance.get(), enumerator, deviceId, instanceName);
        }
      }
    }
  }
  return ports;
}

std::string WhereToLowerLatencyTimer(const PortDetails& port) {
  if (!port.latencyTimerMs) return "";
  return "Device Manager, the port's Properties, Port Settings, Advanced, Latency Timer (msec)";
}

}  // namespace serial

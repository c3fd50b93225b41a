// Serial ports from the registry: the data of the values under HARDWARE\DEVICEMAP\SERIALCOMM,
// in the order the registry gives them.
#include <windows.h>

#include <string>
#include <vector>

#include "serial/port_list.h"
#include "serial/serial_util.h"

namespace serial {

namespace {
constexpr const char* SerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD MaxValueName = 16383;
}  // namespace

std::string ListSerialPorts() {
  // Read access is enough, and all that a user without administrator rights gets: asking for
  // full access would leave such a user with an empty list.
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SerialCommKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return "";
  std::vector<std::string> names;
  std::vector<char> valueName(MaxValueName + 1);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = MaxValueName + 1;
    DWORD type = 0;
    DWORD dataLength = 0;
    LONG status = ::RegEnumValueA(key, index, valueName.data(), &nameLength, nullptr, &type,
                                  nullptr, &dataLength);
    if (status != ERROR_SUCCESS) break;
    // A value that holds no text names no port.
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    std::vector<char> data(dataLength + 1, 0);
    nameLength = MaxValueName + 1;
    if (::RegEnumValueA(key, index, valueName.data(), &nameLength, nullptr, &type,
                        reinterpret_cast<BYTE*>(data.data()), &dataLength) != ERROR_SUCCESS)
      continue;
    names.emplace_back(data.data());  // text data end at their first zero byte
  }
  ::RegCloseKey(key);
  if (names.empty()) return "";
  return JoinList(names);
}

}  // namespace serial

// Windows refuses a COM port that another program holds open with "access denied" (or a sharing
// violation), and one that does not exist with "file not found".
#include <windows.h>

#include "cli/access_hint.h"

namespace cli {

namespace {
// Ports are opened in the device namespace (\\.\COM10); users know them by the plain name.
constexpr const char* DeviceNamespace = "\\\\.\\";
}  // namespace

std::string AccessHint(int code, const std::string& devicePath) {
  const std::string port = devicePath.rfind(DeviceNamespace, 0) == 0
                               ? devicePath.substr(std::string(DeviceNamespace).size())
                               : devicePath;
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return NoSuchPortHint(port);
  if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) return PortInUseHint(port);
  return "";
}

}  // namespace cli

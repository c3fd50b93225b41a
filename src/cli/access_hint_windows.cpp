// Windows refuses a COM port that another program holds open with "access denied" (or a sharing
// violation), and one that does not exist with "file not found".
#include <windows.h>

#include "cli/access_hint.h"

namespace cli {

std::string AccessHint(int code, const std::string& devicePath) {
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
    return NoSuchPortHint(devicePath);
  if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)
    return PortInUseHint(devicePath);
  return "";
}

}  // namespace cli

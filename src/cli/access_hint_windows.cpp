// Windows refuses a COM port that another program holds open with "access denied".
#include <windows.h>

#include "cli/access_hint.h"

namespace cli {

std::string AccessHint(int code, const std::string& devicePath) {
  if (code != ERROR_ACCESS_DENIED) return "";
  return devicePath + " is in use by another program (a terminal, a modem tool, another " +
         "Pyrelink): close it and try again.";
}

}  // namespace cli

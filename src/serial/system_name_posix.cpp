#include <sys/utsname.h>

#include "serial/system_name.h"

namespace serial {

std::string SystemName() {
  utsname name{};
  if (::uname(&name) != 0) return "an unknown POSIX system";
  return std::string(name.sysname) + " " + name.release + " " + name.machine;
}

}  // namespace serial

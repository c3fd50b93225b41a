// On POSIX systems serial devices belong to a group (dialout, uucp, tty): its members may open
// them, and a new membership takes effect at the next login. Another opener holds the port by an
// exclusive lock.
#include <grp.h>
#include <sys/stat.h>

#include <cerrno>

#include "cli/access_hint.h"

namespace cli {

std::string AccessHint(int code, const std::string& devicePath) {
  // A device node that is not there, or whose device is gone (an adapter pulled out).
  if (code == ENOENT || code == ENODEV || code == ENXIO) return NoSuchPortHint(devicePath);
  // The serial layer reports another opener's exclusive lock as busy.
  if (code == EBUSY) return PortInUseHint(devicePath);
  if (code != EACCES && code != EPERM) return "";
  struct stat device {};
  if (::stat(devicePath.c_str(), &device) != 0)
    return "this user may not open " + devicePath + "; ask the administrator for access to it.";
  const group* owner = ::getgrgid(device.st_gid);
  std::string name = owner ? owner->gr_name : std::to_string(device.st_gid);
  return devicePath + " may be opened by the members of group " + name +
         ": add this user to it (for example: sudo usermod -aG " + name +
         " \"$USER\") and log in again.";
}

}  // namespace cli

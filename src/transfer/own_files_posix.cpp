#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "protocol/protocol_error.h"
#include "transfer/own_files.h"

namespace transfer {

bool CreateNewFile(const std::string& name) {
  constexpr mode_t ReadWriteForAll = 0666;  // less the user's umask, as any new file
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ReadWriteForAll);
  if (fd < 0) {
    if (errno == EEXIST) return false;
    throw protocol::EFileError("Cannot create", name, errno);
  }
  ::close(fd);
  return true;
}

}  // namespace transfer

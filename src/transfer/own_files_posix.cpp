// Files held with flock: the lock belongs to the open file description the run keeps, so the
// run's own other opens of the file (its writes, the rename) are not in its way, and the kernel
// drops it when the run ends, however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "protocol/protocol_error.h"
#include "transfer/own_files.h"

namespace transfer {

namespace {

constexpr mode_t ReadWriteForAll = 0666;  // less the user's umask, as any new file
// A name swept away under a run this often in a row is not worth a further try.
constexpr int MaxAttempts = 10;

// Whether name still names the file open as fd: another run may have removed or replaced it.
bool StillNamed(int fd, const std::string& name) {
  struct stat open {}, named {};
  if (::fstat(fd, &open) != 0 || ::stat(name.c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

int Lock(int fd, int how) {
  int result;
  do {
    result = ::flock(fd, how);
  } while (result != 0 && errno == EINTR);
  return result;
}

}  // namespace

bool CreateNewFile(const std::string& name) {
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ReadWriteForAll);
  if (fd < 0) {
    if (errno == EEXIST) return false;
    throw protocol::EFileError("Cannot create", name, errno);
  }
  ::close(fd);
  return true;
}

bool CreateHeldFile(const std::string& name, HeldFile& held) {
  for (int attempt = 0; attempt < MaxAttempts; ++attempt) {
    int fd = ::open(name.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, ReadWriteForAll);
    if (fd < 0) {
      if (errno == EEXIST) return false;
      throw protocol::EFileError("Cannot create", name, errno);
    }
    // Another run's RemoveUnlessHeld holds the lock only for a moment.
    if (Lock(fd, LOCK_EX) != 0) {
      int error = errno;
      ::close(fd);
      throw protocol::EFileError("Cannot lock", name, error);
    }
    // Between the creation and the lock, another run may have taken it for a file left by an
    // ended run and removed it: then it is made again.
    if (StillNamed(fd, name)) {
      held.Release();
      held.name_ = name;
      held.lock_ = fd;
      return true;
    }
    ::close(fd);
  }
  throw protocol::EFileError("Cannot create", name,
                             "another run removed it as soon as it was made, time after time");
}

void HeldFile::Release() noexcept {
  if (lock_ == NoLock) return;
  ::close(static_cast<int>(lock_));
  lock_ = NoLock;
}

LeftFile RemoveUnlessHeld(const std::string& name) {
  for (int attempt = 0; attempt < MaxAttempts; ++attempt) {
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) return LeftFile::None;
      throw protocol::EFileError("Cannot open", name, errno);
    }
    if (Lock(fd, LOCK_EX | LOCK_NB) != 0) {
      int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) return LeftFile::Held;
      throw protocol::EFileError("Cannot lock", name, error);
    }
    // Locked, but perhaps a file the name no longer has: look at what it has now.
    if (!StillNamed(fd, name)) {
      ::close(fd);
      continue;
    }
    if (::unlink(name.c_str()) != 0) {
      int error = errno;
      ::close(fd);
      throw protocol::EFileError("Cannot remove", name, error);
    }
    ::close(fd);
    return LeftFile::Removed;
  }
  // Made and removed again and again: live runs are at it.
  return LeftFile::Held;
}

}  // namespace transfer

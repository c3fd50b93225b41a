// The instance lock on POSIX: an advisory lock on a file named after the executable, in a
// per-user runtime folder. Taking it is one atomic step, and the kernel drops it when the
// process ends, however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "instance/one_instance.h"

namespace instance {

namespace {

std::string LockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/pyrelink-instance";
  return "/tmp/pyrelink-instance-" + std::to_string(::getuid());
}

class PosixInstanceLock : public InstanceLock {
 public:
  ~PosixInstanceLock() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool ExistsOrTake(const std::string& name) override {
    if (fd_ >= 0) return false;
    std::string folder = LockFolder();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
      throw EOneInstance("cannot create " + folder + ": " + std::strerror(errno));
    std::string path = folder + "/" + name + ".lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw EOneInstance("cannot open " + path + ": " + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) return true;
      throw EOneInstance("cannot lock " + path + ": " + std::strerror(error));
    }
    fd_ = fd;
    return false;
  }

  void Release() override {
    if (fd_ < 0) return;
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw EOneInstance(std::strerror(errno));
  }

  bool Held() const override { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<InstanceLock> MakeInstanceLock() {
  return std::make_unique<PosixInstanceLock>();
}

std::string ExecutableFileName() {
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "pyrelink";
  path[n] = 0;
  std::string full(path);
  size_t slash = full.rfind('/');
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

// Without a window system of its own to ask, the owner's search (RaiseWindowTitled) serves.
bool RaiseTopLevelWindow(const std::string&) {
  return false;
}

}  // namespace instance

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "transfer/thread_setup.h"

namespace transfer {

namespace {
constexpr size_t LinuxThreadNameLength = 15;
}

void NameThisThread(const char* name) {
  std::string cut = std::string(name).substr(0, LinuxThreadNameLength);
  pthread_setname_np(pthread_self(), cut.c_str());
}

void RaiseThisThreadAboveNormal() {
  pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
  errno = 0;
  int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  if (errno == 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), current - 1);
}

}  // namespace transfer

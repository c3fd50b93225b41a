#include "sim/sim_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace sim {

SimProcess::SimProcess(const std::string& executable, const std::string& arguments) {
  int in[2], out[2];
  // Close-on-exec, so that a later simulator does not hold this one's stdin open (and with it
  // this one alive); dup2 gives the child its own ends without the flag.
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("cannot create pipes");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("cannot start pyrelink-sim");
  if (pid_ == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::close(in[0]);
    ::close(in[1]);
    ::close(out[0]);
    ::close(out[1]);
    std::string command = "exec " + executable + " " + arguments;
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  stdin_ = in[1];
  FILE* output = ::fdopen(out[0], "r");
  char line[256] = {0};
  bool gotPort = output && std::fgets(line, sizeof line, output);
  if (output) ::fclose(output);
  if (!gotPort) {
    Finish();
    throw std::runtime_error("pyrelink-sim printed no port");
  }
  port_ = line;
  port_.erase(port_.find_last_not_of("\r\n") + 1);
}

SimProcess::~SimProcess() { Finish(); }

int SimProcess::Finish() {
  if (pid_ <= 0) return status_;
  ::close(stdin_);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = 0;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return status_;
}

}  // namespace sim

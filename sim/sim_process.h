// pyrelink-sim as a child process with its stdin on a pipe: Finish() closes the pipe, which
// ends the simulator (saving its memories when asked to) and waits for it.
#pragma once

#include <sys/types.h>

#include <string>

namespace sim {

class SimProcess {
 public:
  // executable: the pyrelink-sim binary; arguments are passed through a shell.
  SimProcess(const std::string& executable, const std::string& arguments);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::string& Port() const { return port_; }
  // Ends the simulator; answers its exit status.
  int Finish();

 private:
  pid_t pid_ = 0;
  int stdin_ = -1;
  int status_ = 0;
  std::string port_;
};

}  // namespace sim

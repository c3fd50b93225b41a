// A pseudo-terminal pair for tests: the test plays the device on the master side while the
// code under test opens the slave path through the real serial layer.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  void WriteMaster(const std::string& bytes);
  // Reads what has arrived on the master side, waiting at most timeoutMs for the first byte
  // and then until `expected` bytes are in (or the time is up).
  std::string ReadMaster(int timeoutMs, size_t expected = 1);
  void CloseMaster();

 private:
  int master_ = -1;
  int keepSlave_ = -1;  // keeps the slave side open so the master never sees a hang-up
  std::string slavePath_;
};

}  // namespace testing_support

// A deco that answers as a traced one did: each command line the tool sends is matched with the
// next one the line trace holds and answered with the reply recorded after it, at the recorded
// turn-around time divided by speed. Where the tool sends what the trace does not hold, the
// replay says where the two part and answers nothing more: a trace replays to the same files
// and exit for as long as the tool's dialogue stays the same.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct ReplayAnswer {
  std::string Bytes;
  int DelayMs = 0;
};

class Replay {
 public:
  // Reads the trace at path; a file that cannot be read, or a line of another form, throws
  // std::runtime_error naming it.
  Replay(const std::string& path, double speed);

  // The recorded reply to line; none once the dialogue parted from the trace (it says where, on
  // stderr, the first time).
  std::optional<ReplayAnswer> Answer(const std::string& line);
  // Where the dialogue parted from the trace; "" while it follows it.
  std::string Parting() const;
  // Whether every command the trace holds was sent.
  bool Finished() const;

 private:
  struct Exchange {
    std::string Command;
    std::string Reply;
    uint64_t DelayUs = 0;  // from the command's last byte sent to the reply's first received
    int TraceLine = 0;
  };

  std::vector<Exchange> exchanges_;
  double speed_;
  mutable std::mutex mutex_;
  size_t next_ = 0;
  std::string parting_;
};

}  // namespace sim

// A deco that answers as a traced one did: each command line the tool sends is matched with the
// next one the line trace holds and answered with the reply recorded after it, no later than the
// tool read it there (turn-around times divided by speed). A command is heard only at the speed
// the trace heard it at. Where the tool sends what the trace does not hold, the replay says where
// the two part (and whether the tool runs another job than the trace's) and closes the line, so
// that the tool ends at once: a trace replays to the same files and exit for as long as the
// tool's dialogue stays the same. A trace changed after it was recorded replays too, with a
// warning: its checksum no longer matches.
#pragma once

#include <cstdint>
#include <iosfwd>
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
  // Whether the trace is as its recorder closed it.
  enum class Seal {
    Intact,    // its checksum matches
    Changed,   // it was changed after it was recorded
    Unsealed,  // it has no checksum: the recording did not end, or an older version made it
  };

  // Reads the trace at path; a file that cannot be read, or a line of another form, throws
  // std::runtime_error naming it.
  Replay(const std::string& path, double speed);

  // The recorded reply to line, sent at baud; none once the dialogue parted from the trace (it
  // says where, on stderr, the first time), nor while the line is at another speed than the
  // trace's (said once too).
  std::optional<ReplayAnswer> Answer(const std::string& line, uint32_t baud);
  // Where the dialogue parted from the trace; "" while it follows it.
  std::string Parting() const;
  // The job the trace holds, as its recorder named it ("" when it named none).
  const std::string& Job() const { return job_; }
  Seal TraceSeal() const { return seal_; }
  // What is replayed, and a warning for a trace that is not as recorded: for the user, at start.
  std::vector<std::string> Describe(const std::string& path) const;
  // The first command the tool sent at another speed than the trace heard it at; "" if none.
  std::string WrongSpeed() const;
  // Whether every command the trace holds was sent.
  bool Finished() const;

 private:
  struct Exchange {
    std::string Command;
    std::string Reply;
    uint64_t DelayUs = 0;  // from the command's last byte sent to the reply's first read
    uint32_t Baud = 0;     // the line's speed as the command went; 0: the trace does not say
    // The tool changed the line's speed after the reply (the speed switch): it read the reply
    // only once it had waited for the deco to change, not as it came.
    bool ReadAfterAWait = false;
    int TraceLine = 0;
  };

  void Parse(std::istream& in, const std::string& path);
  // Why the tool's line differs from the trace's next command, for the parting.
  std::string HowTheJobsDiffer(const std::string& line, const Exchange& expected) const;
  // When the reply goes, from the command heard, on the replay's time.
  int DelayMsOf(const Exchange& exchange) const;
  // Notes the tool's command at a speed the trace did not hear it at; once on stderr.
  void NoteWrongSpeed(const std::string& line, uint32_t baud, const Exchange& expected);

  std::vector<Exchange> exchanges_;
  std::string job_;
  Seal seal_ = Seal::Unsealed;
  double speed_;
  mutable std::mutex mutex_;
  size_t next_ = 0;
  std::string parting_;
  std::string wrongSpeed_;
};

}  // namespace sim

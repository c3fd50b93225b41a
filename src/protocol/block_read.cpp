#include "protocol/block_read.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "protocol/protocol_error.h"
#include "protocol/resync.h"
#include "protocol/transaction.h"
#include "serial/serial_error.h"

namespace protocol {

void ReadBlock(DecoLink& link, const std::string& command,
               const std::function<std::string()>& blockName, uint8_t* block, size_t size,
               const std::function<void(uint8_t*)>& readOnce) {
  const ReadPolicy policy = link.Policy();
  const int allowed = policy.Retries;
  int made = 0;
  auto retry = [&](const std::exception& failure) {
    if (made >= allowed) return false;
    // A late reply to the failed read must not stand in for the repeat's.
    ResyncResult resync = Resynchronise(link, command);
    if (!resync.InStep)
      throw EBadReply(command, blockName() + " failed (" + failure.what() +
                                   ") and the line did not come back in step: " + resync.Why);
    if (resync.Discarded > 0) PostStatus(link, DiscardedNote(resync));
    ++made;
    link.CountRetry();
    PostStatus(link, "Retry " + std::to_string(made) + " of " + std::to_string(allowed) + ": " +
                         blockName() + " (" + failure.what() + ")");
    return true;
  };
  auto read = [&](uint8_t* destination) {
    for (;;) {
      try {
        readOnce(destination);
        return;
      } catch (const EBadReply& failure) {
        if (!retry(failure)) throw;
      } catch (const serial::ESerialError& failure) {
        if (!DamagedReply(failure.Code) || !retry(failure)) throw;
      }
    }
  };

  read(block);
  // A retry says the line is unsure: the read that followed it may carry what parity missed.
  if (!policy.DoubleRead && !(policy.ConfirmRetried && made > 0)) return;
  std::vector<std::vector<uint8_t>> reads{std::vector<uint8_t>(block, block + size)};
  std::vector<uint8_t> again(size);
  const size_t mostReads = 2 + DoubleReadExtraReads;
  while (reads.size() < mostReads) {
    if (reads.size() >= 2) link.CountReread();
    read(again.data());
    if (std::find(reads.begin(), reads.end(), again) != reads.end()) {
      std::memcpy(block, again.data(), size);
      return;
    }
    reads.push_back(again);
  }
  throw EBadReply(command,
                  std::to_string(mostReads) + " reads of " + blockName() + " never agreed");
}

}  // namespace protocol

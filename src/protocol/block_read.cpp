#include "protocol/block_read.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "protocol/protocol_error.h"

namespace protocol {

void ReadBlock(DecoLink& link, const std::string& command,
               const std::function<std::string()>& blockName, uint8_t* block, size_t size,
               const std::function<void(uint8_t*)>& readOnce) {
  readOnce(block);
  if (!link.DoubleRead) return;
  std::vector<std::vector<uint8_t>> reads{std::vector<uint8_t>(block, block + size)};
  std::vector<uint8_t> again(size);
  const size_t mostReads = 2 + DoubleReadExtraReads;
  while (reads.size() < mostReads) {
    if (reads.size() >= 2) ++link.Rereads;
    readOnce(again.data());
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

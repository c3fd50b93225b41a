// One block read from the deco, read twice when the user asks for it: the read command carries
// no checksum, and 7E1 parity misses an error of two bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "protocol/deco_link.h"

namespace protocol {

// Reads beyond the second before a block that never reads the same fails.
inline constexpr int DoubleReadExtraReads = 3;

// readOnce sends command and decodes its reply into the size bytes it is given. With the link's
// read policy asking for double reading (or confirming a block that needed a retry), the block
// is read again until a read agrees with an earlier one, at most DoubleReadExtraReads more
// times; then EBadReply names the block (blockName, asked only then) and the reads.
// A read is safe to repeat: one that fails by a time-out, a bad reply or a line error is sent
// again once the line is back in step (Resynchronise), at most the policy's Retries times
// for the whole block (double reading's reads share them; a failed read is not one of its
// reads), each one logged. A line that does not come back in step fails the block.
void ReadBlock(DecoLink& link, const std::string& command,
               const std::function<std::string()>& blockName, uint8_t* block, size_t size,
               const std::function<void(uint8_t*)>& readOnce);

}  // namespace protocol

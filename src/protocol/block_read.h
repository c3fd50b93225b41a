// One block read from the deco, read twice when the user asks for it: the read command carries
// no checksum, and 7E1 parity misses an error of two bits.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace protocol {

// Reads beyond the second before a block that never reads the same fails.
inline constexpr int DoubleReadExtraReads = 3;

// Whether blocks are read until two reads agree, and how many reads that took beyond the
// second ones; both belong to the current deco.
std::atomic<bool>& DoubleRead();
std::atomic<uint64_t>& Rereads();

// readOnce sends command and decodes its reply into the size bytes it is given. With double
// reading on, the block is read again until a read agrees with an earlier one, at most
// DoubleReadExtraReads more times; then EBadReply names the block (blockName, asked only
// then) and the reads.
void ReadBlock(const std::string& command, const std::function<std::string()>& blockName,
               uint8_t* block, size_t size, const std::function<void(uint8_t*)>& readOnce);

}  // namespace protocol

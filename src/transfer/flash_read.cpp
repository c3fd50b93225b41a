// The flash read: blocks of 256 bytes from the start of flash into a file, with progress.
#include <cerrno>
#include <fstream>

#include "protocol/hex_codec.h"
#include "protocol/protocol_error.h"
#include "protocol/transaction.h"
#include "transfer/transfer_job.h"

namespace transfer {

bool TransferJob::ReadFlash(int32_t blockCount, const std::string& fileName, PhaseKind kind) {
  if (blockCount == 0) return false;
  flashWriteActive_ = false;
  Phase phase = StartPhase(kind, static_cast<uint64_t>(blockCount) * protocol::ReadBlockBytes,
                           blockCount == ChannelBlocks ? "Read CHANNEL ..." : "Read FIRMWARE ...");
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  if (!file) throw protocol::EFileError("Cannot create", fileName, errno);

  uint32_t address = protocol::FlashBase;
  uint8_t block[protocol::ReadBlockBytes];
  for (int32_t i = 1; i <= blockCount; ++i) {
    protocol::ReadFlashBlock(link_, address, block);
    file.write(reinterpret_cast<const char*>(block), sizeof block);
    if (!file) throw protocol::EFileError("Cannot write", fileName, errno);
    address += protocol::ReadBlockBytes;
    ShowProgress(phase, static_cast<uint64_t>(i), static_cast<uint64_t>(blockCount));
    if (stop_.Requested()) return false;  // the file closes with the blocks read so far
  }
  file.close();
  if (!file) throw protocol::EFileError("Cannot write", fileName, errno);
  FinishPhase(phase);
  return true;
}

}  // namespace transfer

// The flash read: blocks of 256 bytes from the start of flash into a file, with progress. The
// file grows block by block in flash order, so that its length in whole blocks always says how
// far the read got, even after a crash: a resumed READ goes on from there.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "protocol/transaction.h"
#include "transfer/transfer_job.h"

namespace transfer {

std::fstream TransferJob::OpenToResume(const std::string& fileName, int32_t firstBlock) {
  const auto kept = static_cast<std::uintmax_t>(firstBlock) * protocol::ReadBlockBytes;
  std::error_code error;
  // A block cut short by a crash is read again.
  std::filesystem::resize_file(fileName, kept, error);
  if (error) throw protocol::EFileError("Cannot shorten", fileName, error.message());
  std::fstream file(fileName, std::ios::binary | std::ios::in | std::ios::out);
  if (!file) throw protocol::EFileError("Cannot open", fileName, errno);
  uint8_t held[protocol::ReadBlockBytes];
  file.seekg(static_cast<std::streamoff>(kept - sizeof held));
  file.read(reinterpret_cast<char*>(held), sizeof held);
  if (!file) throw protocol::EFileError("Cannot read", fileName, errno);
  // Another deco's flash, or a flash changed since, would be joined to this one's unseen.
  const uint32_t last = protocol::FlashBase + static_cast<uint32_t>(kept - sizeof held);
  uint8_t read[protocol::ReadBlockBytes];
  protocol::ReadFlashBlock(link_, last, read);
  if (std::memcmp(held, read, sizeof held) != 0) {
    Record([](JobResult& result) { result.ResumeRefused = true; });
    throw std::runtime_error("Cannot resume " + fileName + ": the deco's flash block at " +
                             protocol::ToHex(last, 8) +
                             " differs from the one in the file (another deco, or its flash "
                             "changed since); read it again without --resume");
  }
  file.seekp(static_cast<std::streamoff>(kept));
  protocol::PostStatus(link_, "Resume: " + protocol::BareFileName(fileName) + " holds " +
                                  std::to_string(firstBlock) +
                                  " block(s); the last of them reads the same from the deco.");
  return file;
}

bool TransferJob::ReadFlash(int32_t blockCount, const std::string& fileName, PhaseKind kind,
                            int32_t firstBlock) {
  if (blockCount == 0) return false;
  flashWriteActive_ = false;
  const int32_t blocksLeft = blockCount - firstBlock;
  Phase phase = StartPhase(kind, static_cast<uint64_t>(blocksLeft) * protocol::ReadBlockBytes,
                           blockCount == ChannelBlocks ? "Read CHANNEL ..." : "Read FIRMWARE ...");
  std::fstream file =
      firstBlock > 0 ? OpenToResume(fileName, firstBlock)
                     : std::fstream(fileName, std::ios::binary | std::ios::out | std::ios::trunc);
  if (!file) throw protocol::EFileError("Cannot create", fileName, errno);

  uint32_t address =
      protocol::FlashBase + static_cast<uint32_t>(firstBlock) * protocol::ReadBlockBytes;
  uint8_t block[protocol::ReadBlockBytes];
  for (int32_t i = 1; i <= blocksLeft; ++i) {
    protocol::ReadFlashBlock(link_, address, block);
    file.write(reinterpret_cast<const char*>(block), sizeof block);
    if (!file) throw protocol::EFileError("Cannot write", fileName, errno);
    address += protocol::ReadBlockBytes;
    ShowProgress(phase, static_cast<uint64_t>(i), static_cast<uint64_t>(blocksLeft));
    if (stop_.Requested()) return false;  // the file closes with the blocks read so far
  }
  file.close();
  if (!file) throw protocol::EFileError("Cannot write", fileName, errno);
  FinishPhase(phase);
  return true;
}

}  // namespace transfer

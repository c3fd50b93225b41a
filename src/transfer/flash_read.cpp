// The flash read: blocks of 256 bytes from the start of flash into a file, with progress. The
// file grows block by block in flash order, so that its length in whole blocks always says how
// far the read got, even after a crash: a resumed READ goes on from there.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "protocol/transaction.h"
#include "transfer/transfer_job.h"

namespace transfer {

namespace {

struct BlockToCompare {
  int Sector;
  size_t Offset;  // in the dump
};

// The blocks a resume reads again: in every sector the kept dump covers, its first block that is
// not blank (blank flash tells nothing of a WRITE between the READs), or its first when all are;
// and the dump's last block.
std::vector<BlockToCompare> BlocksToCompare(const std::string& kept) {
  std::vector<BlockToCompare> blocks;
  const size_t last = kept.size() - protocol::ReadBlockBytes;
  for (int s = 0; s < protocol::SectorCount; ++s) {
    const size_t begin = protocol::SectorBase[static_cast<size_t>(s)] - protocol::FlashBase;
    if (begin >= kept.size()) break;
    const size_t end = std::min<size_t>(begin + protocol::SectorSize(s), kept.size());
    size_t chosen = begin;
    for (size_t at = begin; at < end; at += protocol::ReadBlockBytes) {
      if (kept.find_first_not_of('\xFF', at) < at + protocol::ReadBlockBytes) {
        chosen = at;
        break;
      }
    }
    blocks.push_back({s, chosen});
    if (end > last && chosen != last) blocks.push_back({s, last});
  }
  return blocks;
}

}  // namespace

std::fstream TransferJob::OpenToResume(const std::string& fileName, int32_t firstBlock) {
  const auto kept = static_cast<std::uintmax_t>(firstBlock) * protocol::ReadBlockBytes;
  std::error_code error;
  // A block cut short by a crash is read again.
  std::filesystem::resize_file(fileName, kept, error);
  if (error) throw protocol::EFileError("Cannot shorten", fileName, error.message());
  const std::string held = protocol::ReadWholeFile(fileName, static_cast<int64_t>(kept));
  if (held.size() != kept)
    throw protocol::EFileError(
        "Cannot read", fileName,
        "it is shorter than its " + std::to_string(firstBlock) + " block(s)");
  // Another deco's flash, or a flash changed since (a WRITE between the READs), would be joined
  // to this one's unseen.
  const std::vector<BlockToCompare> blocks = BlocksToCompare(held);
  uint8_t read[protocol::ReadBlockBytes];
  for (const BlockToCompare& block : blocks) {
    const uint32_t address = protocol::FlashBase + static_cast<uint32_t>(block.Offset);
    protocol::ReadFlashBlock(link_, address, read);
    const std::string_view again(reinterpret_cast<const char*>(read), sizeof read);
    if (held.compare(block.Offset, again.size(), again) == 0) continue;
    Record([](JobResult& result) { result.ResumeRefused = true; });
    throw std::runtime_error("Cannot resume " + fileName + ": the deco's flash block at " +
                             protocol::ToHex(address, 8) + " (sector " +
                             std::to_string(block.Sector) +
                             ") differs from the one in the file (another deco, or its flash "
                             "changed since); read it again without --resume");
  }
  std::fstream file(fileName, std::ios::binary | std::ios::in | std::ios::out);
  if (!file) throw protocol::EFileError("Cannot open", fileName, errno);
  file.seekp(static_cast<std::streamoff>(kept));
  protocol::PostStatus(link_, "Resume: " + protocol::BareFileName(fileName) + " holds " +
                                  std::to_string(firstBlock) +
                                  " block(s); a block of each of its " +
                                  std::to_string(blocks.back().Sector + 1) +
                                  " sector(s) and the last block read the same from the deco.");
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

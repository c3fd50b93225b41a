// The flash read: blocks of 256 bytes from the start of flash into a file, with progress. The
// file grows block by block in flash order, so that its length in whole blocks always says how
// far the read got, even after a crash: a resumed READ goes on from there.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
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

// A resume compares at least one block in every this many of each sector.
constexpr size_t CompareOneIn = 16;
constexpr size_t BlockBytes = protocol::ReadBlockBytes;

// One of count blocks, drawn afresh each run: a sample the same every time would miss the same
// blocks every time.
PickBlock RandomPick() {
  auto engine = std::make_shared<std::mt19937_64>(std::random_device{}());
  return [engine](size_t count) {
    return std::uniform_int_distribution<size_t>(0, count - 1)(*engine);
  };
}

// Sector s's blocks among the kept ones: its first, the dump's last when it is the sector's,
// and between them one picked in every stretch of CompareOneIn.
void AddSectorsBlocks(int s, size_t keptBlocks, const PickBlock& pick,
                      std::vector<BlockToCompare>& blocks) {
  const size_t first = (protocol::SectorBase[static_cast<size_t>(s)] - protocol::FlashBase) /
                       BlockBytes;
  const size_t end = std::min(first + protocol::SectorSize(s) / BlockBytes, keptBlocks);
  const size_t last = keptBlocks - 1;
  for (size_t stretch = first; stretch < end; stretch += CompareOneIn) {
    const size_t stretchEnd = std::min(stretch + CompareOneIn, end);
    // The sector's first block and the dump's last are compared anyway: the pick is among the
    // others.
    const size_t from = stretch == first ? stretch + 1 : stretch;
    const size_t to = stretchEnd - 1 == last ? last : stretchEnd;
    if (stretch == first) blocks.push_back({s, first * BlockBytes});
    if (from < to) blocks.push_back({s, (from + pick(to - from)) * BlockBytes});
    if (stretchEnd - 1 == last && last != first) blocks.push_back({s, last * BlockBytes});
  }
}

std::string ResumeLine(const std::string& fileName, int32_t firstBlock,
                       const std::vector<BlockToCompare>& blocks) {
  return "Resume: " + protocol::BareFileName(fileName) + " holds " + std::to_string(firstBlock) +
         " block(s); " + std::to_string(blocks.size()) + " of them (the first of each of its " +
         std::to_string(blocks.back().Sector + 1) + " sector(s), the last, and one at random in "
         "every " + std::to_string(CompareOneIn) + ") read the same from the deco. After a WRITE "
         "between the two READs, read again without --resume: a sample can miss a change.";
}

}  // namespace

std::vector<BlockToCompare> BlocksToCompare(size_t keptBytes, const PickBlock& pick) {
  std::vector<BlockToCompare> blocks;
  const size_t keptBlocks = keptBytes / BlockBytes;
  for (int s = 0; s < protocol::SectorCount; ++s) {
    if ((protocol::SectorBase[static_cast<size_t>(s)] - protocol::FlashBase) / BlockBytes >=
        keptBlocks)
      break;
    AddSectorsBlocks(s, keptBlocks, pick, blocks);
  }
  return blocks;
}

std::optional<BlockToCompare> FirstDiffering(protocol::DecoLink& link, const std::string& held,
                                             const std::vector<BlockToCompare>& blocks) {
  uint8_t read[BlockBytes];
  for (const BlockToCompare& block : blocks) {
    protocol::ReadFlashBlock(link, protocol::FlashBase + static_cast<uint32_t>(block.Offset),
                             read);
    const std::string_view again(reinterpret_cast<const char*>(read), sizeof read);
    if (held.compare(block.Offset, again.size(), again) != 0) return block;
  }
  return std::nullopt;
}

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
  const std::vector<BlockToCompare> blocks = BlocksToCompare(held.size(), RandomPick());
  if (const std::optional<BlockToCompare> differing = FirstDiffering(link_, held, blocks)) {
    Record([](JobResult& result) { result.ResumeRefused = true; });
    throw std::runtime_error(
        "Cannot resume " + fileName + ": the deco's flash block at " +
        protocol::ToHex(protocol::FlashBase + static_cast<uint32_t>(differing->Offset), 8) +
        " (sector " + std::to_string(differing->Sector) +
        ") differs from the one in the file (another deco, or its flash changed since); read it "
        "again without --resume");
  }
  std::fstream file(fileName, std::ios::binary | std::ios::in | std::ios::out);
  if (!file) throw protocol::EFileError("Cannot open", fileName, errno);
  file.seekp(static_cast<std::streamoff>(kept));
  protocol::PostStatus(link_, ResumeLine(fileName, firstBlock, blocks));
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

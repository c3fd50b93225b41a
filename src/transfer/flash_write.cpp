// The flash writer: erases and programs the sectors of a plan from the job's image, with
// progress, stop and a record of each sector as it is erased and written.
#include <algorithm>
#include <cerrno>
#include <fstream>
#include <optional>
#include <vector>

#include "protocol/flash_chips.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "protocol/transaction.h"
#include "transfer/scope_exit.h"
#include "transfer/sector_plan.h"
#include "transfer/transfer_job.h"

namespace transfer {

namespace {
constexpr uint32_t ProgramChunkBytes = 4096;
constexpr uint32_t ErasedWord = 0xFFFFFFFFu;
constexpr uint32_t PortReadyTimeoutMs = 5000;
}  // namespace

TransferJob::FirstProgrammedBlock TransferJob::CheckFirstProgrammedBlock(std::ifstream& file,
                                                                         const std::string& fileName,
                                                                         int sector) {
  std::vector<uint8_t> image(protocol::ReadBlockBytes), flash(protocol::ReadBlockBytes);
  const uint32_t end = protocol::SectorBase[static_cast<size_t>(sector) + 1];
  for (uint32_t block = protocol::SectorBase[static_cast<size_t>(sector)]; block < end;
       block += protocol::ReadBlockBytes) {
    file.clear();
    file.seekg(static_cast<std::streamoff>(block - protocol::FlashBase));
    file.read(reinterpret_cast<char*>(image.data()), protocol::ReadBlockBytes);
    if (file.gcount() != protocol::ReadBlockBytes)
      throw protocol::EFileError("Cannot read all of", fileName, errno);
    if (std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0xFF; })) continue;
    protocol::ReadFlashBlock(link_, block, flash.data());
    return {block, flash == image};
  }
  return {0, true};  // a blank sector: nothing was programmed, nothing is proven
}

bool TransferJob::WriteFlash(const protocol::SectorFlags& wanted, PhaseKind kind) {
  if (stop_.Requested() || plan_.BlockCount == 0) return false;
  if (!link_.IsOpen() || !link_.WaitWritable(PortReadyTimeoutMs)) {
    protocol::PostStatus(link_, "ERROR: cannot WRITE to deco.");
    NoteShortfall("the port was not ready to write within 5 s; the flash was not written");
    return false;
  }
  const std::string fileName = ImageToWrite();
  SectorPlan plan = PlanSectors(wanted, plan_.BlockCount, plan_.Block18Protected, fileName,
                                protocol::FileSize64(fileName));
  const uint64_t lineWords = plan_.SkipBlankWords ? NonBlankWords(plan, fileName) : plan.Words;
  Phase phase = StartPhase(kind, lineWords * 4,
                           "Write " + protocol::BareFileName(fileName) + " to deco ...");
  phase.work.Plan(WorkKind::Erase, plan.Sectors.size());
  phase.work.Plan(WorkKind::Word, lineWords);
  uint64_t erasesDone = 0;
  flashWriteActive_ = true;
  // However the pass ends, the front ends stop wording their questions for a flash write.
  ScopeExit writeEnds([this] { flashWriteActive_ = false; });
  std::ifstream file(fileName, std::ios::binary);
  if (!file) throw protocol::EFileError("Cannot open", fileName, errno);

  for (const std::string& reason : plan.Skipped) {
    protocol::PostStatus(link_, reason);
    NoteShortfall(reason);
  }

  Record([&](JobResult& result) {
    result.Passes.push_back(WritePass{fileName, {}, {}, false, protocol::FlashBase, -1, {}});
  });
  // Where the pass is: the next sector to erase or word to program. A pass that ends early by
  // an error or a stop records it as where it stopped.
  uint32_t address = protocol::FlashBase;
  ScopeExit recordStop(
      [&] { Record([&](JobResult& result) { result.Passes.back().StoppedAt = address; }); });
  auto erase = [&](int s) {
    address = protocol::SectorBase[static_cast<size_t>(s)];
    Record([s](JobResult& result) { result.Passes.back().EraseUnconfirmed = s; });
    protocol::EraseSector(link_, s);
    Record([s](JobResult& result) {
      result.Passes.back().EraseUnconfirmed = -1;
      std::vector<int>& erased = result.Passes.back().Erased;
      if (erased.empty() || erased.back() != s) erased.push_back(s);  // not again for a rewrite
    });
  };
  // The chips go on erasing after the command: wait for them by reading, or by the fixed pause.
  // False when a stop came while reading: nothing may be programmed into a sector that may
  // still be erasing.
  auto settle = [&](int s) {
    if (!plan_.ErasePoll) {
      protocol::WaitSeconds(link_, EraseWaitSeconds);
    } else {
      const std::optional<uint32_t> ms = protocol::WaitSectorErased(link_, s, stop_);
      if (!ms) return false;
      Record([&](JobResult& result) { result.Passes.back().EraseTimes.push_back({s, *ms}); });
    }
    // The bar does not move while sectors erase; the time left does.
    ShowTimeLeft(phase, WorkKind::Erase, ++erasesDone);
    return true;
  };
  auto written = [&](int s) {
    Record([s](JobResult& result) { result.Passes.back().Sectors.push_back(s); });
  };

  uint64_t wordsDone = 0;

  // Below the first programmed sector a write leaves erased flash, and zero words at the start.
  std::vector<int> erasedOnly;
  for (int s : plan.Sectors) {
    if (s >= protocol::FirstProgrammedSector) break;
    erase(s);
    erasedOnly.push_back(s);
    ShowProgress(phase, wordsDone, lineWords);
    if (stop_.Requested() || !settle(s)) return false;
  }
  if (!plan.Sectors.empty() && plan.Sectors.front() == 0) {
    for (int k = 0; k < protocol::ZeroWordsAtStart; ++k) {
      address = protocol::FlashBase + 4 * static_cast<uint32_t>(k);
      protocol::ProgramWord(link_, address, 0);
    }
  }
  for (int s : erasedOnly) written(s);

  std::vector<uint8_t> chunk(ProgramChunkBytes);
  uint64_t skippedBlank = 0;
  uint64_t fastWords = 0;
  ScopeExit countWords([&] {
    Record([&](JobResult& result) {
      result.SkippedBlankWords += skippedBlank;
      result.FastProgrammedWords += fastWords;
    });
  });
  // Erases sector s and programs it from the image, in unlock bypass when fast; false when
  // stopped. Bypass is left at the sector's end, and on any way out before it.
  auto writeSector = [&](int s, bool fast) {
    erase(s);
    if (!settle(s)) return false;
    file.clear();
    file.seekg(static_cast<std::streamoff>(address - protocol::FlashBase));
    bool inBypass = fast;
    // Past the sector's last word lies the next sector, or after sector 18 no flash at all.
    const uint32_t lastWord = address + protocol::SectorSize(s) - 4;
    ScopeExit leaveBypass([&] {
      if (inBypass) protocol::LeaveUnlockBypassAfterFailure(link_, std::min(address, lastWord));
    });
    if (fast) protocol::EnterUnlockBypass(link_);
    for (uint32_t c = 0; c < protocol::SectorSize(s) / ProgramChunkBytes; ++c) {
      file.read(reinterpret_cast<char*>(chunk.data()), ProgramChunkBytes);
      if (static_cast<uint32_t>(file.gcount()) != ProgramChunkBytes)
        throw protocol::EFileError("Cannot read all of", fileName, errno);
      for (uint32_t w = 0; w < ProgramChunkBytes; w += 4) {
        uint32_t word = protocol::FlashWord(&chunk[w]);
        // The sector was erased just now: an erased word already holds FFFFFFFF.
        if (plan_.SkipBlankWords && word == ErasedWord) {
          ++skippedBlank;
        } else if (fast) {
          protocol::BypassProgramWord(link_, address, word);
          ++fastWords;
          ++wordsDone;
        } else {
          protocol::ProgramWord(link_, address, word);
          ++wordsDone;
        }
        address += 4;
        ShowProgress(phase, wordsDone, lineWords);
        if (stop_.Requested()) return false;
      }
    }
    if (fast) protocol::LeaveUnlockBypass(link_);
    inBypass = false;
    return true;
  };

  for (int s : plan.Sectors) {
    if (s < protocol::FirstProgrammedSector) continue;
    const bool fast = plan_.FastProgram && !fastProgramRefused_;
    const uint64_t wordsBefore = wordsDone;
    const uint64_t skippedBefore = skippedBlank;
    if (!writeSector(s, fast)) return false;
    if (fast && !fastProgramProven_) {
      const FirstProgrammedBlock check = CheckFirstProgrammedBlock(file, fileName, s);
      if (check.Holds) {
        fastProgramProven_ = check.Address != 0;
      } else {
        protocol::PostStatus(link_, "Fast programming did not take in sector " +
                                        std::to_string(s) + " (the block at " +
                                        protocol::ToHex(check.Address, 8) +
                                        " differs): it and the rest are written the usual way.");
        fastProgramRefused_ = true;
        Record([](JobResult& result) { result.FastProgramFellBack = true; });
        // The sector is written again from its start: its words count once.
        wordsDone = wordsBefore;
        skippedBlank = skippedBefore;
        if (!writeSector(s, false)) return false;
      }
    }
    written(s);
  }
  file.close();
  FinishPhase(phase);
  recordStop.Dismiss();
  Record([](JobResult& result) {
    result.Passes.back().Complete = true;
    result.ComparedSinceLastPass = false;
  });
  return plan.Skipped.empty();
}

}  // namespace transfer

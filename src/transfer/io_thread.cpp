#include "transfer/io_thread.h"

#include <cerrno>
#include <fstream>
#include <vector>

#include "protocol/eeprom_transfer.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "protocol/service_mode.h"
#include "protocol/transaction.h"
#include "transfer/final_check.h"
#include "transfer/own_files.h"
#include "transfer/thread_setup.h"
#include "transfer/verify.h"

namespace transfer {

namespace {

constexpr uint32_t ProgramChunkBytes = 4096;
constexpr uint32_t ErasedWord = 0xFFFFFFFFu;
constexpr uint32_t PortReadyTimeoutMs = 5000;
constexpr unsigned PhaseWaitSeconds = 2;
constexpr unsigned RewriteWaitSeconds = 3;
constexpr unsigned ReadJobEndWaitSeconds = 1;

uint32_t LittleEndianWord(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

uint32_t SectorSize(int s) {
  return protocol::SectorBase()[static_cast<size_t>(s) + 1] -
         protocol::SectorBase()[static_cast<size_t>(s)];
}

}  // namespace

int32_t PercentOf(uint64_t done, uint64_t total) {
  if (total == 0) return 100;
  uint64_t scaled = done * 100;
  uint64_t quotient = scaled / total;
  uint64_t twice = 2 * (scaled % total);
  if (twice > total || (twice == total && (quotient & 1))) ++quotient;
  return static_cast<int32_t>(quotient);
}

TIOThread::TIOThread(TransferHost& host, const JobSelection& selection)
    : host_(host), selection_(selection), job_(CurrentJob()), link_(protocol::CurrentLink()) {}

TIOThread::~TIOThread() {
  Terminate();
  WaitFor();
}

void TIOThread::Resume() {
  if (thread_.joinable() || finished_) return;
  thread_ = std::thread([this] {
    // The worker serves the deco of the thread that made it.
    JobScope scope(job_, link_);
    Execute();
  });
}

void TIOThread::Terminate() {
  terminated_ = true;
}

void TIOThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

std::string TIOThread::ErrorText() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return errorText_;
}

WritePass TIOThread::LastWritePass() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  if (passes_.empty() || comparedSinceLastPass_ || !passes_.back().Complete) return WritePass{};
  return passes_.back();
}

std::vector<WritePass> TIOThread::WritePasses() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return passes_;
}

std::vector<std::vector<int>> TIOThread::Comparisons() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return comparisons_;
}

std::string TIOThread::Shortfall() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return shortfall_;
}

void TIOThread::NoteShortfall(const std::string& reason) {
  std::lock_guard<std::mutex> lock(errorMutex_);
  if (!shortfall_.empty()) shortfall_ += "; ";
  shortfall_ += reason;
}

void TIOThread::SetThreadName() {
  NameThisThread(WorkerThreadName);
}

void TIOThread::RaiseAboveNormalPriority() {
  RaiseThisThreadAboveNormal();
}

void TIOThread::UpdateProgress() {
  host_.UpdateProgress(FProgress, FMessage);
}

void TIOThread::Execute() {
  try {
    SetThreadName();
    RaiseAboveNormalPriority();
    // A late reply from an earlier failed exchange must not become this job's first reply.
    if (protocol::SerialLink()) protocol::SerialLink()->DiscardBuffers();
    if (IsWriteJob()) {
      RunWriteJob();
    } else {
      RunReadJob();
    }
  } catch (const std::exception& error) {
    {
      std::lock_guard<std::mutex> lock(errorMutex_);
      errorText_ = error.what();
    }
    protocol::PostStatus(std::string("ERROR: ") + error.what());
  }
  finished_ = true;
}

void TIOThread::RunReadJob() {
  protocol::BaseTimeout() = protocol::StandardBaseTimeout;
  FlashWriteActive() = false;
  if (selection_.Eeprom) {
    protocol::ReadEeprom(selection_.EepromFile);
    protocol::WaitSeconds(PhaseWaitSeconds);
  }
  if (selection_.Firmware || selection_.Channel) ReadFlash(BlockCount(), ColourReadJob);
  protocol::WaitSeconds(ReadJobEndWaitSeconds);
  if (!terminated_) host_.PostWorkerDone();
}

void TIOThread::ShowProgress(Phase& phase, uint64_t done, uint64_t total) {
  int32_t percent = PercentOf(done, total);
  FProgress = percent;
  if (percent > phase.lastShown) {
    FMessage.clear();
    UpdateProgress();
    phase.lastShown = percent;
  }
}

void TIOThread::FinishPhase(const Phase& phase, const std::string& startText) {
  uint64_t end = protocol::ClockReading();
  FProgress = 100;
  FMessage = startText + " is finished 100% (" +
             std::to_string(protocol::ElapsedSeconds(phase.start, end)) + " sec.)";
  UpdateProgress();
}

bool TIOThread::ReadFlash(int32_t blockCount, uint32_t colour) {
  if (blockCount == 0) return false;
  FlashWriteActive() = false;
  host_.SetBarColour(colour);
  std::string startText = blockCount == ChannelBlocks ? "Read CHANNEL ..." : "Read FIRMWARE ...";
  protocol::PostStatus(startText);
  const std::string fileName = ImageFileName();
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  if (!file) throw protocol::EFileError("Cannot create", fileName, errno);

  Phase phase;
  phase.start = protocol::ClockReading();
  uint32_t address = protocol::FlashBase;
  uint8_t block[protocol::ReadBlockBytes];
  for (int32_t i = 1; i <= blockCount; ++i) {
    protocol::ReadFlashBlock(address, block);
    file.write(reinterpret_cast<const char*>(block), sizeof block);
    if (!file) throw protocol::EFileError("Cannot write", fileName, errno);
    address += protocol::ReadBlockBytes;
    ShowProgress(phase, static_cast<uint64_t>(i), static_cast<uint64_t>(blockCount));
    if (terminated_) return false;  // the file closes with the blocks read so far
  }
  file.close();
  if (!file) throw protocol::EFileError("Cannot write", fileName, errno);
  FinishPhase(phase, startText);

  if (blockCount == FirmwareBlocks && selection_.Channel && !IsWriteJob()) {
    if (protocol::CopyLeadingWords(fileName, selection_.ChannelFile, protocol::ChannelWords))
      protocol::PostStatus("CHANNEL is extracted from FIRMWARE. OK!");
  }
  return true;
}

std::string TIOThread::PickImageFile() const {
  std::string name;
  if (selection_.Channel) name = selection_.ChannelFile;
  if (selection_.Firmware) name = selection_.FirmwareFile;
  return name;
}

void TIOThread::RecordPass(const std::function<void(WritePass&)>& change) {
  std::lock_guard<std::mutex> lock(errorMutex_);
  change(passes_.back());
}

bool TIOThread::WriteFlash(int32_t blockCount, uint32_t colour) {
  using protocol::SectorFlags;
  if (terminated_ || blockCount == 0) return false;
  if (!protocol::SerialLink() || !protocol::SerialLink()->WaitWritable(PortReadyTimeoutMs)) {
    protocol::PostStatus("ERROR: cannot WRITE to deco.");
    NoteShortfall("the port was not ready to write within 5 s; the flash was not written");
    return false;
  }
  host_.SetBarColour(colour);
  const std::string fileName = ImageFileName();
  std::string startText = "Write " + protocol::BareFileName(fileName) + " to deco ...";
  protocol::PostStatus(startText);
  FlashWriteActive() = true;
  // However the pass ends, the front ends stop wording their questions for a flash write.
  ScopeExit writeEnds([] { FlashWriteActive() = false; });
  std::ifstream file(fileName, std::ios::binary);
  if (!file) throw protocol::EFileError("Cannot open", fileName, errno);

  int last = blockCount == ChannelBlocks
                 ? protocol::LastChannelSector
                 : (protocol::Block18Protected() ? protocol::ProtectedSector - 1
                                                 : protocol::ProtectedSector);
  // A sector is erased only when the image holds all of it: an erased sector that cannot be
  // programmed back from the file would be lost.
  int64_t imageBytes = protocol::FileSize64(fileName);
  bool skipped = false;
  uint64_t wordsTotal = 0;
  for (int s = 0; s <= last; ++s) {
    if (!SectorFlags()[static_cast<size_t>(s)]) continue;
    int64_t sectorEnd = protocol::SectorBase()[static_cast<size_t>(s) + 1] - protocol::FlashBase;
    if (imageBytes < sectorEnd) {
      SectorFlags()[static_cast<size_t>(s)] = 0;
      skipped = true;
      std::string reason = "Block " + std::to_string(s) +
                           " skipped: " + protocol::BareFileName(fileName) +
                           " does not cover it fully.";
      protocol::PostStatus(reason);
      NoteShortfall(reason);
      continue;
    }
    wordsTotal += SectorSize(s) / 4;
  }

  {
    std::lock_guard<std::mutex> lock(errorMutex_);
    passes_.push_back(WritePass{fileName, {}, {}, false, protocol::FlashBase});
  }
  // Where the pass is: the next sector to erase or word to program. A pass that ends early by
  // an error or an abort records it as where it stopped.
  uint32_t address = protocol::FlashBase;
  ScopeExit recordStop([&] { RecordPass([&](WritePass& pass) { pass.StoppedAt = address; }); });
  auto erase = [&](int s) {
    address = protocol::SectorBase()[static_cast<size_t>(s)];
    protocol::EraseSector(s);
    RecordPass([s](WritePass& pass) { pass.Erased.push_back(s); });
  };
  auto written = [&](int s) { RecordPass([s](WritePass& pass) { pass.Sectors.push_back(s); }); };

  Phase phase;
  phase.start = protocol::ClockReading();
  uint64_t wordsDone = 0;

  std::vector<int> erasedOnly;
  for (int s = 0; s < protocol::FirstProgrammedSector && s <= last; ++s) {
    if (!SectorFlags()[static_cast<size_t>(s)]) continue;
    erase(s);
    erasedOnly.push_back(s);
    wordsDone += SectorSize(s) / 4;
    ShowProgress(phase, wordsDone, wordsTotal);
    if (terminated_) return false;
    protocol::WaitSeconds(EraseWaitSeconds);
  }
  if (SectorFlags()[0]) {
    for (int k = 0; k < protocol::ZeroWordsAtStart; ++k) {
      address = protocol::FlashBase + 4 * static_cast<uint32_t>(k);
      protocol::ProgramWord(address, 0);
    }
  }
  // Below the first programmed sector a write leaves erased flash (and the zero words).
  for (int s : erasedOnly) written(s);

  std::vector<uint8_t> chunk(ProgramChunkBytes);
  for (int s = protocol::FirstProgrammedSector; s <= last; ++s) {
    if (!SectorFlags()[static_cast<size_t>(s)]) continue;
    erase(s);
    protocol::WaitSeconds(EraseWaitSeconds);
    file.clear();
    file.seekg(static_cast<std::streamoff>(address - protocol::FlashBase));
    for (uint32_t c = 0; c < SectorSize(s) / ProgramChunkBytes; ++c) {
      file.read(reinterpret_cast<char*>(chunk.data()), ProgramChunkBytes);
      if (static_cast<uint32_t>(file.gcount()) != ProgramChunkBytes)
        throw protocol::EFileError("Cannot read all of", fileName, errno);
      for (uint32_t w = 0; w < ProgramChunkBytes; w += 4) {
        uint32_t word = LittleEndianWord(&chunk[w]);
        // The sector was erased just now: an erased word already holds FFFFFFFF.
        if (SkipBlankWords() && word == ErasedWord)
          ++SkippedBlankWords();
        else
          protocol::ProgramWord(address, word);
        ++wordsDone;
        address += 4;
        ShowProgress(phase, wordsDone, wordsTotal);
        if (terminated_) return false;
      }
    }
    written(s);
  }
  file.close();
  FinishPhase(phase, startText);
  recordStop.Dismiss();
  {
    std::lock_guard<std::mutex> lock(errorMutex_);
    passes_.back().Complete = true;
    comparedSinceLastPass_ = false;
  }
  return !skipped;
}

void TIOThread::RunWriteJob() {
  protocol::BaseTimeout() = protocol::StandardBaseTimeout;
  FlashWriteActive() = true;
  if (selection_.Eeprom) {
    protocol::WriteEeprom(selection_.EepromFile);
    protocol::WaitSeconds(PhaseWaitSeconds);
    if (SafeMethod()) protocol::WriteEeprom(selection_.EepromFile);
    protocol::WaitSeconds(PhaseWaitSeconds);
  }
  if (selection_.Firmware || selection_.Channel) {
    const std::string image = ChannelMerged() ? MergedImageFile() : PickImageFile();
    bool verify = DifferentBlocksMethod();
    if (!DifferentBlocksMethod()) {
      ImageFileName() = image;
      protocol::SetSectorFlags(1);
      bool written = WriteFlash(BlockCount(), ColourWrite);
      if (written && SafeMethod()) {
        verify = true;
      } else {
        protocol::WaitSeconds(PhaseWaitSeconds);
      }
    }
    if (verify && !terminated_) {
      protocol::WaitSeconds(PhaseWaitSeconds);
      const std::string& plannedReadBack =
          selection_.Firmware ? FirmwareReadBackName() : ChannelReadBackName();
      std::string readBack = ClaimOwnFile(plannedReadBack);
      if (readBack != plannedReadBack)
        protocol::PostStatus(plannedReadBack + " exists already: the read-back is " + readBack);
      BlockCount() = selection_.Firmware ? FirmwareBlocks : ChannelBlocks;
      ImageFileName() = readBack;
      if (ReadFlash(BlockCount(), ColourReadBack) && !terminated_) {
        protocol::WaitSeconds(PhaseWaitSeconds);
        ImageFileName() = image;
        VerifyDetail detail;
        int32_t differing = VerifyBlocks(image, readBack, &detail);
        {
          // What was written before this comparison is proven by it.
          std::lock_guard<std::mutex> lock(errorMutex_);
          comparedSinceLastPass_ = true;
          std::vector<int> flagged;
          for (int s = 0; s < protocol::SectorCount; ++s)
            if (protocol::SectorFlags()[static_cast<size_t>(s)]) flagged.push_back(s);
          comparisons_.push_back(flagged);
        }
        if (!detail.WholeImage)
          NoteShortfall(protocol::BareFileName(image) +
                        " is longer than the flash read back; its rest was not compared");
        if (differing > 0) {
          protocol::WaitSeconds(RewriteWaitSeconds);
          WriteFlash(BlockCount(), ColourRewrite);
        }
      }
    }
  }
  if (terminated_) return;
  if (FinalCheck() && Shortfall().empty()) {
    host_.SetBarColour(ColourReadBack);
    FinalCheckResult check = RunFinalCheck(LastWritePass(), selection_);
    {
      std::lock_guard<std::mutex> lock(errorMutex_);
      finalCheck_ = check;
    }
    // A WRITE whose result differs from its image has failed, whatever its passes said.
    if (check.Result == "failed") throw std::runtime_error(FinalCheckFailure(check, selection_));
  }
  host_.PostWorkerDone();
}

FinalCheckResult TIOThread::FinalCheckDone() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return finalCheck_;
}

}  // namespace transfer

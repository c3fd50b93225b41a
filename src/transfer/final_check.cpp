#include "transfer/final_check.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "protocol/eeprom_transfer.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "protocol/transaction.h"

namespace transfer {

namespace {
constexpr uint8_t ErasedByte = 0xFF;
}  // namespace

std::string ImageSector(std::istream& image, const std::string& imageFile, int s) {
  uint32_t size = protocol::SectorSize(s);
  std::string bytes(size, '\0');
  image.clear();
  image.seekg(static_cast<std::streamoff>(protocol::SectorBase[static_cast<size_t>(s)] -
                                          protocol::FlashBase));
  image.read(bytes.data(), static_cast<std::streamsize>(size));
  if (static_cast<uint32_t>(image.gcount()) != size)
    throw protocol::EFileError("Cannot read all of", imageFile, errno);
  return bytes;
}

std::string SectorAsWritten(std::istream& image, const std::string& imageFile, int s) {
  if (s >= protocol::FirstProgrammedSector) return ImageSector(image, imageFile, s);
  std::string bytes(protocol::SectorSize(s), static_cast<char>(ErasedByte));
  if (s == 0) std::memset(bytes.data(), 0, 4 * protocol::ZeroWordsAtStart);
  return bytes;
}

std::vector<int> SectorsDifferingFromWrite(protocol::DecoLink& link, const std::string& imageFile,
                                           const std::vector<int>& sectors,
                                           protocol::StopToken stop, bool& stopped,
                                           const BytesRead& progress,
                                           std::vector<DifferingWord>* firstWords) {
  std::ifstream image(imageFile, std::ios::binary);
  if (!image) throw protocol::EFileError("Cannot open", imageFile, errno);
  std::vector<int> differing;
  uint8_t block[protocol::ReadBlockBytes];
  uint64_t passed = 0;
  for (int s : sectors) {
    std::string expected = SectorAsWritten(image, imageFile, s);
    uint32_t address = protocol::SectorBase[static_cast<size_t>(s)];
    for (size_t offset = 0; offset < expected.size(); offset += sizeof block) {
      if (stop.Requested()) {
        stopped = true;
        return differing;
      }
      protocol::ReadFlashBlock(link, address + static_cast<uint32_t>(offset), block);
      const auto* written = reinterpret_cast<const uint8_t*>(expected.data() + offset);
      if (std::memcmp(block, written, sizeof block) != 0) {
        differing.push_back(s);
        size_t w = 0;
        while (std::memcmp(block + w, written + w, 4) == 0) w += 4;
        if (firstWords)
          firstWords->push_back({address + static_cast<uint32_t>(offset + w),
                                 protocol::FlashWord(block + w), protocol::FlashWord(written + w)});
        break;
      }
      if (progress) progress(passed + offset + sizeof block);
    }
    passed += expected.size();
    if (progress) progress(passed);
  }
  return differing;
}

bool EepromHolds(protocol::DecoLink& link, const std::string& eepromFile, protocol::StopToken stop,
                 bool* stopped, const BytesRead& progress) {
  std::string expected = protocol::ReadWholeFile(eepromFile, protocol::EepromBytes);
  std::string image;
  uint64_t lines = 0;
  const bool whole = protocol::ReadEepromImage(link, image, stop, [&] {
    if (progress) progress(++lines * protocol::EepromLineBytes);
  });
  if (stopped) *stopped = !whole;
  return whole && image == expected;
}

std::string WhatWasWritten(const std::vector<WritePass>& passes) {
  std::vector<int> erased, written;
  uint32_t stoppedAt = 0;
  int unconfirmed = -1;
  for (const WritePass& pass : passes) {
    erased.insert(erased.end(), pass.Erased.begin(), pass.Erased.end());
    written.insert(written.end(), pass.Sectors.begin(), pass.Sectors.end());
    if (!pass.Complete) stoppedAt = pass.StoppedAt;
    if (pass.EraseUnconfirmed >= 0) unconfirmed = pass.EraseUnconfirmed;
  }
  if (erased.empty() && unconfirmed < 0) return "no flash sector was erased";
  std::string text = erased.empty() ? "no erase was confirmed"
                                     : "sector(s) " + SectorNumbers(erased) + " erased, " +
                                           (written.empty() ? std::string("none")
                                                            : SectorNumbers(written)) +
                                           " written in full";
  // The chips may have begun an erase whose last cycle went unanswered.
  if (unconfirmed >= 0)
    text += "; the erase of sector " + std::to_string(unconfirmed) +
            " was sent but not confirmed: it may be partly erased";
  if (stoppedAt) text += "; the WRITE stopped at " + protocol::ToHex(stoppedAt, 8);
  return text;
}

std::string SectorNumbers(const std::vector<int>& sectors) {
  std::string text;
  for (int s : sectors) {
    if (!text.empty()) text += ' ';
    text += std::to_string(s);
  }
  return text;
}

namespace {
uint64_t SectorBytes(const std::vector<int>& sectors) {
  uint64_t bytes = 0;
  for (int s : sectors) bytes += protocol::SectorSize(s);
  return bytes;
}
}  // namespace

uint64_t FinalCheckBytes(const WritePass& lastPass, const JobSelection& selection) {
  return (selection.TouchesFlash() ? SectorBytes(lastPass.Sectors) : 0) +
         (selection.Eeprom ? protocol::EepromBytes : 0);
}

FinalCheckResult RunFinalCheck(protocol::DecoLink& link, const WritePass& lastPass,
                               const JobSelection& selection, protocol::StopToken stop,
                               const BytesRead& progress) {
  FinalCheckResult result;
  bool stopped = false;
  uint64_t flashBytes = 0;
  if (selection.TouchesFlash()) {
    result.CheckedSectors = lastPass.Sectors;
    if (!lastPass.Sectors.empty())
      result.DifferingSectors =
          SectorsDifferingFromWrite(link, lastPass.ImageFile, lastPass.Sectors, stop, stopped,
                                    progress, &result.FirstDifferingWords);
    if (stopped) {
      result.Verdict = FinalCheckVerdict::Interrupted;
      return result;
    }
    flashBytes = SectorBytes(lastPass.Sectors);
    result.FlashChecked = true;
  }
  if (selection.Eeprom) {
    stopped = stop.Requested();
    if (!stopped)
      result.EepromEqual = EepromHolds(link, selection.EepromFile, stop, &stopped,
                                       [&](uint64_t bytes) {
                                         if (progress) progress(flashBytes + bytes);
                                       });
    if (stopped) {
      result.Verdict = FinalCheckVerdict::Interrupted;
      return result;
    }
    result.EepromChecked = true;
  }
  const bool equal = result.DifferingSectors.empty() && (!result.EepromChecked || result.EepromEqual);
  result.Verdict = equal ? FinalCheckVerdict::Passed : FinalCheckVerdict::Failed;
  return result;
}

std::vector<std::string> FinalCheckLines(const FinalCheckResult& result, const WritePass& lastPass,
                                         const JobSelection& selection) {
  std::vector<std::string> lines;
  if (result.FlashChecked) {
    if (lastPass.Sectors.empty())
      lines.push_back("Final check: no flash sector was written after the last comparison.");
    else if (result.DifferingSectors.empty())
      lines.push_back("Final check: sector(s) " + SectorNumbers(lastPass.Sectors) +
                      " hold what was written.");
    else
      lines.push_back("Final check FAILED: sector(s) " + SectorNumbers(result.DifferingSectors) +
                      " differ from " + protocol::BareFileName(lastPass.ImageFile) + ".");
    // Told as verify tells a difference: where, the deco's word, the file's.
    for (size_t i = 0; i < result.FirstDifferingWords.size(); ++i) {
      const DifferingWord& word = result.FirstDifferingWords[i];
      lines.push_back("  sector " + std::to_string(result.DifferingSectors[i]) +
                      ": first differing word " + protocol::ToHex(word.Address, 8) + ": deco " +
                      protocol::ToHex(word.Deco, 8) + ", written " +
                      protocol::ToHex(word.Written, 8));
    }
  }
  if (result.EepromChecked)
    lines.push_back((result.EepromEqual ? "Final check: the EEPROM holds "
                                        : "Final check FAILED: the EEPROM differs from ") +
                    protocol::BareFileName(selection.EepromFile) + ".");
  return lines;
}

std::string FinalCheckFailure(const FinalCheckResult& result, const JobSelection& selection) {
  std::string text;
  if (!result.DifferingSectors.empty())
    text = "the final check found sector(s) " + SectorNumbers(result.DifferingSectors) +
           " different from what was written";
  if (result.EepromChecked && !result.EepromEqual)
    text += (text.empty() ? "the final check found " : "; and ") +
            std::string("the EEPROM different from ") + selection.EepromFile;
  return text;
}

}  // namespace transfer

#include "transfer/final_check.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "protocol/eeprom_transfer.h"
#include "protocol/flash_map.h"
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
                                           protocol::StopToken stop, bool& stopped) {
  std::ifstream image(imageFile, std::ios::binary);
  if (!image) throw protocol::EFileError("Cannot open", imageFile, errno);
  std::vector<int> differing;
  uint8_t block[protocol::ReadBlockBytes];
  for (int s : sectors) {
    std::string expected = SectorAsWritten(image, imageFile, s);
    uint32_t address = protocol::SectorBase[static_cast<size_t>(s)];
    for (size_t offset = 0; offset < expected.size(); offset += sizeof block) {
      if (stop.Requested()) {
        stopped = true;
        return differing;
      }
      protocol::ReadFlashBlock(link, address + static_cast<uint32_t>(offset), block);
      if (std::memcmp(block, expected.data() + offset, sizeof block) != 0) {
        differing.push_back(s);
        break;
      }
    }
  }
  return differing;
}

bool EepromHolds(protocol::DecoLink& link, const std::string& eepromFile, protocol::StopToken stop,
                 bool* stopped) {
  std::string expected = protocol::ReadWholeFile(eepromFile, protocol::EepromBytes);
  std::string image;
  const bool whole = protocol::ReadEepromImage(link, image, stop);
  if (stopped) *stopped = !whole;
  return whole && image == expected;
}

std::string SectorNumbers(const std::vector<int>& sectors) {
  std::string text;
  for (int s : sectors) {
    if (!text.empty()) text += ' ';
    text += std::to_string(s);
  }
  return text;
}

FinalCheckResult RunFinalCheck(protocol::DecoLink& link, const WritePass& lastPass,
                               const JobSelection& selection, protocol::StopToken stop) {
  FinalCheckResult result;
  bool equal = true;
  bool stopped = false;
  if (selection.Firmware || selection.Channel) {
    result.CheckedSectors = lastPass.Sectors;
    if (lastPass.Sectors.empty()) {
      protocol::PostStatus(link,
                           "Final check: no flash sector was written after the last comparison.");
    } else {
      result.DifferingSectors =
          SectorsDifferingFromWrite(link, lastPass.ImageFile, lastPass.Sectors, stop, stopped);
      if (stopped) {
        result.Verdict = FinalCheckVerdict::Interrupted;
        return result;
      }
      if (result.DifferingSectors.empty()) {
        protocol::PostStatus(link, "Final check: sector(s) " + SectorNumbers(lastPass.Sectors) +
                                       " hold what was written.");
      } else {
        equal = false;
        protocol::PostStatus(link, "Final check FAILED: sector(s) " +
                                       SectorNumbers(result.DifferingSectors) + " differ from " +
                                       protocol::BareFileName(lastPass.ImageFile) + ".");
      }
    }
  }
  if (selection.Eeprom) {
    stopped = stop.Requested();
    if (!stopped) result.EepromEqual = EepromHolds(link, selection.EepromFile, stop, &stopped);
    if (stopped) {
      result.Verdict = FinalCheckVerdict::Interrupted;
      return result;
    }
    result.EepromChecked = true;
    if (result.EepromEqual) {
      protocol::PostStatus(link, "Final check: the EEPROM holds " +
                                     protocol::BareFileName(selection.EepromFile) + ".");
    } else {
      equal = false;
      protocol::PostStatus(link, "Final check FAILED: the EEPROM differs from " +
                                     protocol::BareFileName(selection.EepromFile) + ".");
    }
  }
  result.Verdict = equal ? FinalCheckVerdict::Passed : FinalCheckVerdict::Failed;
  return result;
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

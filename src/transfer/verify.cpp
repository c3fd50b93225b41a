#include "transfer/verify.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "protocol/transaction.h"

namespace transfer {

namespace {
constexpr size_t ChunkWords = 16384;

void ReadChunk(std::istream& in, std::vector<char>& chunk, size_t bytes, const std::string& name) {
  in.read(chunk.data(), static_cast<std::streamsize>(bytes));
  if (static_cast<size_t>(in.gcount()) != bytes)
    throw protocol::EFileError("Cannot read all of", name, errno);
}
}  // namespace

std::vector<int> VerifyResult::DifferingSectors() const {
  std::vector<int> sectors;
  for (int s = 0; s < protocol::SectorCount; ++s)
    if (SectorFlags[static_cast<size_t>(s)]) sectors.push_back(s);
  return sectors;
}

VerifyResult VerifyBlocks(protocol::DecoLink& link, bool block18Protected,
                          const std::string& imageFile, const std::string& readBackFile) {
  int64_t imageSize = protocol::FileSize64(imageFile);
  std::ifstream image(imageFile, std::ios::binary);
  return VerifyBlocks(link, block18Protected, image, imageSize, imageFile, readBackFile);
}

VerifyResult VerifyBlocks(protocol::DecoLink& link, bool block18Protected, std::istream& image,
                          int64_t imageSize, const std::string& imageFile,
                          const std::string& readBackFile) {
  VerifyResult found;
  using protocol::SectorBase;
  int64_t readBackSize = protocol::FileSize64(readBackFile);
  uint32_t limit =
      block18Protected ? SectorBase[protocol::ProtectedSector] : SectorBase[protocol::SectorCount];
  // Words past the read-back's end have nothing to be compared with: they are not compared.
  int64_t words = std::max<int64_t>(0, std::min(imageSize, readBackSize)) / 4;
  if (words > 0) {
    std::ifstream readBack(readBackFile, std::ios::binary);
    if (!image) throw protocol::EFileError("Cannot open", imageFile, errno);
    if (!readBack) throw protocol::EFileError("Cannot open", readBackFile, errno);
    std::vector<char> a(ChunkWords * 4), b(ChunkWords * 4);
    size_t sector = 0;
    uint32_t address = protocol::FlashBase;
    for (int64_t done = 0; done < words;) {
      size_t take = static_cast<size_t>(std::min<int64_t>(ChunkWords, words - done));
      ReadChunk(image, a, take * 4, imageFile);
      ReadChunk(readBack, b, take * 4, readBackFile);
      for (size_t w = 0; w < take; ++w, address += 4) {
        if (sector < protocol::SectorCount && address >= SectorBase[sector + 1]) ++sector;
        if (address < limit && std::memcmp(&a[w * 4], &b[w * 4], 4) != 0) {
          ++found.Count;
          found.SectorFlags[sector] = 1;
          ++found.DifferingWords[sector];
        }
      }
      done += static_cast<int64_t>(take);
    }
  }
  found.WholeImage = imageSize / 4 <= words;
  if (imageSize / 4 > words)
    protocol::PostStatus(link, "Verify: " + protocol::BareFileName(imageFile) +
                                   " is longer than the read-back; the rest was not compared.");
  if (found.Count == 0) {
    protocol::PostStatus(link, "Verifing done. No different bytes found!");
  } else {
    std::string line = "Diff in block(s) ";
    for (int s : found.DifferingSectors()) line += std::to_string(s) + " ";
    protocol::PostStatus(link, line);
  }
  return found;
}

}  // namespace transfer

#include "protocol/eeprom_transfer.h"

#include <cerrno>
#include <fstream>

#include "protocol/block_read.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "protocol/reply_form.h"
#include "protocol/resync.h"
#include "protocol/transaction.h"

namespace protocol {

namespace {
// Reads the sixteen lines, handing each one's 128 bytes to take as it comes; false when stopped
// before the last.
template <typename Take>
bool ReadEepromLines(DecoLink& link, Take&& take, StopToken stop = {}) {
  for (int i = 0; i < EepromLines; ++i) {
    if (stop.Requested()) return false;
    const EepromLine data = ReadEepromLine(link, i);
    take(data.data());
  }
  return true;
}
}  // namespace

EepromLine ReadEepromLine(DecoLink& link, int line) {
  std::string command = EepromLineCommand(line);
  auto lineName = [line] {
    return "the EEPROM line at " + ToHex(static_cast<uint32_t>(EepromLineBytes * line), 3);
  };
  EepromLine data{};
  ReadBlock(link, command, lineName, data.data(), EepromLineBytes,
            [&](uint8_t* destination) {
              std::string reply = SendCommand(link, command, 1);
              HexData decoded = DecodeHexBytes128(
                  reply, DataStartOf(ReplyKind::EepromLine), destination);
              if (decoded != HexData::Good)
                throw EBadReply(command, DescribeHexData(decoded, reply));
              // Where the deco repeats the read, another line's data under this line's name
              // shows; noise before the reply would shift its data.
              CheckReplyForm(link, ReplyKind::EepromLine, command, reply);
            });
  return data;
}

bool ReadEeprom(DecoLink& link, const std::string& fileName) {
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  if (!file) throw EFileError("Cannot create", fileName, errno);
  uint64_t start = ClockReading(link);
  ReadEepromLines(link, [&](const uint8_t* line) {
    file.write(reinterpret_cast<const char*>(line), EepromLineBytes);
    if (!file) throw EFileError("Cannot write", fileName, errno);
  });
  uint64_t end = ClockReading(link);
  file.close();
  if (!file) throw EFileError("Cannot write", fileName, errno);
  PostStatus(link, "Read EEPROM is finished 100% (" + std::to_string(ElapsedSeconds(start, end)) +
                       " sec.)");
  return true;
}

bool ReadEepromImage(DecoLink& link, std::string& image, StopToken stop,
                     const std::function<void()>& lineRead) {
  image.clear();
  return ReadEepromLines(
      link,
      [&](const uint8_t* line) {
        image.append(line, line + EepromLineBytes);
        if (lineRead) lineRead();
      },
      stop);
}

bool WriteEeprom(DecoLink& link, const std::string& fileName) {
  // The whole image is read first: a missing or short file sends nothing at all.
  std::string image = ReadWholeFile(fileName, EepromBytes);
  if (image.size() < static_cast<size_t>(EepromBytes))
    throw EFileError("EEPROM file", fileName,
                     "holds " + std::to_string(image.size()) + " bytes, needs " +
                         std::to_string(EepromBytes) + "; nothing was written");
  uint64_t start = ClockReading(link);
  uint32_t offset = 0;
  for (int i = 0; i < EepromLines; ++i) {
    std::string data;
    data.reserve(2 * EepromLineBytes);
    for (int b = 0; b < EepromLineBytes; ++b)
      data += ToHex(static_cast<uint8_t>(image[offset + static_cast<uint32_t>(b)]), 2);
    SendCommand(link, "060" + ToHex(offset, 4) + data, 1);
    offset += EepromLineBytes;
  }
  uint64_t end = ClockReading(link);
  PostStatus(link, "Write EEPROM to deco is finished 100% (" +
                       std::to_string(ElapsedSeconds(start, end)) + " sec.)");
  return true;
}

}  // namespace protocol

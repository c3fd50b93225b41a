#include "cli/image_tools.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "cli/sha256.h"
#include "protocol/deco_link.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "transfer/final_check.h"
#include "transfer/verify.h"

namespace cli {

namespace {

constexpr int ExitEqual = 0;
constexpr int ExitDifferent = 1;
constexpr int ExitError = 2;
constexpr int ExitRefused = 1;
constexpr size_t ShortDigest = 16;

const char* KindOf(int64_t size) {
  if (size == protocol::FirmwareImageBytes) return "firmware image";
  if (size == protocol::ChannelImageBytes) return "channel list image";
  if (size == protocol::EepromImageBytes) return "EEPROM image";
  return nullptr;
}

std::string SectorState(const std::string& bytes) {
  if (bytes.find_first_not_of('\xFF') == std::string::npos) return "erased";
  if (bytes.find_first_not_of('\0') == std::string::npos) return "all zero";
  return "data";
}

// The sector table of a flash image: the sectors it covers, from sector 0.
void ShowSectors(const std::string& file, int64_t size, ConsoleHost& host) {
  std::ifstream in(file, std::ios::binary);
  host.AddLogLine("  sector  addresses          state     SHA-256 (first 16)");
  for (int s = 0; s < protocol::SectorCount; ++s) {
    uint32_t first = protocol::SectorBase[static_cast<size_t>(s)];
    uint32_t end = protocol::SectorBase[static_cast<size_t>(s) + 1];
    if (end - protocol::FlashBase > static_cast<uint64_t>(size)) break;
    std::string bytes(end - first, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<size_t>(in.gcount()) != bytes.size())
      throw protocol::EFileError("Cannot read all of", file, errno);
    char line[128];
    std::snprintf(line, sizeof line, "  %6d  %s-%s  %-8s  %s", s, protocol::ToHex(first, 8).c_str(),
                  protocol::ToHex(end - 1, 8).c_str(), SectorState(bytes).c_str(),
                  Sha256Of(bytes).substr(0, ShortDigest).c_str());
    host.AddLogLine(line);
  }
}

// Runs a command body; an error becomes a message and exit status 2.
template <typename Body>
int Guarded(ConsoleHost& host, Body&& body) {
  try {
    return body();
  } catch (const std::exception& error) {
    host.Tell(error.what());
    return ExitError;
  }
}

bool SizeIs(const std::string& file, int64_t expected, const char* what, ConsoleHost& host) {
  int64_t size = protocol::FileSize64(file);
  if (size == expected) return true;
  host.Tell(file + " is no " + what + ": it has " + std::to_string(size) + " bytes, a " + what +
            " has " + std::to_string(expected));
  return false;
}

// An output that exists is replaced only when the user says so, as READ asks for its dumps.
bool MayReplace(const std::string& output, ConsoleHost& host) {
  std::error_code error;
  if (!std::filesystem::exists(output, error)) return true;
  if (host.Confirm("Do you really want to overwrite   " + protocol::BareFileName(output) + " ?"))
    return true;
  host.Tell(output + " exists and is kept: answer Yes or give --yes to replace it");
  return false;
}

// Why two files cannot be compared as an image and its read-back ("" when they can): an EEPROM
// compares with an EEPROM only; a flash image (any whole number of double words, as Different
// blocks accepts) with a read-back of the firmware or of the channel list that covers it.
std::string DiffRefusal(const std::string& image, int64_t imageSize, const std::string& readBack,
                        int64_t readBackSize, DiffAs as) {
  auto described = [](const std::string& file, int64_t size) {
    const char* kind = KindOf(size);
    return file + " (" + std::to_string(size) + " bytes" + (kind ? std::string(", ") + kind : "") +
           ")";
  };
  bool imageIsEeprom = imageSize == protocol::EepromImageBytes;
  bool readBackIsEeprom = readBackSize == protocol::EepromImageBytes;
  if (imageIsEeprom || readBackIsEeprom) {
    if (imageIsEeprom && readBackIsEeprom) return "";
    return "an EEPROM image compares only with an EEPROM image: " + described(image, imageSize) +
           ", " + described(readBack, readBackSize);
  }
  if (readBackSize != protocol::FirmwareImageBytes && readBackSize != protocol::ChannelImageBytes)
    return described(readBack, readBackSize) +
           " is no read-back of the flash: it holds 2097152 (firmware) or 524288 (channel list) "
           "bytes";
  if (imageSize <= 0 || imageSize % 8 != 0)
    return described(image, imageSize) + " is no flash image: its size is no multiple of 8";
  if (imageSize > readBackSize)
    return described(image, imageSize) + " is longer than the read-back " +
           described(readBack, readBackSize) + ": compare it with a read-back of the firmware";
  // A write leaves out a sector the image does not hold in full: nothing says what it holds.
  for (int s = 0; as == DiffAs::Written && s < protocol::SectorCount; ++s) {
    int64_t end = protocol::SectorBase[static_cast<size_t>(s) + 1] - protocol::FlashBase;
    if (imageSize < end && imageSize > end - protocol::SectorSize(s))
      return described(image, imageSize) + " ends inside sector " + std::to_string(s) +
             ", which a write leaves out: --as-written compares whole sectors";
  }
  return "";
}

// The image as a write leaves it in the flash: the whole sectors it holds, by the final check's
// rule.
std::string ImageAsWritten(const std::string& image, int64_t imageSize) {
  std::ifstream in(image, std::ios::binary);
  if (!in) throw protocol::EFileError("Cannot open", image, errno);
  std::string bytes;
  for (int s = 0; s < protocol::SectorCount &&
                  protocol::SectorBase[static_cast<size_t>(s) + 1] - protocol::FlashBase <=
                      static_cast<uint64_t>(imageSize);
       ++s)
    bytes += transfer::SectorAsWritten(in, image, s);
  return bytes;
}

constexpr int ListedDifferences = 8;

// The first differing words of the sectors the comparison counted, with both values; a holds the
// image's bytes (or what a write leaves), named by label.
void ListFirstDifferences(const std::string& a, const std::string& label,
                          const std::string& readBack, const transfer::VerifyResult& detail,
                          int32_t differing, ConsoleHost& host) {
  std::string b = protocol::ReadWholeFile(readBack, protocol::FirmwareImageBytes);
  auto word = [](const std::string& bytes, size_t at) {
    return protocol::FlashWord(reinterpret_cast<const uint8_t*>(bytes.data() + at));
  };
  int listed = 0;
  size_t sector = 0;
  for (size_t at = 0; at + 4 <= a.size() && at + 4 <= b.size() && listed < ListedDifferences;
       at += 4) {
    uint32_t address = protocol::FlashBase + static_cast<uint32_t>(at);
    while (sector + 1 < protocol::SectorCount && address >= protocol::SectorBase[sector + 1])
      ++sector;
    if (detail.DifferingWords[sector] == 0 || word(a, at) == word(b, at)) continue;
    host.AddLogLine("  " + protocol::ToHex(address, 8) + ": " + label + " " +
                    protocol::ToHex(word(a, at), 8) + ", read-back " +
                    protocol::ToHex(word(b, at), 8));
    ++listed;
  }
  if (differing > listed)
    host.AddLogLine("  ... and " + std::to_string(differing - listed) + " more differing word(s)");
}

// Two EEPROM images byte by byte.
int DiffEeproms(const std::string& image, const std::string& readBack, ConsoleHost& host) {
  std::string a = protocol::ReadWholeFile(image, protocol::EepromImageBytes);
  std::string b = protocol::ReadWholeFile(readBack, protocol::EepromImageBytes);
  int differing = 0;
  for (size_t at = 0; at < a.size(); ++at) {
    if (a[at] == b[at]) continue;
    if (differing < ListedDifferences) {
      char line[64];
      std::snprintf(line, sizeof line, "  %04X: image %02X, read-back %02X",
                    static_cast<unsigned>(at), static_cast<uint8_t>(a[at]),
                    static_cast<uint8_t>(b[at]));
      host.AddLogLine(line);
    }
    ++differing;
  }
  if (differing == 0) {
    host.AddLogLine("EEPROM images equal.");
    return ExitEqual;
  }
  if (differing > ListedDifferences)
    host.AddLogLine("  ... and " + std::to_string(differing - ListedDifferences) +
                    " more differing byte(s)");
  host.AddLogLine("EEPROM images differ in " + std::to_string(differing) + " byte(s).");
  return ExitDifferent;
}

}  // namespace

int InfoCommand(const std::vector<std::string>& files, ConsoleHost& host) {
  int result = ExitEqual;
  for (const std::string& file : files) {
    int status = Guarded(host, [&] {
      std::error_code error;
      if (!std::filesystem::is_regular_file(file, error)) {
        host.AddLogLine(file + ": cannot be read: not a file");
        return ExitError;
      }
      int64_t size = protocol::FileSize64(file);
      std::string digest = Sha256OfFile(file);
      const char* kind = KindOf(size);
      if (!kind) {
        host.AddLogLine(
            file + ": not a Pyrelink image: " + std::to_string(size) +
            " bytes is none of 2097152 (firmware), 524288 (channel list), 2048 (EEPROM)");
        host.AddLogLine("  SHA-256 " + digest);
        return ExitDifferent;
      }
      host.AddLogLine(file + ": " + kind + ", " + std::to_string(size) + " bytes");
      host.AddLogLine("  SHA-256 " + digest);
      if (size != protocol::EepromImageBytes) ShowSectors(file, size, host);
      return ExitEqual;
    });
    if (status > result) result = status;
  }
  return result;
}

int DiffCommand(const std::string& image, const std::string& readBack, bool isProtected,
                ConsoleHost& host, DiffAs as) {
  return Guarded(host, [&] {
    for (const std::string& file : {image, readBack}) {
      std::error_code error;
      if (!std::filesystem::is_regular_file(file, error))
        throw protocol::EFileError("Cannot open", file, "no such file");
    }
    const int64_t imageSize = protocol::FileSize64(image);
    const int64_t readBackSize = protocol::FileSize64(readBack);
    if (std::string why = DiffRefusal(image, imageSize, readBack, readBackSize, as); !why.empty()) {
      host.Tell(why);
      return ExitError;
    }
    if (imageSize == protocol::EepromImageBytes) return DiffEeproms(image, readBack, host);
    if (imageSize == protocol::ChannelImageBytes && readBackSize == protocol::FirmwareImageBytes)
      host.AddLogLine("Comparing the channel region (sectors 0-6, the first 512 KB) of " +
                      readBack + " with the channel list " + image + ".");
    std::string bytes;
    if (as == DiffAs::Written) {
      const int firstProgrammed = protocol::FirstProgrammedSector;
      host.AddLogLine("Comparing as written: sectors 0-" + std::to_string(firstProgrammed - 1) +
                      " erased with the " + std::to_string(protocol::ZeroWordsAtStart) +
                      " zero words at " + protocol::ToHex(protocol::FlashBase, 8) + ", " + image +
                      "'s bytes from sector " + std::to_string(firstProgrammed) + " on.");
      bytes = ImageAsWritten(image, imageSize);
    } else {
      bytes = protocol::ReadWholeFile(image, protocol::FirmwareImageBytes);
    }
    // The comparison as the write methods make it for a deco of this kind, with no port.
    protocol::DecoLink offline(&host);
    std::istringstream stream(bytes);
    const transfer::VerifyResult detail = transfer::VerifyBlocks(
        offline, isProtected, stream, static_cast<int64_t>(bytes.size()), image, readBack);
    const int32_t differing = detail.Count;
    for (int s = 0; s < protocol::SectorCount; ++s) {
      int64_t words = detail.DifferingWords[static_cast<size_t>(s)];
      if (words > 0)
        host.AddLogLine("  sector " + std::to_string(s) + ": " + std::to_string(words) +
                        " differing word(s)");
    }
    if (differing > 0)
      ListFirstDifferences(bytes, as == DiffAs::Written ? "as written" : "image", readBack, detail,
                           differing, host);
    // A WRITE never puts the image's bytes into sectors 0-2: after a right WRITE they are all
    // that differs, which looks like a failed one.
    const std::vector<int> sectors = detail.DifferingSectors();
    if (as == DiffAs::Image && !sectors.empty() && sectors.back() < protocol::FirstProgrammedSector)
      host.AddLogLine("Only sectors 0-" + std::to_string(protocol::FirstProgrammedSector - 1) +
                      " differ: a WRITE erases them and programs only the " +
                      std::to_string(protocol::ZeroWordsAtStart) + " zero words at " +
                      protocol::ToHex(protocol::FlashBase, 8) +
                      " there; `pyrelink-cli diff --as-written` compares by the WRITE's rule.");
    return differing == 0 && detail.WholeImage ? ExitEqual : ExitDifferent;
  });
}

int MergeCommand(const std::string& channel, const std::string& firmware, const std::string& output,
                 ConsoleHost& host) {
  return Guarded(host, [&] {
    if (!SizeIs(channel, protocol::ChannelImageBytes, "channel list image", host) ||
        !SizeIs(firmware, protocol::FirmwareImageBytes, "firmware image", host))
      return ExitError;
    if (protocol::SameFile(output, channel) || protocol::SameFile(output, firmware)) {
      host.Tell(output + " is one of the inputs; name another output");
      return ExitError;
    }
    if (!MayReplace(output, host)) return ExitRefused;
    host.AddLogLine("Inserting Channel into Firmware file ...");
    protocol::MergeChannelIntoFirmware(channel, firmware, output,
                                       [&](const std::string& line) { host.AddLogLine(line); });
    return ExitEqual;
  });
}

int ExtractCommand(const std::string& firmware, const std::string& channel, ConsoleHost& host) {
  return Guarded(host, [&] {
    if (!SizeIs(firmware, protocol::FirmwareImageBytes, "firmware image", host)) return ExitError;
    if (protocol::SameFile(channel, firmware)) {
      host.Tell(channel + " is the firmware image; name another output");
      return ExitError;
    }
    if (!MayReplace(channel, host)) return ExitRefused;
    protocol::CopyLeadingWords(firmware, channel, protocol::ChannelWords);
    host.AddLogLine("CHANNEL is extracted from FIRMWARE. OK!");
    return ExitEqual;
  });
}

}  // namespace cli

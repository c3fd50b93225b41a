#include "cli/image_tools.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli/sha256.h"
#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "protocol/service_mode.h"
#include "protocol/transaction.h"
#include "transfer/verify.h"

namespace cli {

namespace {

constexpr int ExitEqual = 0;
constexpr int ExitDifferent = 1;
constexpr int ExitError = 2;
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

std::string Hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

// The sector table of a flash image: the sectors it covers, from sector 0.
void ShowSectors(const std::string& file, int64_t size, ConsoleHost& host) {
  std::ifstream in(file, std::ios::binary);
  host.AddLogLine("  sector  addresses          state     SHA-256 (first 16)");
  for (int s = 0; s < protocol::SectorCount; ++s) {
    uint32_t first = protocol::SectorBase()[static_cast<size_t>(s)];
    uint32_t end = protocol::SectorBase()[static_cast<size_t>(s) + 1];
    if (end - protocol::FlashBase > static_cast<uint64_t>(size)) break;
    std::string bytes(end - first, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<size_t>(in.gcount()) != bytes.size())
      throw protocol::EFileError("Cannot read all of", file, errno);
    char line[128];
    std::snprintf(line, sizeof line, "  %6d  %s-%s  %-8s  %s", s, Hex8(first).c_str(),
                  Hex8(end - 1).c_str(), SectorState(bytes).c_str(),
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
    host.Message(std::string(MessagePrefix) + error.what());
    return ExitError;
  }
}

bool SizeIs(const std::string& file, int64_t expected, const char* what, ConsoleHost& host) {
  int64_t size = protocol::FileSize64(file);
  if (size == expected) return true;
  host.Message(std::string(MessagePrefix) + file + " is no " + what + ": it has " +
               std::to_string(size) + " bytes, a " + what + " has " + std::to_string(expected));
  return false;
}

}  // namespace

int InfoCommand(const std::vector<std::string>& files, ConsoleHost& host) {
  protocol::FillFlashTables();
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
                ConsoleHost& host) {
  return Guarded(host, [&] {
    for (const std::string& file : {image, readBack}) {
      std::error_code error;
      if (!std::filesystem::is_regular_file(file, error))
        throw protocol::EFileError("Cannot open", file, "no such file");
    }
    protocol::FillFlashTables();
    protocol::Block18Protected() = isProtected;
    protocol::MainWindowHandle() = &host;
    transfer::VerifyDetail detail;
    int32_t differing = transfer::VerifyBlocks(image, readBack, &detail);
    protocol::MainWindowHandle() = nullptr;
    for (int s = 0; s < protocol::SectorCount; ++s) {
      int64_t words = detail.DifferingWords[static_cast<size_t>(s)];
      if (words > 0)
        host.AddLogLine("  sector " + std::to_string(s) + ": " + std::to_string(words) +
                        " differing word(s)");
    }
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
      host.Message(std::string(MessagePrefix) + output +
                   " is one of the inputs; name another output");
      return ExitError;
    }
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
      host.Message(std::string(MessagePrefix) + channel +
                   " is the firmware image; name another output");
      return ExitError;
    }
    protocol::CopyLeadingWords(firmware, channel, protocol::ChannelWords);
    host.AddLogLine("CHANNEL is extracted from FIRMWARE. OK!");
    return ExitEqual;
  });
}

}  // namespace cli

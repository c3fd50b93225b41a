#include "cli/verify_command.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "cli/cli_connect.h"
#include "protocol/block_read.h"
#include "protocol/eeprom_transfer.h"
#include "protocol/flash_chips.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "transfer/connection.h"
#include "transfer/final_check.h"
#include "transfer/memories.h"

namespace cli {

namespace {

// Enough to see the pattern of a difference without burying the summary.
constexpr size_t ExamplesPerSector = 4;
constexpr const char* NeverTheSame = "read otherwise each time: trouble on the line, not compared";

struct FileToVerify {
  std::string name;
  int64_t bytes;
  bool flash;
};

// A read that differs from the file is read again until a read agrees with an earlier one (the
// differing one among them), which then stands for what the deco holds; false when none agree:
// the line, not the deco, gave the difference. One changed digit on the line is no difference.
bool ReadUntilTwoAgree(std::string& first, const std::function<std::string()>& readAgain) {
  std::vector<std::string> reads{first};
  while (reads.size() < 2 + protocol::DoubleReadExtraReads) {
    std::string again = readAgain();
    if (std::find(reads.begin(), reads.end(), again) != reads.end()) {
      first = std::move(again);
      return true;
    }
    reads.push_back(std::move(again));
  }
  return false;
}

// Why file cannot be compared ("" when it can): it must be a whole image of its memory.
std::string FileRefusal(const FileToVerify& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file.name, error))
    return "cannot verify against " + file.name + ": it does not exist or is no file";
  const int64_t found = protocol::FileSize64(file.name);
  if (found != file.bytes)
    return "cannot verify against " + file.name + ": it holds " + std::to_string(found) +
           " bytes, not the " + std::to_string(file.bytes) + " of the memory";
  return "";
}

// The sectors of the flash image that differ both from what a WRITE of it leaves and, below
// sector 3, from the image as it is (a READ's dump of this deco holds them so); stopped tells that
// Ctrl-C ended the reading; unsure: the blocks that never read the same twice ("7FE7CA00 in
// sector 6"), which the comparison leaves out; asItIs: the sectors below 3 that hold the image as
// it is, not as a WRITE leaves them.
std::vector<SectorDifference> CompareFlash(protocol::DecoLink& link, const FileToVerify& file,
                                           bool block18Protected, ConsoleHost& host,
                                           protocol::StopToken stop, bool& stopped,
                                           std::vector<std::string>& unsure,
                                           std::vector<int>& asItIs) {
  std::ifstream image(file.name, std::ios::binary);
  int last = file.bytes == protocol::ChannelImageBytes ? protocol::LastChannelSector
                                                       : protocol::SectorCount - 1;
  if (last == protocol::ProtectedSector && block18Protected) {
    host.AddLogLine("Sector 18 is left out: this model protects it, a WRITE never changes it.");
    --last;
  }
  const uint64_t total = protocol::SectorBase[static_cast<size_t>(last) + 1] - protocol::FlashBase;
  const std::string label = "Verify " + protocol::BareFileName(file.name) + " against the deco ...";
  host.AddLogLine(label);
  host.PhaseStarted(transfer::PhaseKind::ReadBack, total, label);
  std::vector<SectorDifference> differences;
  std::string read(protocol::ReadBlockBytes, '\0');
  auto readBlock = [&link](uint32_t address, std::string& into) {
    protocol::ReadFlashBlock(link, address, reinterpret_cast<uint8_t*>(into.data()));
  };
  uint64_t done = 0;
  int shown = -1;
  for (int s = 0; s <= last; ++s) {
    const std::string expected = transfer::SectorAsWritten(image, file.name, s);
    const uint32_t base = protocol::SectorBase[static_cast<size_t>(s)];
    // Below sector 3 a deco never written by a WRITE holds the image as it is.
    const std::string verbatim =
        s < protocol::FirstProgrammedSector ? transfer::ImageSector(image, file.name, s) : "";
    SectorDifference sector{s, 0, {}, !verbatim.empty()};
    for (size_t offset = 0; offset < expected.size(); offset += read.size()) {
      if (stop.Requested()) {
        stopped = true;
        return differences;
      }
      const uint32_t address = base + static_cast<uint32_t>(offset);
      readBlock(address, read);
      const auto* wanted = reinterpret_cast<const uint8_t*>(expected.data()) + offset;
      if (std::memcmp(read.data(), wanted, read.size()) != 0 && !ReadUntilTwoAgree(read, [&] {
            std::string again(read.size(), '\0');
            readBlock(address, again);
            return again;
          })) {
        unsure.push_back(protocol::ToHex(address, 8) + " in sector " + std::to_string(s));
        done += read.size();
        continue;
      }
      const auto* block = reinterpret_cast<const uint8_t*>(read.data());
      if (sector.HoldsImageAsItIs)
        sector.HoldsImageAsItIs = std::memcmp(block, verbatim.data() + offset, read.size()) == 0;
      for (size_t w = 0; w < read.size(); w += 4) {
        if (std::memcmp(block + w, wanted + w, 4) == 0) continue;
        if (++sector.Words <= ExamplesPerSector)
          sector.Examples.push_back(protocol::ToHex(base + static_cast<uint32_t>(offset + w), 8) +
                                    ": deco " + protocol::ToHex(protocol::FlashWord(block + w), 8) +
                                    ", file " +
                                    protocol::ToHex(protocol::FlashWord(wanted + w), 8));
      }
      done += read.size();
      const int percent = static_cast<int>(done * 100 / total);
      if (percent > shown) host.UpdateProgress(shown = percent, "");
    }
    if (sector.Words > 0 && sector.HoldsImageAsItIs)
      asItIs.push_back(s);
    else if (sector.Words > 0)
      differences.push_back(sector);
  }
  host.PhaseEnded(transfer::PhaseKind::ReadBack, label);
  return differences;
}

}  // namespace

std::vector<std::string> DifferenceLines(const std::string& file,
                                         const std::vector<SectorDifference>& differences) {
  if (differences.empty())
    return {"Verify: the flash holds what a WRITE of " + protocol::BareFileName(file) + " leaves."};
  std::vector<std::string> lines;
  std::vector<int> sectors;
  for (const SectorDifference& d : differences) sectors.push_back(d.Sector);
  lines.push_back("Verify FAILED: sector(s) " + transfer::SectorNumbers(sectors) + " differ from " +
                  protocol::BareFileName(file) + ".");
  for (const SectorDifference& d : differences) {
    std::string line =
        "  sector " + std::to_string(d.Sector) + ": " + std::to_string(d.Words) + " word(s) differ";
    for (const std::string& example : d.Examples) line += "; " + example;
    if (d.Words > d.Examples.size()) line += "; ...";
    lines.push_back(line);
  }
  return lines;
}

int VerifyCommand(const JobOptions& options, ConsoleHost& host, protocol::StopToken stop) {
  const transfer::JobSelection& s = options.selection;
  std::vector<FileToVerify> files;
  for (const transfer::Memory& memory : transfer::Memories)
    if (s.*memory.Ticked) files.push_back({s.*memory.File, memory.ImageBytes, memory.InFlash});
  for (const FileToVerify& file : files) {
    const std::string refusal = FileRefusal(file);
    if (refusal.empty()) continue;
    host.Tell(refusal);
    return ExitUsage;
  }

  protocol::DecoLink link(&host, RunClock(options));
  JobOptions run;  // as the connect found the deco
  protocol::DecoFacts deco;
  if (!ConnectOneDeco(link, options, host, stop, run, deco)) return ExitJobFailed;
  int result = ExitDone;
  try {
    // Chips a cut-off job left identifying would answer with their codes, not the flash.
    if (s.TouchesFlash()) protocol::ReturnChipsToRead(link);
    bool differs = false;
    std::vector<std::string> unsure;  // for all files
    for (const FileToVerify& file : files) {
      if (stop.Requested()) break;
      bool equal = true;
      if (file.flash) {
        bool stopped = false;
        std::vector<std::string> unsureHere;
        std::vector<int> asItIs;
        const auto differences = CompareFlash(link, file, deco.Block18Protected, host, stop,
                                              stopped, unsureHere, asItIs);
        if (stopped) break;
        // A dump just read holds sectors 0-2 as they are; a WRITE of it leaves them erased with
        // the zero words at the start: either way the deco holds what the file stands for.
        if (!asItIs.empty())
          host.AddLogLine("Verify: sector(s) " + transfer::SectorNumbers(asItIs) + " hold " +
                          protocol::BareFileName(file.name) +
                          " as it is, as a READ's dump has them (a WRITE of it leaves them erased, "
                          "with the zero words at 7FE00000).");
        if (!differences.empty() || (unsureHere.empty() && asItIs.empty())) {
          for (const std::string& line : DifferenceLines(file.name, differences))
            host.AddLogLine(line);
        } else {
          host.AddLogLine("Verify: the rest of the flash holds what a WRITE of " +
                          protocol::BareFileName(file.name) + " leaves.");
        }
        for (const std::string& block : unsureHere)
          host.AddLogLine("  the flash block at " + block + " " + NeverTheSame);
        unsure.insert(unsure.end(), unsureHere.begin(), unsureHere.end());
        equal = differences.empty();
        // Only a whole firmware image read equal without a block left unsure proves the flash.
        if (equal && unsureHere.empty() && file.bytes == protocol::FirmwareImageBytes)
          link.Record().Proven(true, false);
      } else {
        const std::string expected = protocol::ReadWholeFile(file.name, protocol::EepromBytes);
        std::string eeprom;
        if (!protocol::ReadEepromImage(link, eeprom, stop)) break;
        if (eeprom != expected && !ReadUntilTwoAgree(eeprom, [&] {
              std::string again;
              protocol::ReadEepromImage(link, again, stop);
              return again;
            })) {
          if (stop.Requested()) break;
          host.AddLogLine("Verify: the EEPROM " + std::string(NeverTheSame));
          unsure.push_back("the EEPROM");
          continue;
        }
        if (stop.Requested()) break;
        std::vector<std::string> offsets;
        for (size_t i = 0; i < eeprom.size() && i < expected.size(); ++i)
          if (eeprom[i] != expected[i])
            // As the flash's differences are told: where (in hex, marked so), the deco's, the
            // file's.
            offsets.push_back("0x" + protocol::ToHex(static_cast<uint32_t>(i), 3) + ": deco " +
                              protocol::ToHex(static_cast<uint8_t>(eeprom[i]), 2) + ", file " +
                              protocol::ToHex(static_cast<uint8_t>(expected[i]), 2));
        equal = offsets.empty();
        if (equal) link.Record().Proven(false, true);
        if (equal) {
          host.AddLogLine("Verify: the EEPROM holds " + protocol::BareFileName(file.name) + ".");
        } else {
          std::string line = "Verify FAILED: the EEPROM differs from " +
                             protocol::BareFileName(file.name) + " in " +
                             std::to_string(offsets.size()) + " byte(s)";
          for (size_t i = 0; i < offsets.size() && i < 2 * ExamplesPerSector; ++i)
            line += "; " + offsets[i];
          host.AddLogLine(line + (offsets.size() > 2 * ExamplesPerSector ? "; ..." : ""));
        }
      }
      differs |= !equal;
    }
    // A difference seen twice the same way is the deco's and outweighs what the line hid.
    if (differs) {
      result = ExitJobFailed;
    } else if (!unsure.empty() && !stop.Requested()) {
      host.Tell("verify unsure: " + std::to_string(unsure.size()) +
                " block(s) read otherwise each time (trouble on the line, not a difference): "
                "check the cable and the adapter (`line-check`), then verify again");
      result = ExitLineTrouble;
    }
    if (stop.Requested()) {
      host.Tell("verify interrupted: the comparison is not complete");
      result = ExitAborted;
    }
  } catch (const std::exception& failure) {
    host.Tell(std::string("verify failed: ") + failure.what());
    transfer::RecordIfDecoLost(link, failure);
    result = ExitJobFailed;
  }
  return DisconnectFromCli(link, run, host, result);
}

}  // namespace cli

#include "cli/read_dumps.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli/sha256.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "transfer/memories.h"

namespace cli {

namespace {
constexpr const char* PartialSuffix = ".partial";
}  // namespace

ReadDumps::ReadDumps(const transfer::JobSelection& selection)
    : selection_(selection), partial_(selection) {}

bool ReadDumps::Claim(ConsoleHost& host, std::string& error) {
  try {
    for (const transfer::Memory& memory : transfer::Memories) {
      if (!(partial_.*memory.Ticked)) continue;
      std::string& file = partial_.*memory.File;
      std::string wanted = file + PartialSuffix;
      transfer::LeftFile left = transfer::RemoveUnlessHeld(wanted);
      if (left == transfer::LeftFile::Held)
        throw protocol::EFileError("Cannot read into", file,
                                   "another run is writing " + wanted + " now");
      if (left == transfer::LeftFile::Removed)
        host.AddLogLine("Removed " + wanted + ", left by an earlier READ.");
      held_.push_back(transfer::ClaimHeldFile(wanted));
      file = held_.back().Name();
      if (file != wanted) host.AddLogLine(wanted + " is in use: this READ writes " + file);
    }
  } catch (const std::exception& failure) {
    for (const transfer::HeldFile& own : held_) {
      std::error_code ignored;
      std::filesystem::remove(own.Name(), ignored);
    }
    held_.clear();
    partial_ = selection_;
    error = failure.what();
    host.Tell(error);
    return false;
  }
  return true;
}

void ReadDumps::NameComplete() const {
  std::vector<std::string> from = transfer::TickedFiles(partial_);
  std::vector<std::string> to = transfer::TickedFiles(selection_);
  for (size_t i = 0; i < to.size(); ++i) {
    std::error_code error;
    std::filesystem::rename(from[i], to[i], error);
    if (error) throw protocol::EFileError("Cannot rename", from[i], error.message());
  }
}

void ReadDumps::TellWhereTheyAre(ConsoleHost& host) const {
  std::vector<std::string> from = transfer::TickedFiles(partial_);
  std::vector<std::string> to = transfer::TickedFiles(selection_);
  for (size_t i = 0; i < to.size(); ++i) {
    std::error_code error;
    if (!std::filesystem::exists(from[i], error)) continue;
    if (protocol::FileSize64(from[i]) == 0) {
      std::filesystem::remove(from[i], error);
      continue;
    }
    host.Tell("the READ did not finish: " + to[i] + " is unchanged; what was read is in " +
              from[i]);
  }
}

void WriteChecksums(const transfer::JobSelection& selection, ConsoleHost& host) {
  for (const std::string& file : transfer::TickedFiles(selection)) {
    std::string sums = file + ".sha256";
    std::ofstream out(sums, std::ios::binary | std::ios::trunc);
    out << Sha256OfFile(file) << "  " << protocol::BareFileName(file) << "\n";
    out.close();
    if (!out) throw protocol::EFileError("Cannot write", sums, errno);
    host.AddLogLine("SHA-256 of " + file + " is in " + sums);
  }
}

}  // namespace cli

#include "transfer/read_dumps.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "protocol/protocol_error.h"
#include "transfer/memories.h"
#include "transfer/own_files.h"

namespace transfer {

namespace {

constexpr const char* PartialSuffix = ".partial";
// Where a new READ keeps the flash dump an earlier one left, until it has read the flash itself.
constexpr const char* EarlierSuffix = ".earlier";

// The memory whose dump is read from the flash: the firmware, or the channel list alone.
const Memory* FlashDump(const JobSelection& selection) {
  if (selection.Firmware) return &Memories[0];
  if (selection.Channel) return &Memories[2];
  return nullptr;
}

// Holds the partial dump an ended READ left (wanted) with its whole blocks, for a resumed READ
// of file; answers how many blocks it keeps.
int32_t KeepToResume(const Memory& memory, const std::string& file,
                     const std::string& wanted, HeldFile& held) {
  std::error_code error;
  if (!std::filesystem::exists(wanted, error))
    throw protocol::EFileError("Cannot resume", file,
                               "there is no " + wanted + " (a READ that did not finish leaves it)");
  const int64_t size = protocol::FileSize64(wanted);
  if (size > memory.ImageBytes)
    throw protocol::EFileError("Cannot resume", file,
                               wanted + " holds " + std::to_string(size) + " bytes, more than " +
                                   memory.Kind + " (" + std::to_string(memory.ImageBytes) + ")");
  const int32_t blocks = static_cast<int32_t>(size / protocol::ReadBlockBytes);
  const std::string kept = protocol::ReadWholeFile(wanted, size)
                               .substr(0, static_cast<size_t>(blocks) * protocol::ReadBlockBytes);
  // The file is made again under this run's hold: a live run's is never taken.
  if (RemoveUnlessHeld(wanted) == LeftFile::Held)
    throw protocol::EFileError("Cannot read into", file,
                               "another run is writing " + wanted + " now");
  held = ClaimHeldFile(wanted);
  if (held.Name() != wanted)
    throw protocol::EFileError("Cannot resume", file,
                               "another run made " + wanted + " again at once");
  std::ofstream out(wanted, std::ios::binary | std::ios::trunc);
  out.write(kept.data(), static_cast<std::streamsize>(kept.size()));
  out.close();
  if (!out) throw protocol::EFileError("Cannot write", wanted, errno);
  return blocks;
}

// Sets aside the flash dump an ended READ left (wanted) when a resume could go on with it: held
// under wanted.earlier (or the next free name) until the new READ has read the flash. Answers an
// empty hold when there is no such dump; the caller then claims wanted as usual.
HeldFile SetAside(const std::string& file, const std::string& wanted) {
  std::error_code error;
  if (!std::filesystem::exists(wanted, error) ||
      protocol::FileSize64(wanted) < protocol::ReadBlockBytes)
    return {};
  const std::string dump = protocol::ReadWholeFile(wanted, protocol::FileSize64(wanted));
  // Written aside first: the dump is never only in memory.
  HeldFile aside = ClaimHeldFile(wanted + EarlierSuffix);
  std::ofstream out(aside.Name(), std::ios::binary | std::ios::trunc);
  out.write(dump.data(), static_cast<std::streamsize>(dump.size()));
  out.close();
  if (!out) {
    const int why = errno;
    std::filesystem::remove(aside.Name(), error);
    throw protocol::EFileError("Cannot write", aside.Name(), why);
  }
  const LeftFile left = RemoveUnlessHeld(wanted);
  if (left == LeftFile::Removed) return aside;
  std::filesystem::remove(aside.Name(), error);
  if (left == LeftFile::None) return {};
  throw protocol::EFileError("Cannot read into", file, "another run is writing " + wanted + " now");
}

}  // namespace

ReadDumps::ReadDumps(const JobSelection& selection)
    : selection_(selection), partial_(selection) {}

bool ReadDumps::Claim(JobDialogs& host, std::string& error, bool resume) {
  const Memory* flashDump = FlashDump(selection_);
  try {
    for (const Memory& memory : Memories) {
      if (!(partial_.*memory.Ticked)) continue;
      std::string& file = partial_.*memory.File;
      std::string wanted = file + PartialSuffix;
      if (resume && &memory == flashDump) {
        resumeBlocks_ = KeepToResume(memory, file, wanted, resumed_);
        file = wanted;
        continue;
      }
      if (&memory == flashDump) {
        earlier_ = SetAside(file, wanted);
        if (!earlier_.Name().empty())
          host.AddLogLine(wanted + ", left by an earlier READ, is kept as " + earlier_.Name() +
                          " until this READ has read the flash.");
      }
      LeftFile left = RemoveUnlessHeld(wanted);
      if (left == LeftFile::Held)
        throw protocol::EFileError("Cannot read into", file,
                                   "another run is writing " + wanted + " now");
      if (left == LeftFile::Removed)
        host.AddLogLine("Removed " + wanted + ", left by an earlier READ.");
      held_.push_back(ClaimHeldFile(wanted));
      file = held_.back().Name();
      if (file != wanted) host.AddLogLine(wanted + " is in use: this READ writes " + file);
    }
  } catch (const std::exception& failure) {
    for (const HeldFile& own : held_) {
      std::error_code ignored;
      std::filesystem::remove(own.Name(), ignored);
    }
    held_.clear();
    // The kept dump of a resumed READ stays for the next try, and so does an earlier one.
    resumed_.Release();
    PutEarlierBack(host);
    partial_ = selection_;
    resumeBlocks_ = 0;
    error = failure.what();
    host.Explain(error);
    return false;
  }
  return true;
}

std::vector<std::string> ReadDumps::NameComplete(const JobSelection& complete,
                                                 JobDialogs& host) {
  std::vector<std::string> named;
  for (const Memory& memory : Memories) {
    if (!(selection_.*memory.Ticked) || !(complete.*memory.Ticked)) continue;
    const std::string& from = partial_.*memory.File;
    const std::string& to = selection_.*memory.File;
    std::error_code error;
    std::filesystem::rename(from, to, error);
    if (error) throw protocol::EFileError("Cannot rename", from, error.message());
    named.push_back(to);
    if (&memory == FlashDump(selection_)) DropEarlier(host);
  }
  return named;
}

void ReadDumps::DropEarlier(JobDialogs& host) {
  if (earlier_.Name().empty()) return;
  std::error_code error;
  std::filesystem::remove(earlier_.Name(), error);
  host.AddLogLine(error ? "Cannot remove " + earlier_.Name() + ": " + error.message()
                        : "Removed " + earlier_.Name() + " (" +
                              selection_.*FlashDump(selection_)->File + PartialSuffix +
                              ", left by an earlier READ): this READ has read the flash.");
  earlier_ = {};
}

void ReadDumps::PutEarlierBack(JobDialogs& host) {
  if (earlier_.Name().empty()) return;
  const std::string wanted = selection_.*FlashDump(selection_)->File + PartialSuffix;
  std::error_code error;
  // This READ's own dump there, empty, is gone by now; another run's is not replaced.
  if (std::filesystem::exists(wanted, error))
    error = std::make_error_code(std::errc::file_exists);
  else
    std::filesystem::rename(earlier_.Name(), wanted, error);
  const std::string earlier =
      "this READ read nothing of the flash: " + wanted + ", left by an earlier READ, is ";
  host.Explain(error ? earlier + "in " + earlier_.Name() +
                        " (cannot rename it back: " + error.message() + ")"
                  : earlier + "kept");
  earlier_ = {};
}

bool ReadDumps::FlashDumpResumable() const {
  const Memory* flashDump = FlashDump(selection_);
  if (!flashDump) return false;
  const std::string& partial = partial_.*flashDump->File;
  std::error_code error;
  return std::filesystem::exists(partial, error) &&
         protocol::FileSize64(partial) >= protocol::ReadBlockBytes;
}

void ReadDumps::TellWhereTheyAre(JobDialogs& host) {
  const bool flashRead = FlashDumpResumable();
  std::vector<std::string> from = TickedFiles(partial_);
  std::vector<std::string> to = TickedFiles(selection_);
  for (size_t i = 0; i < to.size(); ++i) {
    std::error_code error;
    if (!std::filesystem::exists(from[i], error)) continue;
    if (protocol::FileSize64(from[i]) == 0) {
      std::filesystem::remove(from[i], error);
      continue;
    }
    // A dump that did not exist before cannot be "unchanged": it was not made.
    const std::string kept = std::filesystem::exists(to[i], error) ? " is unchanged"
                                                                   : " was not made";
    host.Explain("the READ did not finish: " + to[i] + kept + "; what was read is in " + from[i]);
  }
  if (flashRead) {
    DropEarlier(host);
  } else {
    PutEarlierBack(host);
  }
}

}  // namespace transfer

#include "protocol/image_files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "protocol/protocol_error.h"

namespace protocol {

namespace {
constexpr size_t CopyChunkBytes = 64 * 1024;
namespace fs = std::filesystem;

// Copies exactly bytes from in to out; false when in ends early or out fails.
bool CopyBytes(std::istream& in, std::ostream& out, int64_t bytes) {
  std::vector<char> chunk(CopyChunkBytes);
  while (bytes > 0) {
    std::streamsize piece = static_cast<std::streamsize>(
        bytes < static_cast<int64_t>(chunk.size()) ? bytes : static_cast<int64_t>(chunk.size()));
    in.read(chunk.data(), piece);
    if (in.gcount() != piece) return false;
    out.write(chunk.data(), piece);
    if (!out) return false;
    bytes -= piece;
  }
  return true;
}

std::ifstream OpenForReading(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) throw EFileError("Cannot open", name, errno);
  return in;
}

std::ofstream CreateFile(const std::string& name) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  if (!out) throw EFileError("Cannot create", name, errno);
  return out;
}

// Closes out and removes it when anything failed, so no half-written image is left behind.
void FinishOrRemove(std::ofstream& out, const std::string& name, bool copied,
                    const std::string& source) {
  out.close();
  if (copied && out) return;
  int error = errno;
  std::remove(name.c_str());
  if (!copied && !source.empty())
    throw EFileError("Cannot read all of", source, "file ended early");
  throw EFileError("Cannot write", name, error);
}
}  // namespace

int64_t FileSize64(const std::string& name) {
  std::error_code error;
  fs::file_status status = fs::status(name, error);
  if (!fs::exists(status)) return 0;
  if (fs::is_directory(status)) return -1;
  std::ifstream in(name, std::ios::binary | std::ios::ate);
  if (!in) return -1;
  std::streamoff size = in.tellg();
  return size < 0 ? -1 : static_cast<int64_t>(size);
}

int32_t FileSizeOf(const std::string& name) {
  int64_t size = FileSize64(name);
  return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
}

bool CopyLeadingWords(const std::string& source, const std::string& destination, int32_t count) {
  int64_t bytes = int64_t{4} * count;
  if (FileSize64(source) < bytes) return false;
  std::ifstream in = OpenForReading(source);
  std::ofstream out = CreateFile(destination);
  bool copied = CopyBytes(in, out, bytes);
  FinishOrRemove(out, destination, copied, copied ? "" : source);
  return true;
}

int32_t MergeChannelIntoFirmware(const std::string& channel, const std::string& firmware,
                                 const std::string& output,
                                 const std::function<void(const std::string&)>& addLine) {
  int64_t channelWords = FileSize64(channel) / 4;
  int64_t firmwareWords = FileSize64(firmware) / 4;
  std::ifstream channelIn = OpenForReading(channel);
  std::ifstream firmwareIn = OpenForReading(firmware);
  std::ofstream out = CreateFile(output);
  bool copied = CopyBytes(channelIn, out, channelWords * 4);
  std::string failedSource = copied ? "" : channel;
  if (copied && firmwareWords > channelWords) {
    firmwareIn.seekg(static_cast<std::streamoff>(channelWords * 4));
    copied = firmwareIn && CopyBytes(firmwareIn, out, (firmwareWords - channelWords) * 4);
    if (!copied) failedSource = firmware;
  }
  FinishOrRemove(out, output, copied, failedSource);
  if (addLine) addLine("CHANNEL is inserted into FIRMWARE file: " + output + " !");
  return firmwareWords > INT32_MAX ? INT32_MAX : static_cast<int32_t>(firmwareWords);
}

std::string ReadWholeFile(const std::string& name, int64_t maxBytes) {
  std::ifstream in = OpenForReading(name);
  std::string data(static_cast<size_t>(maxBytes), '\0');
  in.read(data.data(), static_cast<std::streamsize>(maxBytes));
  if (in.bad()) throw EFileError("Cannot read", name, errno);
  data.resize(static_cast<size_t>(in.gcount()));
  return data;
}

std::string BareFileName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error) && !error;
}

}  // namespace protocol

#include "cli/sha256.h"

#include <cerrno>
#include <fstream>
#include <vector>

#include "protocol/protocol_error.h"

namespace cli {

namespace {
constexpr size_t PieceBytes = 1 << 16;
}

std::string LowerHex(const unsigned char* bytes, size_t count) {
  static const char* const Digits = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += Digits[bytes[i] >> 4];
    text += Digits[bytes[i] & 15];
  }
  return text;
}

std::string Sha256Of(const std::string& bytes) {
  Sha256 digest;
  digest.Update(bytes.data(), bytes.size());
  return digest.HexDigest();
}

std::string Sha256OfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw protocol::EFileError("Cannot open", path, errno);
  Sha256 digest;
  std::vector<char> piece(PieceBytes);
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    digest.Update(piece.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) throw protocol::EFileError("Cannot read", path, errno);
  return digest.HexDigest();
}

}  // namespace cli

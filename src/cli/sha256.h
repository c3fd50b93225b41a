// SHA-256 through the system's crypto library (OpenSSL's libcrypto, or BCrypt on Windows).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace cli {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, size_t size);
  // The digest as 64 lower-case hex digits; the object is used up.
  std::string HexDigest();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

std::string Sha256Of(const std::string& bytes);
// Bytes as lower-case hex digits, as digests are written.
std::string LowerHex(const unsigned char* bytes, size_t count);
// Of a whole file, read in pieces; throws EFileError when it cannot be read.
std::string Sha256OfFile(const std::string& path);

}  // namespace cli

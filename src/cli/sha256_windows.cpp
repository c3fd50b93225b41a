#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <stdexcept>

#include "cli/sha256.h"

namespace cli {

namespace {
constexpr DWORD Sha256Bytes = 32;
}

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0 ||
      BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0) != 0)
    throw std::runtime_error("SHA-256 is not available from BCrypt");
}

Sha256::~Sha256() {
  if (state_->hash) BCryptDestroyHash(state_->hash);
  if (state_->algorithm) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

void Sha256::Update(const void* data, size_t size) {
  auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
  if (size > 0 && BCryptHashData(state_->hash, bytes, static_cast<ULONG>(size), 0) != 0)
    throw std::runtime_error("SHA-256 failed in BCrypt");
}

std::string Sha256::HexDigest() {
  UCHAR digest[Sha256Bytes];
  if (BCryptFinishHash(state_->hash, digest, Sha256Bytes, 0) != 0)
    throw std::runtime_error("SHA-256 failed in BCrypt");
  return LowerHex(digest, Sha256Bytes);
}

}  // namespace cli

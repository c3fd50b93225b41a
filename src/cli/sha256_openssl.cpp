#include <openssl/evp.h>

#include <stdexcept>

#include "cli/sha256.h"

namespace cli {

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  if (!state_->context || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 is not available from libcrypto");
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(state_->context);
}

void Sha256::Update(const void* data, size_t size) {
  if (size > 0 && EVP_DigestUpdate(state_->context, data, size) != 1)
    throw std::runtime_error("SHA-256 failed in libcrypto");
}

std::string Sha256::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context, digest, &length) != 1)
    throw std::runtime_error("SHA-256 failed in libcrypto");
  return LowerHex(digest, length);
}

}  // namespace cli

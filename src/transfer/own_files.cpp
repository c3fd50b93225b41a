#include "transfer/own_files.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "protocol/image_files.h"
#include "protocol/protocol_error.h"

namespace transfer {

namespace {
// Far more runs than one folder ever sees in one second.
constexpr int MaxNumberedNames = 1000;
}  // namespace

std::string NumberedName(const std::string& name, int n) {
  size_t nameStart = name.size() - protocol::BareFileName(name).size();
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot <= nameStart) dot = name.size();
  return name.substr(0, dot) + "_" + std::to_string(n) + name.substr(dot);
}

namespace {

// The first free name of name's form that create (one of the Create... below) made.
template <typename Create>
std::string ClaimFirstFree(const std::string& name, Create create) {
  if (create(name)) return name;
  for (int n = 2; n <= MaxNumberedNames; ++n) {
    std::string numbered = NumberedName(name, n);
    if (create(numbered)) return numbered;
  }
  throw protocol::EFileError(
      "Cannot create", name,
      "it and " + std::to_string(MaxNumberedNames - 1) + " numbered names like it exist already");
}

}  // namespace

std::string ClaimOwnFile(const std::string& name) {
  return ClaimFirstFree(name, CreateNewFile);
}

std::string ClaimOwnFolder(const std::string& name) {
  return ClaimFirstFree(name, [](const std::string& candidate) {
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) return true;
    if (error) throw protocol::EFileError("Cannot create the folder", candidate, error.message());
    return false;  // it exists
  });
}

HeldFile ClaimHeldFile(const std::string& name) {
  HeldFile held;
  ClaimFirstFree(name, [&held](const std::string& candidate) {
    return CreateHeldFile(candidate, held);
  });
  return held;
}

HeldFile::HeldFile(HeldFile&& other) noexcept
    : name_(std::move(other.name_)), lock_(std::exchange(other.lock_, NoLock)) {}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    Release();
    name_ = std::move(other.name_);
    lock_ = std::exchange(other.lock_, NoLock);
  }
  return *this;
}

}  // namespace transfer

#include "transfer/own_files.h"

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

std::string ClaimOwnFile(const std::string& name) {
  if (CreateNewFile(name)) return name;
  for (int n = 2; n <= MaxNumberedNames; ++n) {
    std::string numbered = NumberedName(name, n);
    if (CreateNewFile(numbered)) return numbered;
  }
  throw protocol::EFileError(
      "Cannot create", name,
      "it and " + std::to_string(MaxNumberedNames - 1) + " numbered names like it exist already");
}

}  // namespace transfer

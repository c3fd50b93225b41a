// Errors of the protocol layer that are not serial errors: a reply whose data cannot be
// trusted, and a file that could not be created, read or written.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace protocol {

// The serial layer's code of a failure on the line; 0 for any other failure.
int32_t LineErrorCode(const std::exception& failure);

class EBadReply : public std::runtime_error {
 public:
  EBadReply(const std::string& command, const std::string& why)
      : std::runtime_error("Bad reply to command " + command + ": " + why), Command(command) {}
  std::string Command;
};

class EFileError : public std::runtime_error {
 public:
  // action is what failed ("cannot create", "cannot read" ...); errnoValue 0 = no system reason.
  EFileError(const std::string& action, const std::string& fileName, int errnoValue);
  EFileError(const std::string& action, const std::string& fileName, const std::string& why);
};

}  // namespace protocol

#include "protocol/protocol_error.h"

#include <system_error>

#include "serial/serial_error.h"

namespace protocol {

int32_t LineErrorCode(const std::exception& failure) {
  const auto* line = dynamic_cast<const serial::ESerialError*>(&failure);
  return line ? line->Code : 0;
}

EFileError::EFileError(const std::string& action, const std::string& fileName, int errnoValue)
    : std::runtime_error(action + " " + fileName +
                         (errnoValue ? std::string(": ") + std::generic_category().message(errnoValue) : "")) {}

EFileError::EFileError(const std::string& action, const std::string& fileName,
                       const std::string& why)
    : std::runtime_error(action + " " + fileName + ": " + why) {}

}  // namespace protocol

#include "protocol/protocol_error.h"

#include <system_error>

namespace protocol {

EFileError::EFileError(const std::string& action, const std::string& fileName, int errnoValue)
    : std::runtime_error(action + " " + fileName +
                         (errnoValue ? std::string(": ") + std::generic_category().message(errnoValue) : "")) {}

EFileError::EFileError(const std::string& action, const std::string& fileName,
                       const std::string& why)
    : std::runtime_error(action + " " + fileName + ": " + why) {}

}  // namespace protocol

// Bringing the deco into service mode at the chosen line speed, and back to standby.
#pragma once

#include <string>

#include "protocol/deco_link.h"

namespace protocol {

inline constexpr const char* ProtectedModelMark = "KVT6072";

// Opens portName on the link's port object and configures it, starting at 9600 when the link
// says the deco is in standby; learns the model and whether it protects sector 18 (the link's
// Model and Block18Protected). Every failure arrives as an exception.
bool EnterServiceMode(DecoLink& link, const std::string& portName, const std::string& baudText);
// Whether the deco answers the model query at baudText on the link's open port: for finding a
// deco that did not answer where the user said it was. A deco in standby that hears it enters
// service mode at 9600, as at a connect.
bool DecoAnswersAt(DecoLink& link, const std::string& baudText);
// True when the deco confirmed the return to standby.
bool LeaveServiceMode(DecoLink& link);

}  // namespace protocol

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
// Whether a deco in service mode answers at baudText on the link's open port, asked by an
// EEPROM line read: it changes nothing in the deco, and a deco in standby does not hear it. For
// finding a deco that did not answer where the user said it was.
bool DecoAnswersInServiceAt(DecoLink& link, const std::string& baudText);
// True when the deco confirmed the return to standby.
bool LeaveServiceMode(DecoLink& link);

}  // namespace protocol

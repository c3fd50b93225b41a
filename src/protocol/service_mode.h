// Bringing the deco into service mode at the chosen line speed, and back to standby.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/deco_link.h"

namespace protocol {

inline constexpr const char* ProtectedModelMark = "KVT6072";
// The speed of a deco in standby, and of the first words with it.
inline constexpr int32_t StandbyBaud = 9600;

// Opens portName on the link, starting at 9600 when the deco is in standby, and brings the deco
// into service mode at baudText. What it learns goes into learned as soon as it is known, so
// that a failure later in the dialogue still tells the model and whether anything was heard.
// Every failure arrives as an exception.
void EnterServiceMode(DecoLink& link, const std::string& portName, const std::string& baudText,
                      bool decoInStandby, DecoFacts& learned);
// What a deco in service mode answered an EEPROM line read: nothing, a reply carrying a line's
// data, or characters that are not one but carry a reply's hex digits (a reply the line cut short
// or damaged: the deco is there). Framing garbage, which a late reply sent at another speed
// becomes, is none.
enum class ServiceAnswer { None, Reply, PartOfAReply };
// Whether a deco in service mode answers at baudText on the link's open port, asked by an
// EEPROM line read: it changes nothing in the deco, and a deco in standby does not hear it. For
// finding a deco that did not answer where the user said it was.
ServiceAnswer DecoAnswersInServiceAt(DecoLink& link, const std::string& baudText);
// Whether a deco in service mode answers at baudText, asked by DecoAnswersInServiceAt until two
// reads are answered with a line's data (at most three reads): a lost reply is asked again, and a
// lone reply among silences is a late one to an earlier read, not this speed's. PartOfAReply when
// anything else came: characters that are no reply, or a lone reply.
ServiceAnswer AskInServiceAt(DecoLink& link, const std::string& baudText);
// True when the deco confirmed the return to standby.
bool LeaveServiceMode(DecoLink& link);

}  // namespace protocol

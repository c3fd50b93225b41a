// Keeping requests and replies together. A flash block's reply does not say which read it
// answers, so after a failed exchange a late reply could stand in for the next request's. The
// EEPROM line read echoes its offset: sent now and answered by its own echo, it proves that
// every earlier reply has come (the deco answers in order) and has been thrown away.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/deco_link.h"

namespace protocol {

// The serial errors that say only that one reply did not come, came too long or came damaged
// on the line; a port that failed or went away is not among them.
bool DamagedReply(int32_t code);
// The read of EEPROM line (0-15).
std::string EepromLineCommand(int line);
// The next probe: an EEPROM line read of another line than the link's last probe read.
std::string NextProbe(DecoLink& link);
// Whether reply begins with the echo that the deco puts before an EEPROM line's data.
bool EchoesEepromRead(const std::string& reply, const std::string& command);

// How long the line may take to come back in step: longer than the latest reply a deco that
// is still alive sends, so that such a reply is waited out rather than taken for another's.
inline constexpr int ResyncTimeoutFactor = 80;

struct ResyncResult {
  bool InStep = false;
  int Discarded = 0;  // reply lines read and thrown away before the probe's own
  std::string Why;    // what went wrong when not in step
};

// The log line for a resynchronisation that threw replies away; "" when it threw none.
std::string DiscardedNote(const ResyncResult& result);

// Sends an EEPROM line read (never the one failedCommand asks for, whose late reply may still
// come) and throws away every reply until the one that echoes it, sending another probe after
// each silence, within ResyncTimeoutFactor base time-outs. A port that fails passes its
// ESerialError through.
ResyncResult Resynchronise(DecoLink& link, const std::string& failedCommand = "");

}  // namespace protocol

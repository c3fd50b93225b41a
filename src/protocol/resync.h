// Keeping requests and replies together. A flash block's reply does not say which read it
// answers, so after a failed exchange a late reply could stand in for the next request's. A
// probe is sent whose reply can be told from every late one, and everything before that reply
// is thrown away (the deco answers in order). A deco that repeats the EEPROM line read before
// the line's data is probed with EEPROM line reads, each answered by its own echo; one that does
// not is probed with a read of the other memory than the failed one, whose replies differ in
// form. What the replies look like is learned at the command line's first resynchronisation.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/deco_link.h"
#include "protocol/reply_form.h"

namespace protocol {

// The serial errors that say only that one reply did not come, came too long or came damaged
// on the line; a port that failed or went away is not among them.
bool DamagedReply(int32_t code);
// The read of EEPROM line (0-15).
std::string EepromLineCommand(int line);
// The next probe: an EEPROM line read of another line than the link's last probe read.
std::string NextProbe(DecoLink& link);

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

// Learns what this deco's replies of kind look like from reads of two places that answer
// alike, throwing away the replies that carry no such data, and leaves the line in step. The
// EEPROM's form is learned at the command line's first resynchronisation, the flash's once the
// chips are reading at the start of a flash job (a read in a chip mode is no read). A port
// that fails passes its ESerialError through.
ResyncResult LearnReplyForm(DecoLink& link, ReplyKind kind);

// Before the link knows its deco's EEPROM replies: LearnReplyForm of them. Then: sends a probe
// (never the read failedCommand asks for, whose late reply may still come) and throws away every
// reply until the probe's own, sending another probe after each silence, within
// ResyncTimeoutFactor base time-outs. Without an echo the probe reads the flash after a failed
// EEPROM line read (failedCommand "" counts as one) and the EEPROM after a failed flash read;
// where the flash's replies are not known (a job without flash) or look like the EEPROM's, the
// line cannot be brought back in step, and Why says so. A port that fails passes its
// ESerialError through.
ResyncResult Resynchronise(DecoLink& link, const std::string& failedCommand = "");

}  // namespace protocol

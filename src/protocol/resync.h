// Keeping requests and replies together. A flash block's reply does not say which read it
// answers, so after a failed exchange a late reply could stand in for the next request's. A
// probe is sent whose reply can be told from every late one, and everything before that reply
// is thrown away (the deco answers in order). A deco that repeats the EEPROM read before the
// line's data is probed with EEPROM reads, each answered by its own echo; one that does not is
// probed with a read of the other memory than the failed one, whose replies differ in length.
// What the replies look like is learned at the command line's first resynchronisation; learning
// never resynchronises, and leaves the line in step on its own.
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

// Learns what this deco's replies of kind look like from rounds of AgreeingReplies reads, and
// leaves the line in step: a round counts when each of its reads was answered within its wait by
// a reply that carries the data and nothing more came after the last (a reply lost, late or
// longer than the table's spoils the round; replies that carry no such data are late ones to
// earlier commands and are thrown away). The reads of a round differ in every character a reply
// could echo, so that a rule it holds is one all its replies agree on. The EEPROM's form is
// learned at the command line's first resynchronisation, the flash's once the chips are reading
// at the start of a flash job (a read in a chip mode is no read). A port that fails passes its
// ESerialError through.
ResyncResult LearnReplyForm(DecoLink& link, ReplyKind kind);

// Before the link knows its deco's EEPROM replies: LearnReplyForm of them, and nothing more. Then:
// sends a probe (never the read failedCommand asks for, whose late reply may still come) and
// throws away every reply until the probe's own, within ResyncTimeoutFactor base time-outs. Where
// the EEPROM replies echo the read, the probe is an EEPROM read that differs, in a character every
// learning reply echoed, from every read whose reply may still come (the failed one and the
// earlier probes); after each silence another such probe is sent while one exists. Without an
// echo one probe reads the other memory than the failed read (failedCommand "" counts as an
// EEPROM read), whose replies have another length: its reply is the first of that form. Where the
// flash's replies are not known (a job without flash), the line cannot be brought back in step,
// and Why says so. A port that fails passes its ESerialError through.
ResyncResult Resynchronise(DecoLink& link, const std::string& failedCommand = "");

}  // namespace protocol

// Connect and Disconnect as both front ends run them: the serial link's life, the service-mode
// dialogue, the clean-up after a failed connect, and the one rule for leaving service mode.
#pragma once

#include <functional>
#include <string>

#include "protocol/deco_link.h"

namespace transfer {

inline constexpr unsigned ConnectSettleSeconds = 2;

// Why a connect failed.
struct ConnectError {
  std::string Text;
  int Code = 0;        // the serial layer's code; 0 when the failure was not a serial error
  std::string Device;  // the device the port name stood for
};

// Whether the clean-up of a failed connect logs its exit attempt always, as the window does, or
// only after the deco answered the model query: a deco that answered nothing may still have
// heard the query (only its answer lost), so the exit is sent all the same, but its lines would
// tell of a dialogue that never took place.
enum class ExitLines { Always, WhenDecoAnswered };

// Whether the deco may leave service mode ("100"), and why (for the messages either way).
struct LeaveVerdict {
  bool Leave = false;
  std::string Why;
};

// The one rule, read from what the run saw: a deco this run brought out of standby may go back
// when it changed nothing or the job that changed it ended done; any other deco only when its
// whole flash is proven and every other memory the run changed is proven too. A deco found in
// service mode may hold a flash that a WRITE left half written: back in standby it could start
// from it.
LeaveVerdict MayLeaveServiceMode(const protocol::DecoFindings& deco);

// What a deco with a half-written flash risks in standby; told before the user sends it there.
inline constexpr const char* HalfWrittenFlashRisk =
    "a deco whose flash a WRITE left half written may not start again from standby, nor come "
    "back to service mode: send it there only when its flash is whole (a firmware WRITE whose "
    "final check passed, or a verify --firmware that found it equal)";

// This run may have changed the flash, and neither a WRITE that ended done nor a proof of the
// whole flash followed: the flash may be half written.
bool FlashMayBeHalfWritten(const protocol::DecoFindings& deco);

// How a connect went, and what it learned about the deco on the way (also when it failed later).
struct ConnectResult {
  bool Connected = false;
  protocol::DecoFacts Deco;
  ConnectError Error;  // when not connected
  // A failed connect's port opened: the deco may have heard it.
  bool PortOpened = false;
  // The clean-up of a failed connect sent the exit (only to a deco it took out of standby).
  bool ExitSent = false;
};

// Opens the link and enters service mode, and records how the deco was found, by evidence ("" for
// the user's word): in service mode unless decoInStandby; in standby when decoInStandby, unless
// its answers showed service mode or the evidence is not sure (then the record does not know).
// On failure runs the clean-up (the exit attempt when the port opened and
// the deco came from standby, whose own errors are dropped; the pause; the port closed) and
// tells why.
ConnectResult ConnectDeco(protocol::DecoLink& link, const std::string& portName,
                          const std::string& baudText, bool decoInStandby,
                          ExitLines exitLines = ExitLines::Always,
                          const std::string& evidence = "", bool evidenceSure = true);
// After a job that failure ended: when the line went away, or the deco stopped answering, the
// record no longer knows what the deco is in (it may have restarted, back in standby).
void RecordIfDecoLost(protocol::DecoLink& link, const std::exception& failure);
// Silence is a lost reply or a restarted deco: asking it tells them apart. A deco the record
// lost that answers reads at the line's speed now is in service mode again in the record. Both
// front ends ask once a job has ended, before they say what the deco is in.
void AskLostDeco(protocol::DecoLink& link);

// Whose word ends a session: the rule's, or the user's own (the window's Disconnect, the
// command line's `standby`), which sends the exit whatever the record says.
enum class ExitBy { Rule, UserAsked };

// Ends the session with the deco. When the user asked, or MayLeaveServiceMode allows it: drops
// stale input, leaves service mode, records whether the deco confirmed, pauses and closes the
// port, and answers true; an error of the exit escapes and leaves the port open, so the user
// can try again. Otherwise closes the port without a word to the deco and answers false.
bool EndSession(protocol::DecoLink& link, ExitBy by = ExitBy::Rule);

}  // namespace transfer

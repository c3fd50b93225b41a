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

// What a run knows of the deco when it is done with it: all that decides whether the deco may
// leave service mode.
struct DecoState {
  // This run's connect brought the deco out of standby (it was not said to be in service mode).
  bool BroughtFromStandby = false;
  // The run has sent, or may have sent, what changes the deco's memory.
  bool MayBeChanged = false;
  // The job ended with the memory it worked on proven (a WRITE done, a verify that found it
  // equal to its files).
  bool MemoryProven = false;
  // The window's Disconnect: the user's own choice.
  bool UserAsked = false;
};

// Whether the deco may leave service mode ("100"): the run itself brought it out of standby and
// changed nothing, or its memory is proven, or the user asked. A deco found in service mode may
// hold a flash that a WRITE left half written: back in standby it could start from it.
bool MayLeaveServiceMode(const DecoState& deco);

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

// Opens the link and enters service mode. On failure runs the clean-up (the exit attempt when
// the port opened and MayLeaveServiceMode allows it, whose own errors are dropped; the pause;
// the port closed) and tells why.
ConnectResult ConnectDeco(protocol::DecoLink& link, const std::string& portName,
                          const std::string& baudText, bool decoInStandby,
                          ExitLines exitLines = ExitLines::Always);
// Ends the session with the deco. When MayLeaveServiceMode allows it: drops stale input, leaves
// service mode, pauses and closes the port, and answers true; an error of the exit escapes and
// leaves the port open, so the user can try again. Otherwise closes the port without a word to
// the deco and answers false.
bool EndSession(protocol::DecoLink& link, const DecoState& deco);

}  // namespace transfer

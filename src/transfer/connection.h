// Connect and Disconnect as both front ends run them: the serial link's life, the service-mode
// dialogue, and the clean-up after a failed connect.
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

// How a connect went, and what it learned about the deco on the way (also when it failed later).
struct ConnectResult {
  bool Connected = false;
  protocol::DecoFacts Deco;
  ConnectError Error;  // when not connected
};

// Opens the link and enters service mode. On failure runs the clean-up (exit attempt, when the
// port opened, whose own errors are dropped; the pause; the port closed) and tells why.
ConnectResult ConnectDeco(protocol::DecoLink& link, const std::string& portName,
                          const std::string& baudText, bool decoInStandby,
                          ExitLines exitLines = ExitLines::Always);
// Drops stale input, leaves service mode, pauses and closes the port; an error of the exit
// escapes and leaves the port open, so the user can try again.
void DisconnectDeco(protocol::DecoLink& link);

}  // namespace transfer

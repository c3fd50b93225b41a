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

// Creates the link and enters service mode. On failure runs the clean-up (exit attempt, when
// the port opened, whose own errors are dropped; the pause; the link destroyed), fills error and
// answers false.
// What it learned stays on the link (its Model and Block18Protected).
bool ConnectDeco(protocol::DecoLink& link, const std::string& portName, const std::string& baudText,
                 bool decoInStandby, ConnectError& error);
// Drops stale input, leaves service mode, pauses and destroys the link; an error of the exit
// escapes and leaves the link in place, so the user can try again.
void DisconnectDeco(protocol::DecoLink& link);

}  // namespace transfer

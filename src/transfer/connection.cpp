#include "transfer/connection.h"

#include "protocol/service_mode.h"
#include "protocol/transaction.h"

namespace transfer {

bool ConnectDeco(protocol::DecoLink& link, const std::string& portName, const std::string& baudText,
                 bool decoInStandby, ConnectError& error) {
  link.BaseTimeout = protocol::StandardBaseTimeout;
  link.DecoInStandby = decoInStandby;
  link.SerialLink = std::make_unique<serial::TBlockSerial>();
  link.SerialLink->RaiseExcept = true;
  try {
    protocol::EnterServiceMode(link, portName, baudText);
    protocol::WaitSeconds(ConnectSettleSeconds);
    return true;
  } catch (const serial::ESerialError& failure) {
    error.Text = failure.what();
    error.Code = failure.Code;
  } catch (const std::exception& failure) {
    error.Text = failure.what();
  }
  error.Device = link.SerialLink->DevicePath;
  // A port that never opened reached no deco: there is nothing to leave, and an exit attempt
  // would only log a dialogue that never happened.
  if (link.SerialLink->PortOpen) {
    try {
      protocol::LeaveServiceMode(link);
    } catch (const std::exception&) {
      // The deco may be unreachable: the clean-up goes on regardless.
    }
  }
  protocol::WaitSeconds(ConnectSettleSeconds);
  link.SerialLink.reset();
  return false;
}

void DisconnectDeco(protocol::DecoLink& link) {
  link.BaseTimeout = protocol::StandardBaseTimeout;
  // A reply that came after its time-out would be taken as the deco's answer to the exit.
  if (link.SerialLink) link.SerialLink->DiscardBuffers();
  protocol::LeaveServiceMode(link);
  protocol::WaitSeconds(ConnectSettleSeconds);
  link.SerialLink.reset();
}

}  // namespace transfer

#include "transfer/connection.h"

#include "protocol/service_mode.h"
#include "protocol/transaction.h"

namespace transfer {

bool ConnectDeco(const std::string& portName, const std::string& baudText, bool decoInStandby,
                 ConnectError& error) {
  protocol::BaseTimeout() = protocol::StandardBaseTimeout;
  protocol::DecoInStandby() = decoInStandby;
  protocol::SerialLink() = std::make_unique<serial::TBlockSerial>();
  protocol::SerialLink()->RaiseExcept = true;
  try {
    protocol::EnterServiceMode(portName, baudText);
    protocol::WaitSeconds(ConnectSettleSeconds);
    return true;
  } catch (const serial::ESerialError& failure) {
    error.Text = failure.what();
    error.Code = failure.Code;
  } catch (const std::exception& failure) {
    error.Text = failure.what();
  }
  error.Device = protocol::SerialLink()->DevicePath;
  try {
    protocol::LeaveServiceMode();
  } catch (const std::exception&) {
    // The deco may be unreachable: the clean-up goes on regardless.
  }
  protocol::WaitSeconds(ConnectSettleSeconds);
  protocol::SerialLink().reset();
  return false;
}

void DisconnectDeco() {
  protocol::BaseTimeout() = protocol::StandardBaseTimeout;
  // A reply that came after its time-out would be taken as the deco's answer to the exit.
  if (protocol::SerialLink()) protocol::SerialLink()->DiscardBuffers();
  protocol::LeaveServiceMode();
  protocol::WaitSeconds(ConnectSettleSeconds);
  protocol::SerialLink().reset();
}

}  // namespace transfer

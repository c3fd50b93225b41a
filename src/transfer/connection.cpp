#include "transfer/connection.h"

#include "protocol/service_mode.h"
#include "protocol/transaction.h"

namespace transfer {

bool ConnectDeco(protocol::DecoLink& link, const std::string& portName, const std::string& baudText,
                 bool decoInStandby, ConnectError& error, ExitLines exitLines) {
  link.BaseTimeout = protocol::StandardBaseTimeout;
  link.DecoInStandby = decoInStandby;
  link.Model.clear();  // an earlier connect's answer must not pass for this one's
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
    protocol::StatusSink* const sink = link.MainWindowHandle;
    if (exitLines == ExitLines::WhenDecoAnswered && link.Model.empty())
      link.MainWindowHandle = nullptr;
    try {
      protocol::LeaveServiceMode(link);
    } catch (const std::exception&) {
      // The deco may be unreachable: the clean-up goes on regardless.
    }
    link.MainWindowHandle = sink;
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

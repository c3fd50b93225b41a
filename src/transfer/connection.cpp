#include "transfer/connection.h"

#include "protocol/protocol_error.h"
#include "protocol/service_mode.h"
#include "protocol/transaction.h"

namespace transfer {

ConnectResult ConnectDeco(protocol::DecoLink& link, const std::string& portName,
                          const std::string& baudText, bool decoInStandby, ExitLines exitLines) {
  link.SetBaseTimeout(protocol::StandardBaseTimeout);
  ConnectResult result;
  try {
    protocol::EnterServiceMode(link, portName, baudText, decoInStandby, result.Deco);
    protocol::WaitSeconds(link, ConnectSettleSeconds);
    result.Connected = true;
    return result;
  } catch (const std::exception& failure) {
    result.Error.Text = failure.what();
    result.Error.Code = protocol::LineErrorCode(failure);
  }
  result.Error.Device = link.DevicePath();
  // A port that never opened reached no deco: there is nothing to leave, and an exit attempt
  // would only log a dialogue that never happened.
  if (link.IsOpen()) {
    protocol::StatusSink* const sink = link.Sink();
    if (exitLines == ExitLines::WhenDecoAnswered && result.Deco.Model.empty())
      link.SetStatusSink(nullptr);
    try {
      protocol::LeaveServiceMode(link);
    } catch (const std::exception&) {
      // The deco may be unreachable: the clean-up goes on regardless.
    }
    link.SetStatusSink(sink);
  }
  protocol::WaitSeconds(link, ConnectSettleSeconds);
  link.Close();
  return result;
}

void DisconnectDeco(protocol::DecoLink& link) {
  link.SetBaseTimeout(protocol::StandardBaseTimeout);
  // A reply that came after its time-out would be taken as the deco's answer to the exit.
  link.DiscardStaleInput();
  protocol::LeaveServiceMode(link);
  protocol::WaitSeconds(link, ConnectSettleSeconds);
  link.Close();
}

}  // namespace transfer

#include "transfer/connection.h"

#include "protocol/protocol_error.h"
#include "protocol/service_mode.h"
#include "protocol/transaction.h"

namespace transfer {

bool MayLeaveServiceMode(const DecoState& deco) {
  return deco.UserAsked || deco.MemoryProven || (deco.BroughtFromStandby && !deco.MayBeChanged);
}

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
  result.PortOpened = link.IsOpen();
  // A port that never opened reached no deco: there is nothing to leave, and an exit attempt
  // would only log a dialogue that never happened.
  if (result.PortOpened && MayLeaveServiceMode(DecoState{.BroughtFromStandby = decoInStandby})) {
    protocol::StatusSink* const sink = link.Sink();
    if (exitLines == ExitLines::WhenDecoAnswered && result.Deco.Model.empty())
      link.SetStatusSink(nullptr);
    result.ExitSent = true;
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

bool EndSession(protocol::DecoLink& link, const DecoState& deco) {
  if (!MayLeaveServiceMode(deco)) {
    link.Close();  // without a word to the deco
    return false;
  }
  link.SetBaseTimeout(protocol::StandardBaseTimeout);
  // A reply that came after its time-out would be taken as the deco's answer to the exit.
  link.DiscardStaleInput();
  protocol::LeaveServiceMode(link);
  protocol::WaitSeconds(link, ConnectSettleSeconds);
  link.Close();
  return true;
}

}  // namespace transfer

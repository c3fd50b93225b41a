#include "transfer/connection.h"

#include "protocol/protocol_error.h"
#include "protocol/resync.h"
#include "protocol/service_mode.h"
#include "protocol/transaction.h"

namespace transfer {

LeaveVerdict MayLeaveServiceMode(const protocol::DecoFindings& deco) {
  const bool changed = deco.FlashMayBeChanged || deco.EepromMayBeChanged;
  if (deco.Found == protocol::DecoMode::Standby) {
    if (!changed) return {true, "this run brought it out of standby and changed nothing"};
    if (deco.ChangesEndedDone) return {true, "this run brought it out of standby and its WRITE ended done"};
    return {false, "this run brought it out of standby, and its WRITE did not end done"};
  }
  const std::string found = deco.Found == protocol::DecoMode::ServiceMode
                                ? "it was in service mode before this run (" + deco.FoundBy + ")"
                                : "this run does not know what it was in before";
  if (!deco.WholeFlashProven)
    return {false, found + ", and this run did not prove its whole flash (only a firmware WRITE "
                   "whose final check passed, or a verify --firmware that found it equal, does)"};
  if (deco.EepromMayBeChanged && !deco.EepromProven)
    return {false, found + ", and this run changed its EEPROM without proving it"};
  return {true, found + ", and this run proved its whole flash" +
                    (deco.EepromMayBeChanged ? " and its EEPROM" : "")};
}

bool FlashMayBeHalfWritten(const protocol::DecoFindings& deco) {
  return deco.FlashMayBeChanged && !deco.ChangesEndedDone && !deco.WholeFlashProven;
}

ConnectResult ConnectDeco(protocol::DecoLink& link, const std::string& portName,
                          const std::string& baudText, bool decoInStandby, ExitLines exitLines,
                          const std::string& evidence, bool evidenceSure) {
  link.SetBaseTimeout(protocol::StandardBaseTimeout);
  link.Record().Forget();
  ConnectResult result;
  try {
    protocol::EnterServiceMode(link, portName, baudText, decoInStandby, result.Deco);
    const std::string said = decoInStandby ? "said to be in standby" : "said to be in service mode";
    const std::string why = evidence.empty() ? said : evidence;
    if (!decoInStandby)
      link.Record().Found(protocol::DecoMode::ServiceMode, why);
    else if (result.Deco.SwitchAnsweredInService)
      link.Record().Found(protocol::DecoMode::ServiceMode,
                          "it answered the speed switch as a deco already in service mode does");
    else
      link.Record().Found(evidenceSure ? protocol::DecoMode::Standby : protocol::DecoMode::Unknown,
                          why);
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
  // Only a deco taken out of standby by this connect is sent back; the model query is all that
  // reaches one in standby.
  if (result.PortOpened && decoInStandby && evidenceSure && !result.Deco.SwitchAnsweredInService) {
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

void RecordIfDecoLost(protocol::DecoLink& link, const std::exception& failure) {
  const int32_t code = protocol::LineErrorCode(failure);
  if (code != 0 && !protocol::DamagedReply(code)) {
    link.Record().Lost(std::string("the line failed (") + failure.what() + ")");
    return;
  }
  const uint64_t answered = link.CommandsWhenLastAnswered();
  if (link.CommandsSent() == answered) return;  // it answered: a bad reply, not a lost deco
  link.Record().Lost("no answer since command " + std::to_string(answered + 1) +
                     ": the deco may have restarted; check its display");
}

void AskLostDeco(protocol::DecoLink& link) {
  if (link.Record().Read().Now != protocol::DecoMode::Unknown || !link.IsOpen()) return;
  try {
    if (protocol::AskInServiceAt(link, std::to_string(link.Speed())) ==
        protocol::ServiceAnswer::Reply)
      link.Record().AnswersInService();
  } catch (const std::exception&) {
    // The port failed while asking: the deco is as unknown as without the asking.
  }
}

bool EndSession(protocol::DecoLink& link, ExitBy by) {
  if (by == ExitBy::Rule && !MayLeaveServiceMode(link.Record().Read()).Leave) {
    link.Close();  // without a word to the deco
    return false;
  }
  link.SetBaseTimeout(protocol::StandardBaseTimeout);
  // A reply that came after its time-out would be taken as the deco's answer to the exit.
  link.DiscardStaleInput();
  bool confirmed = false;
  try {
    confirmed = protocol::LeaveServiceMode(link);
  } catch (...) {
    link.Record().ExitSent(false);
    throw;
  }
  link.Record().ExitSent(confirmed);
  protocol::WaitSeconds(link, ConnectSettleSeconds);
  link.Close();
  return true;
}

}  // namespace transfer

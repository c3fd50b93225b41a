#include "protocol/service_mode.h"

#include <cstdlib>

#include "protocol/reply_form.h"
#include "protocol/resync.h"
#include "protocol/transaction.h"
#include "serial/serial_error.h"

namespace protocol {

namespace {

constexpr int32_t SwitchReplyTimeoutFactor = 5;
constexpr unsigned SwitchWaitSeconds = 3;
constexpr unsigned SwitchWaitSeconds38400 = 6;
constexpr uint8_t Switch115200Answer = 127;
// A deco listening at the speed tried answers the model query well within a second.
constexpr int32_t ProbeTimeoutFactor = 1;
// What an echoing deco's EEPROM line reply begins with: the read's first seven characters.
constexpr const char* EepromReadPrefix = "0610";
constexpr size_t EepromEchoLength = 7;

const char* const InitialisationLines[] = {
    "09",
    "0221FF7FF7EC71",
    "0221FF7FF6D771",
    "0221FF7FF734FD",
    "0221FF7FF6FFD5",
    "0221FF7FF70FF9",
    "0221FF7FF735C5",
    "0221FF7FF7817D",
    "0221FF7FF7CDDE",
};

// The baud text as a number; 9600 when it is not one.
int32_t BaudOf(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return StandbyBaud;
  long value = std::strtol(text.c_str(), nullptr, 10);
  return value > 0 && value <= 0x7FFFFFFF ? static_cast<int32_t>(value) : StandbyBaud;
}

std::string SpeedSwitchLine(const std::string& baudText) {
  if (baudText == "38400") return "0210200040000051";
  if (baudText == "115200") return "021020004000001B";
  return "0210200040000145";
}

bool SwitchAnswerIsRight(const std::string& baudText, const std::string& received) {
  if (baudText == "9600") return received == "021\r";
  if (baudText == "38400") return received == "s";
  if (baudText == "115200")
    return !received.empty() && static_cast<uint8_t>(received[0]) == Switch115200Answer;
  return false;
}

// A reply that a failure cut short is put back as input waiting: the deco began to answer.
bool PartOfAReplyCame(DecoLink& link) {
  try {
    return link.IsOpen() && link.InputWaiting() > 0;
  } catch (const serial::ESerialError&) {
    return false;
  }
}

void EnterDialogue(DecoLink& link, const std::string& baudText, DecoFacts& facts) {
  PostStatus(link, "Display of deco must show -SE-");

  facts.Model = SendCommand(link, "VORTANE", ModelQueryTimeoutFactor);
  facts.Answered = true;
  facts.Block18Protected = facts.Model.find(ProtectedModelMark) != std::string::npos;
  PostStatus(link, facts.Block18Protected ? facts.Model + " => Block 18 protected." : facts.Model);

  PostStatus(link, "Set baudrate " + baudText + " ...");
  link.SendLine(SpeedSwitchLine(baudText));
  WaitSeconds(link, baudText == "38400" ? SwitchWaitSeconds38400 : SwitchWaitSeconds);
  const std::string received =
      link.ReceiveWaiting(ReplyTimeoutMs(link, SwitchReplyTimeoutFactor));
  if (!received.empty()) {
    facts.Answered = true;
    bool right = SwitchAnswerIsRight(baudText, received);
    facts.SpeedSwitchAnswer = right ? DecoFacts::SwitchAnswer::Right : DecoFacts::SwitchAnswer::Wrong;
    PostStatus(link, right ? "OK" : "ERROR!");
  }
  link.SetSpeed(BaudOf(baudText));

  PostStatus(link, "Initializing deco ...");
  for (const char* line : InitialisationLines) SendCommand(link, line, 1);
}

}  // namespace

void EnterServiceMode(DecoLink& link, const std::string& portName, const std::string& baudText,
                      bool decoInStandby, DecoFacts& facts) {
  facts = DecoFacts();
  link.Open(portName, decoInStandby ? StandbyBaud : BaudOf(baudText));
  try {
    EnterDialogue(link, baudText, facts);
  } catch (const serial::ESerialError&) {
    if (PartOfAReplyCame(link)) facts.Answered = true;
    throw;
  }
}

ServiceAnswer DecoAnswersInServiceAt(DecoLink& link, const std::string& baudText) {
  link.SetSpeed(BaudOf(baudText));
  link.DiscardStaleInput();
  // Each speed's probe reads another line: a late reply to the last speed's never passes for
  // this one's.
  const std::string probe = NextProbe(link);
  try {
    const std::string reply = SendCommand(link, probe, ProbeTimeoutFactor);
    // Only the line's data digits are relied on, but a deco that repeats the read names the line
    // its reply answers: a late reply to another speed's probe names another.
    const bool namesThisRead = reply.compare(0, EepromEchoLength, probe, 0, EepromEchoLength) == 0;
    const bool answersAnotherRead = reply.rfind(EepromReadPrefix, 0) == 0 && !namesThisRead;
    return CarriesData(ReplyKind::EepromLine, reply) && !answersAnotherRead
               ? ServiceAnswer::Reply
               : ServiceAnswer::None;
  } catch (const serial::ESerialError&) {
    // A deco that did not hear the probe (another speed, or standby) sends nothing at all.
    return PartOfAReplyCame(link) ? ServiceAnswer::PartOfAReply : ServiceAnswer::None;
  }
}

bool LeaveServiceMode(DecoLink& link) {
  PostStatus(link, "Exit -SE-");
  std::string reply = SendCommand(link, "100", 1);
  bool confirmed = reply == "100";
  PostStatus(link, confirmed ? "OK : Deco must be Standby now!" : "ERROR when Exit -SE-");
  PostStatus(link, std::string(30, '='));
  return confirmed;
}

}  // namespace protocol

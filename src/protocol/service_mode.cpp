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
// A speed is the deco's when two of at most three reads there are answered.
constexpr int MostProbeAsks = 3;
constexpr int ProbeRepliesNeeded = 2;
// The answer to a switch heard at the speed it asks for.
constexpr const char* PlainSwitchAnswer = "021\r";

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
  if (baudText == "9600") return received == PlainSwitchAnswer;
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

// Characters a deco sends carry hex digits, on a poor line too; a receiver at another speed than
// the sender's (a reply that came late, after a change of speed) takes in framing garbage.
constexpr size_t DigitsOfAReplyPart = 4;
bool LikeAReplysCharacters(const std::string& characters) {
  size_t digits = 0;
  for (char c : characters)
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) ++digits;
  return digits >= DigitsOfAReplyPart;
}

// What a failed ask left waiting looks like a reply's part.
bool ReplyPartWaiting(DecoLink& link) {
  try {
    return link.IsOpen() && link.InputWaiting() > 0 && LikeAReplysCharacters(link.ReceiveWaiting(0));
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
    // A deco in standby answers at the new speed, which a PC still at 9600 sees garbled.
    facts.SwitchAnsweredInService = !right && received == PlainSwitchAnswer;
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
  // What a lost reply leaves for later is drained before each ask.
  link.DiscardStaleInput();
  const std::string probe = NextProbe(link);
  try {
    // Any read reply carrying data is the deco in service mode at this speed: at another speed
    // it hears nothing, and in standby it answers no read.
    const std::string reply = SendCommand(link, probe, ProbeTimeoutFactor);
    if (CarriesData(ReplyKind::EepromLine, reply)) return ServiceAnswer::Reply;
    return LikeAReplysCharacters(reply) ? ServiceAnswer::PartOfAReply : ServiceAnswer::None;
  } catch (const serial::ESerialError&) {
    // A deco that did not hear the probe (another speed, or standby) sends nothing at all.
    return ReplyPartWaiting(link) ? ServiceAnswer::PartOfAReply : ServiceAnswer::None;
  }
}

ServiceAnswer AskInServiceAt(DecoLink& link, const std::string& baudText) {
  int replies = 0;
  bool characters = false;
  // A speed whose asks left cannot bring the replies needed is given up: a silent speed costs
  // two asks.
  for (int ask = 0; ask < MostProbeAsks && replies < ProbeRepliesNeeded &&
                    replies + MostProbeAsks - ask >= ProbeRepliesNeeded;
       ++ask) {
    const ServiceAnswer answer = DecoAnswersInServiceAt(link, baudText);
    if (answer == ServiceAnswer::Reply) ++replies;
    characters |= answer == ServiceAnswer::PartOfAReply;
  }
  if (replies >= ProbeRepliesNeeded) return ServiceAnswer::Reply;
  return characters || replies > 0 ? ServiceAnswer::PartOfAReply : ServiceAnswer::None;
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

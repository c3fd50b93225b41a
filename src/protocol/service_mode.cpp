#include "protocol/service_mode.h"

#include <cstdlib>

#include "protocol/clock.h"
#include "protocol/resync.h"
#include "protocol/transaction.h"

namespace protocol {

namespace {

constexpr int32_t StandbyBaud = 9600;
constexpr int32_t DataBits = 7;
constexpr char Parity = 'E';
constexpr int32_t OneStopBit = 0;
constexpr int32_t SwitchReplyTimeoutFactor = 5;
constexpr unsigned SwitchWaitSeconds = 3;
constexpr unsigned SwitchWaitSeconds38400 = 6;
constexpr uint8_t Switch115200Answer = 127;
// A deco listening at the speed tried answers the model query well within a second.
constexpr int32_t ProbeTimeoutFactor = 1;

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

void Configure(serial::TBlockSerial& port, int32_t baud) {
  port.ConfigureLine(baud, DataBits, Parity, OneStopBit, false, false);
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

}  // namespace

bool EnterServiceMode(DecoLink& deco, const std::string& portName, const std::string& baudText) {
  if (!deco.SerialLink) throw serial::ESerialError(serial::ErrNotConnected);
  serial::TBlockSerial& link = *deco.SerialLink;
  link.OpenPort(portName);
  Configure(link, deco.DecoInStandby ? StandbyBaud : BaudOf(baudText));
  PostStatus(deco, "Display of deco must show -SE-");

  deco.Model = SendCommand(deco, "VORTANE", ModelQueryTimeoutFactor);
  deco.Block18Protected = deco.Model.find(ProtectedModelMark) != std::string::npos;
  PostStatus(deco, deco.Block18Protected ? deco.Model + " => Block 18 protected." : deco.Model);

  PostStatus(deco, "Set baudrate " + baudText + " ...");
  if (link.WaitWritable(link.DeadlockTimeout)) link.SendText(SpeedSwitchLine(baudText) + "\r\n");
  WaitSeconds(baudText == "38400" ? SwitchWaitSeconds38400 : SwitchWaitSeconds);
  int32_t pending = link.PendingCount();
  std::string received;
  for (int32_t i = 0; i < pending; ++i)
    received += static_cast<char>(link.ReceiveByte(
        ActiveClock().TimeoutMs(SwitchReplyTimeoutFactor * deco.BaseTimeout.load())));
  deco.SpeedSwitchAnswer = DecoLink::SwitchAnswer::None;
  if (pending > 0) {
    bool right = SwitchAnswerIsRight(baudText, received);
    deco.SpeedSwitchAnswer = right ? DecoLink::SwitchAnswer::Right : DecoLink::SwitchAnswer::Wrong;
    PostStatus(deco, right ? "OK" : "ERROR!");
  }
  Configure(link, BaudOf(baudText));

  PostStatus(deco, "Initializing deco ...");
  for (const char* line : InitialisationLines) SendCommand(deco, line, 1);
  return true;
}

bool DecoAnswersInServiceAt(DecoLink& deco, const std::string& baudText) {
  serial::TBlockSerial& link = *deco.SerialLink;
  Configure(link, BaudOf(baudText));
  link.DiscardBuffers();
  // Each speed's probe reads another line: a late reply to the last speed's never passes for
  // this one's.
  const std::string probe = NextProbe(deco);
  try {
    return EchoesEepromRead(SendCommand(deco, probe, ProbeTimeoutFactor), probe);
  } catch (const serial::ESerialError&) {
    // Silence, or noise from a line at another speed: no answer here.
    return false;
  }
}

bool LeaveServiceMode(DecoLink& deco) {
  PostStatus(deco, "Exit -SE-");
  std::string reply = SendCommand(deco, "100", 1);
  bool confirmed = reply == "100";
  PostStatus(deco, confirmed ? "OK : Deco must be Standby now!" : "ERROR when Exit -SE-");
  PostStatus(deco, std::string(30, '='));
  return confirmed;
}

}  // namespace protocol

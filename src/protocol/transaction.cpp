#include "protocol/transaction.h"

#include "protocol/clock.h"
#include "serial/serial_util.h"

namespace protocol {

namespace {

// Puts the link's receive limits back however the transaction ends.
class ReceiveLimits {
 public:
  ReceiveLimits(serial::TBlockSerial& link, int32_t maxLength)
      : link_(link), length_(link.MaxLineLength), perWait_(link.InterPacketTimeout) {
    link.MaxLineLength = maxLength;
    link.InterPacketTimeout = false;
  }
  ~ReceiveLimits() {
    link_.MaxLineLength = length_;
    link_.InterPacketTimeout = perWait_;
  }

 private:
  serial::TBlockSerial& link_;
  int32_t length_;
  bool perWait_;
};
// Waits for the first byte of a reply. A deco's reply never begins with a line feed: one there
// is the tail of the previous reply's CR LF, so it is dropped and the wait goes on. A deco that
// ends its lines with CR alone sees no change.
bool AwaitReplyStart(serial::TBlockSerial& link, int32_t timeoutMs) {
  serial::Deadline deadline(timeoutMs);
  bool lineFeedDropped = false;
  while (link.WaitReadableBuffered(deadline.LeftMs())) {
    if (link.LineBuffer.empty()) link.LineBuffer = link.ReceiveAvailable(0);
    if (lineFeedDropped || link.LineBuffer.empty() || link.LineBuffer[0] != '\n') return true;
    link.LineBuffer.erase(0, 1);
    lineFeedDropped = true;
    if (!link.LineBuffer.empty()) return true;
    if (deadline.Passed()) return false;
  }
  return false;
}
}  // namespace

int32_t ReplyTimeoutMs(const DecoLink& link, int timeoutFactor) {
  return ActiveClock().TimeoutMs(timeoutFactor * link.BaseTimeout.load());
}

bool ReceiveReply(DecoLink& deco, int32_t firstByteMs, int32_t replyTimeoutMs, std::string& reply) {
  if (!deco.SerialLink) throw serial::ESerialError(serial::ErrNotConnected);
  serial::TBlockSerial& link = *deco.SerialLink;
  if (!AwaitReplyStart(link, firstByteMs)) return false;
  // The whole reply is bounded in time and length, so a deco that trickles bytes without a CR
  // cannot hold the caller: the time is the reply time-out plus the longest reply's wire time.
  int32_t wireMs =
      static_cast<int32_t>(serial::WireTimeMs(MaxReplyLength, link.LineSettings.BaudRate));
  ReceiveLimits limits(link, MaxReplyLength);
  reply = link.ReceiveUntil(replyTimeoutMs + wireMs, "\r");
  return true;
}

std::string SendCommand(DecoLink& deco, const std::string& command, int timeoutFactor) {
  if (!deco.SerialLink) throw serial::ESerialError(serial::ErrNotConnected);
  serial::TBlockSerial& link = *deco.SerialLink;
  if (link.WaitWritable(link.DeadlockTimeout)) link.SendText(command + "\r\n");

  int32_t replyTimeout = ReplyTimeoutMs(deco, timeoutFactor);
  std::string reply;
  if (!ReceiveReply(deco, FirstByteTimeoutFactor * replyTimeout, replyTimeout, reply))
    link.RecordAndRaise(serial::ErrTimeout);
  return reply;
}

void PostStatus(DecoLink& link, const std::string& text) {
  link.SetStatusText(text);
  if (StatusSink* sink = link.MainWindowHandle.load()) sink->ShowStatusText(text);
}

uint64_t ClockReading() {
  return ActiveClock().NowMs();
}

void WaitSeconds(unsigned seconds) {
  // A pause on the monotonic clock: it never ends early at midnight.
  Clock& clock = ActiveClock();
  uint64_t start = clock.NowMs();
  for (;;) {
    uint64_t elapsed = clock.NowMs() - start;
    if (elapsed >= uint64_t{seconds} * 1000) return;
    clock.SleepMs(uint64_t{seconds} * 1000 - elapsed);
  }
}

int64_t ElapsedSeconds(uint64_t start, uint64_t end) {
  uint64_t span = end >= start ? end - start : start - end;
  return static_cast<int64_t>(span / 1000);
}

}  // namespace protocol

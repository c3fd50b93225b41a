#include "protocol/transaction.h"

#include "protocol/clock.h"

namespace protocol {

int32_t ReplyTimeoutMs(const DecoLink& link, int timeoutFactor) {
  return ActiveClock().TimeoutMs(timeoutFactor * link.BaseTimeout());
}

std::string SendCommand(DecoLink& link, const std::string& command, int timeoutFactor) {
  link.SendLine(command);
  int32_t replyTimeout = ReplyTimeoutMs(link, timeoutFactor);
  std::string reply;
  if (!link.ReceiveReply(FirstByteTimeoutFactor * replyTimeout, replyTimeout, reply))
    link.RaiseTimeout();
  return reply;
}

void PostStatus(DecoLink& link, const std::string& text) {
  link.SetStatusText(text);
  if (StatusSink* sink = link.Sink()) sink->ShowStatusText(text);
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

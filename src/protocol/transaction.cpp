#include "protocol/transaction.h"

#include <chrono>

#include "protocol/clock.h"
#include "serial/serial_util.h"

namespace protocol {

int32_t ReplyTimeoutMs(const DecoLink& link, int timeoutFactor) {
  return link.Time().TimeoutMs(timeoutFactor * link.BaseTimeout());
}

ReplyBudget ReplyBudgetOf(const DecoLink& link, int timeoutFactor) {
  const int32_t replyMs = ReplyTimeoutMs(link, timeoutFactor);
  const auto wireMs = static_cast<int32_t>(serial::WireTimeMs(MaxReplyLength, link.Speed()));
  return ReplyBudget{FirstByteTimeoutFactor * replyMs, replyMs + wireMs};
}

double CharacterMs(const DecoLink& link) {
  constexpr int64_t Characters = 100000;  // enough for the figure's precision in whole ms
  return static_cast<double>(serial::WireTimeMs(Characters, link.Speed())) / Characters;
}

std::string SendCommand(DecoLink& link, const std::string& command, int timeoutFactor) {
  const auto sent = std::chrono::steady_clock::now();
  link.SendLine(command);
  const ReplyBudget budget = ReplyBudgetOf(link, timeoutFactor);
  std::string reply;
  if (!link.ReceiveReply(budget.FirstByteMs, budget.WholeMs, reply)) link.RaiseTimeout();
  // The command, its CR LF, the reply and its CR on the wire: what the exchange took beyond
  // them is the line's own delay.
  const double tookMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
  const double wireMs = CharacterMs(link) * static_cast<double>(command.size() + 2 + reply.size() + 1);
  link.NoteReplyDelay(tookMs - wireMs);
  return reply;
}

void PostStatus(DecoLink& link, const std::string& text) {
  link.SetStatusText(text);
  link.Mark("status", text);
  if (StatusSink* sink = link.Sink()) sink->ShowStatusText(text);
}

uint64_t ClockReading(const DecoLink& link) {
  return link.Time().NowMs();
}

void WaitSeconds(DecoLink& link, unsigned seconds) {
  // A pause on the monotonic clock: it never ends early at midnight.
  const Deadline end(link.Time(), static_cast<int32_t>(seconds * 1000), Deadline::Of::Pause);
  while (!end.Passed()) link.Time().SleepMs(static_cast<uint64_t>(end.LeftMs()));
}

int64_t ElapsedSeconds(uint64_t start, uint64_t end) {
  uint64_t span = end >= start ? end - start : start - end;
  return static_cast<int64_t>(span / 1000);
}

}  // namespace protocol

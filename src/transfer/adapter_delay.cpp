#include "transfer/adapter_delay.h"

#include <cstdio>

#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/transaction.h"
#include "serial/port_details.h"
#include "transfer/time_left.h"

namespace transfer {

namespace {

constexpr uint64_t WordsPerBlock = protocol::ReadBlockBytes / 4;

std::string Milliseconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f ms", ms);
  return text;
}

// What the system tells of the timer of the adapter behind device, and where it lets the user
// lower it: "(its latency timer, set to 16 ms); to lower it to 1 ms: ...".
std::string TimerAndWhereToLowerIt(const std::string& device) {
  for (const serial::PortDetails& port : serial::ListPortDetails()) {
    if (port.name != device) continue;
    const std::string where = serial::WhereToLowerLatencyTimer(port);
    if (where.empty()) continue;
    return "(its latency timer, set to " + std::to_string(*port.latencyTimerMs) +
           " ms); to lower it to 1 ms: " + where;
  }
  return "(its latency timer); to lower it: the adapter driver's settings (an FTDI adapter's "
         "latency timer: 1 ms)";
}

}  // namespace

JobSeconds FlashWorkSeconds(const JobPlan& plan, double characterMs, double heldBackMs) {
  JobSeconds seconds;
  if (plan.BlockCount <= 0) return seconds;
  const uint64_t blocks = static_cast<uint64_t>(plan.BlockCount);
  uint64_t reads = 1;  // a READ's; a WRITE's backup or comparison
  const bool writes = plan.IsWriteJob;
  if (writes) {
    reads = (plan.BackupFolder.empty() && !plan.DifferentBlocksMethod ? 0 : 1) +
            (plan.SafeMethod ? 1 : 0) + (plan.FinalCheck ? 1 : 0);
  }
  const uint64_t sectors = static_cast<uint64_t>(
      plan.BlockCount == FirmwareBlocks ? protocol::SectorCount : protocol::LastChannelSector + 1);
  auto at = [&](double delay) {
    TimeLeft work(characterMs, plan.ErasePoll, plan.FastProgram, delay);
    work.Plan(WorkKind::Block, reads * blocks);
    if (writes) {
      work.Plan(WorkKind::Erase, sectors);
      work.Plan(WorkKind::Word, blocks * WordsPerBlock);
    }
    return work.SecondsLeft();
  };
  seconds.OnTheWire = at(0);
  seconds.AtThisLine = at(heldBackMs);
  return seconds;
}

std::string HeldBackReplyText(const protocol::DecoLink& link) {
  const double delay = link.ReplyDelayMs();
  if (delay < HeldBackThresholdMs) return "";
  return "each reply comes about " + Milliseconds(delay) +
         " after the wire has brought it: the USB serial adapter holds it back " +
         TimerAndWhereToLowerIt(link.DevicePath());
}

std::vector<std::string> HeldBackReplyLines(const protocol::DecoLink& link, const JobPlan& plan) {
  const std::string held = HeldBackReplyText(link);
  if (held.empty() || plan.BlockCount <= 0) return {};
  const JobSeconds job = FlashWorkSeconds(plan, protocol::CharacterMs(link), link.ReplyDelayMs());
  const char* upTo = plan.IsWriteJob && plan.DifferentBlocksMethod ? "up to " : "";
  std::string text = held;
  text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return {text + ".",
          "This job's flash work takes " + std::string(upTo) + "about " +
              TimeLeft::Text(job.AtThisLine) + " at this line, " + TimeLeft::Text(job.OnTheWire) +
              " on the wire alone."};
}

}  // namespace transfer

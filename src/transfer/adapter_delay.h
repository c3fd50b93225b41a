// A USB serial adapter that holds every reply back (an FTDI chip's latency timer: 16 ms by
// default) makes each exchange wait for it: a flash word, four short exchanges, then takes many
// times its wire time. The connect's exchanges tell such a delay; before a job's long work the
// user hears of it once, with what it costs that job and where to lower it.
#pragma once

#include <string>
#include <vector>

#include "protocol/deco_link.h"
#include "transfer/job_plan.h"

namespace transfer {

// Below this a reply's delay is the deco's own turn-around and the system's scheduling.
inline constexpr double HeldBackThresholdMs = 4;

struct JobSeconds {
  uint64_t OnTheWire = 0;  // the wire's own time, erase pauses included
  uint64_t AtThisLine = 0;
};
// What the flash work of plan takes, with every exchange held back heldBackMs; a Different
// blocks WRITE as if every sector differed.
JobSeconds FlashWorkSeconds(const JobPlan& plan, double characterMs, double heldBackMs);

// What to tell before plan's job, or nothing: a line that holds replies back, and a job with
// flash work.
std::vector<std::string> HeldBackReplyLines(const protocol::DecoLink& link, const JobPlan& plan);
// How long the line holds replies back, as line-check tells it; "" when it does not.
std::string HeldBackReplyText(const protocol::DecoLink& link);

}  // namespace transfer

#include "transfer/time_left.h"

#include <cstdio>

#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "transfer/transfer_job.h"

namespace transfer {

namespace {

constexpr uint64_t LineEndCharacters = 2;
// A command line of the flash: "0220", address and data; the deco's short reply "021" CR.
constexpr uint64_t FlashCommandCharacters = 20 + LineEndCharacters;
constexpr uint64_t ShortReplyCharacters = 4;
constexpr uint64_t CommandTransaction = FlashCommandCharacters + ShortReplyCharacters;
constexpr uint64_t EraseTransactions = protocol::EraseCommands.size() + 1;
constexpr uint64_t WordTransactions = protocol::ProgramCommands.size() + 1;
constexpr uint64_t BypassWordTransactions = 2;
// A block read: "0221FF" and its address; the reply "021", 512 digits and CR.
constexpr uint64_t BlockTransaction = 14 + LineEndCharacters + 3 + 2 * protocol::ReadBlockBytes + 1;
// How long a sector erase of these chips takes, before one was measured.
constexpr double TypicalEraseMs = 1000;

}  // namespace

TimeLeft::TimeLeft(double characterMs, bool erasePoll, bool bypassWords, double heldBackMs) {
  const double eraseWaitMs = erasePoll ? TypicalEraseMs : EraseWaitSeconds * 1000.0;
  const double wordTransactions =
      static_cast<double>(bypassWords ? BypassWordTransactions : WordTransactions);
  work_[static_cast<size_t>(WorkKind::Erase)].wireMs =
      EraseTransactions * (CommandTransaction * characterMs + heldBackMs) + eraseWaitMs;
  work_[static_cast<size_t>(WorkKind::Word)].wireMs =
      wordTransactions * (CommandTransaction * characterMs + heldBackMs);
  work_[static_cast<size_t>(WorkKind::Block)].wireMs = BlockTransaction * characterMs + heldBackMs;
}

void TimeLeft::Plan(WorkKind kind, uint64_t units) { work_[static_cast<size_t>(kind)].planned += units; }

void TimeLeft::Done(WorkKind kind, uint64_t units, uint64_t nowMs) {
  Work& work = work_[static_cast<size_t>(kind)];
  if (units > work.done) {
    work.measuredUnits += units - work.done;
    work.measuredMs += nowMs - lastMs_;
  }
  work.done = units;
  lastMs_ = nowMs;
}

uint64_t TimeLeft::SecondsLeft() const {
  double ms = 0;
  for (const Work& work : work_) {
    if (work.done >= work.planned) continue;
    const double unitMs = work.measuredUnits > 0 ? static_cast<double>(work.measuredMs) /
                                                       static_cast<double>(work.measuredUnits)
                                                 : work.wireMs;
    ms += static_cast<double>(work.planned - work.done) * unitMs;
  }
  return static_cast<uint64_t>(ms / 1000.0 + 0.5);
}

std::string TimeLeft::Text(uint64_t seconds) {
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  return text;
}

}  // namespace transfer

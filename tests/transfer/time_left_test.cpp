// The time a phase has left, against the time it really took, on the timelines of the phases a
// technician watches: a WRITE whose first seconds go to erases, a fast one, a READ.
#include "transfer/time_left.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace transfer;

TEST(TimeLeftTest, CloseToTheTimeReallyLeftFromTheFirstErase) {
  constexpr double CharacterMs = 10.0 * 1000 / 115200;
  constexpr double WordWireMs = 4 * 26 * CharacterMs;
  struct Row {
    const char* name;
    bool erasePoll;
    bool bypass;
    uint64_t erases;
    double eraseMs;  // as the chips and the pause take it
    uint64_t units;  // words, or blocks for a READ
    double unitMs;   // as the line takes one
  } rows[] = {
      // A channel list by the usual sequence: 20 s of erases, then the words.
      {"a WRITE with the fixed pause", false, false, 7, 5004, 114176, 1.10 * WordWireMs},
      {"a fast WRITE, erases read until done", true, true, 7, 700, 114176, 0.55 * WordWireMs},
      {"a READ", false, false, 0, 0, 2048, 1.02 * 532 * CharacterMs},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TimeLeft left(CharacterMs, row.erasePoll, row.bypass);
    const WorkKind unit = row.erases ? WorkKind::Word : WorkKind::Block;
    left.Plan(WorkKind::Erase, row.erases);
    left.Plan(unit, row.units);
    const double totalMs = row.erases * row.eraseMs + row.units * row.unitMs;
    double nowMs = 0;
    left.Start(0);
    auto expectClose = [&] {
      const double reallyLeft = (totalMs - nowMs) / 1000;
      EXPECT_NEAR(static_cast<double>(left.SecondsLeft()), reallyLeft, 0.1 * reallyLeft + 2)
          << "at " << nowMs / 1000 << " s";
    };
    for (uint64_t e = 1; e <= row.erases; ++e) {
      nowMs += row.eraseMs;
      left.Done(WorkKind::Erase, e, static_cast<uint64_t>(nowMs));
      expectClose();
    }
    for (uint64_t u = 1; u <= row.units; ++u) {
      nowMs += row.unitMs;
      left.Done(unit, u, static_cast<uint64_t>(std::llround(nowMs)));
      if (u % (row.units / 100) == 0) expectClose();
    }
    EXPECT_EQ(left.SecondsLeft(), 0u);
  }
}

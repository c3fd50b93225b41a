// How long a flash phase has left, from the work still to do by kind: each kind at its measured
// rate once some of it is done, at its wire rate before. A WRITE's first seconds go to erases
// and its minutes to words, so a figure from the share of words alone would be far off early.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace transfer {

enum class WorkKind { Erase, Word, Block };

class TimeLeft {
 public:
  // characterMs: one character's wire time; erasePoll: each erase is waited for by reading, not
  // by the fixed pause, and so takes as long as the chips need; bypassWords: words are
  // programmed in unlock bypass, by two commands instead of four; heldBackMs: what the line
  // adds to every exchange beyond the wire (a USB adapter's latency timer).
  TimeLeft(double characterMs = 0, bool erasePoll = false, bool bypassWords = false,
           double heldBackMs = 0);

  // Units of kind still to come in the phase, on top of those planned so far.
  void Plan(WorkKind kind, uint64_t units);
  // units of kind are done in all, at nowMs: the time since the last report is theirs. A count
  // that goes back (a sector written again) is taken as it is, without a rate from it.
  void Done(WorkKind kind, uint64_t units, uint64_t nowMs);
  // Starts the clock of the first report.
  void Start(uint64_t nowMs) { lastMs_ = nowMs; }
  uint64_t SecondsLeft() const;
  // "1:05:09" for an hour, 5 minutes and 9 seconds; "4:30" under an hour.
  static std::string Text(uint64_t seconds);

 private:
  struct Work {
    uint64_t planned = 0;
    uint64_t done = 0;
    uint64_t measuredUnits = 0;
    uint64_t measuredMs = 0;
    double wireMs = 0;  // one unit at the wire's rate
  };
  std::array<Work, 3> work_;
  uint64_t lastMs_ = 0;
};

}  // namespace transfer

// How the worker reaches its owner (the window, the command line, a test). Every call but
// WorkerDone returns only when the owner has taken it over.
#pragma once

#include <cstdint>
#include <string>

namespace transfer {

// Bar colours as 0x00BBGGRR values.
inline constexpr uint32_t ColourReadJob = 0xFF0000;   // blue
inline constexpr uint32_t ColourWrite = 0x0000FF;     // red
inline constexpr uint32_t ColourReadBack = 0x808000;  // teal
inline constexpr uint32_t ColourRewrite = 0xFF00FF;   // magenta

// The phases of a job that read or write flash, each with its start line ("Read FIRMWARE ...",
// "Write Fw.bin to deco ...", "Final check ...") as its label.
enum class PhaseKind { ReadFlash, ReadBack, WriteFlash, Rewrite, FinalCheck };

class TransferHost {
 public:
  virtual ~TransferHost() = default;
  // A flash phase begins: what it is, the bytes it moves, its start line. Runs on the worker's
  // thread; the owner keeps what it needs (figures, the bar's throughput) and returns at once.
  virtual void PhaseStarted(PhaseKind, uint64_t /*bytes*/, const std::string& /*label*/) {}
  // The phase begun last ended whole ("... is finished 100%").
  virtual void PhaseEnded(PhaseKind, const std::string& /*label*/) {}
  // Runs on the owner's thread while the worker waits: progress >= 0 moves the bar and its
  // label; a non-empty message becomes a new last log line.
  virtual void UpdateProgress(int32_t progress, const std::string& message) = 0;
  // How long the phase begun last has still to run, from the work left by kind; before the
  // progress it goes with.
  virtual void ShowTimeLeft(uint64_t /*seconds*/) {}
  virtual void SetBarColour(uint32_t colour) = 0;
  // Posted: the worker does not wait for it.
  virtual void PostWorkerDone() = 0;
};

}  // namespace transfer

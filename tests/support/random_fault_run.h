// One command-line job against a simulated deco whose faults are drawn from a seed, and the
// rules every job keeps whatever the line does: exit 0 only when the files and the deco's memory
// are what the job claims, otherwise a failure that says why; the deco reachable afterwards; no
// hang. The random-fault test and its benchmark both run seeds through here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct RandomRun {
  uint32_t Seed = 0;
  std::string Job;            // which job the seed runs
  int ExitCode = 0;
  double Seconds = 0;         // the job's wall time, the follow-up jobs left out
  std::vector<std::string> Broken;  // the rules the run broke, each with what was seen
  std::vector<std::string> Faults;  // what the deco's faults did, in order
  std::string Said;                 // the job's messages (stderr)
};

// The job kinds, one per seed in turn: a seed runs JobNames()[seed % count].
const std::vector<std::string>& RandomJobNames();

// Runs the job of seed against a deco with faults drawn from seed, then a clean follow-up on the
// same deco, and checks the rules. Installs its own clock and works in a folder of its own.
RandomRun RunRandomFaultJob(uint32_t seed);

// "seed 17, read_channel: <rule>" lines and the faults that struck, for a failing run.
std::string Describe(const RandomRun& run);

}  // namespace testing_support

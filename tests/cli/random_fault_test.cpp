// Faults nobody thought of: for a fixed list of seeds, the command line's jobs of every kind
// against a simulated deco whose faults are drawn from the seed (late, dropped, garbage and
// wrong-data replies, hang-ups, deaf periods, chips left in a chip mode). After each job the rules
// hold: exit 0 only when the files and the deco are what the job claims, a failure says why, the
// deco is reachable afterwards, nothing hangs. random_fault_bench runs thousands of seeds the
// same way; `random_fault_bench --first SEED --count 1` runs one again.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/random_fault_run.h"

namespace {

// Three rounds of every job kind, with and without wrong-data replies.
constexpr uint32_t FirstSeed = 0;
constexpr uint32_t SeedCount = 30;

TEST(RandomFaults, EveryJobKeepsTheRules) {
  int failed = 0;
  double slowest = 0;
  for (uint32_t seed = FirstSeed; seed < FirstSeed + SeedCount; ++seed) {
    testing_support::RandomRun run = testing_support::RunRandomFaultJob(seed);
    slowest = std::max(slowest, run.Seconds);
    if (run.Broken.empty()) continue;
    ++failed;
    ADD_FAILURE() << testing_support::Describe(run);
  }
  std::printf("random faults: %u runs, %d broke a rule, slowest job %.2f s\n", SeedCount, failed,
              slowest);
}

}  // namespace

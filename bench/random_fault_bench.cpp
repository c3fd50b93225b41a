// Random faults at scale: runs seeds first .. first+count-1 through the same run-and-check as the
// random-fault test (each seed one technician's sequence of command-line jobs against a deco with
// faults drawn from it: a job, the follow-ups it printed, a READ) and prints the runs, the
// failures, and each failing seed with the rules it broke.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "support/random_fault_run.h"

int main(int argc, char** argv) {
  CLI::App app{"Seeded random-fault runs of the command line's jobs against the simulated deco"};
  uint32_t count = 2000;
  uint32_t first = 0;
  bool quiet = false;
  bool everyRun = false;
  app.add_option("--count", count, "Number of seeds")->check(CLI::PositiveNumber)->capture_default_str();
  app.add_option("--first", first, "The first seed")->capture_default_str();
  app.add_flag("--quiet", quiet, "Name failing seeds only, without their faults");
  app.add_flag("--every-run", everyRun, "Show every run with its exit status and faults");
  CLI11_PARSE(app, argc, argv);

  std::map<std::string, int> perRule;  // failing runs per rule broken
  std::map<std::string, std::pair<int, int>> perJob;  // runs, failures
  int failures = 0;
  double jobSeconds = 0;
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t seed = first; seed < first + count; ++seed) {
    testing_support::RandomRun run = testing_support::RunRandomFaultJob(seed);
    jobSeconds += run.Seconds;
    auto& [runs, failed] = perJob[run.Job];
    ++runs;
    if (everyRun && run.Broken.empty()) {
      std::printf("seed %u, %s: kept the rules\n%s", seed, run.Job.c_str(),
                  testing_support::Describe(run).c_str());
    }
    if (run.Broken.empty()) continue;
    ++failed;
    ++failures;
    for (const std::string& rule : run.Broken) ++perRule[rule.substr(0, rule.find(':'))];
    if (quiet) {
      for (const std::string& rule : run.Broken)
        std::printf("seed %u, %s: %s\n", seed, run.Job.c_str(), rule.c_str());
    } else {
      std::printf("%s", testing_support::Describe(run).c_str());
    }
    std::fflush(stdout);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("random faults: seeds %u..%u: %u runs, %d failures, %.1f s (%.2f s a run, %.2f s "
              "of it the jobs)\n",
              first, first + count - 1, count, failures, seconds, seconds / count,
              jobSeconds / count);
  for (const auto& [job, counts] : perJob)
    std::printf("  %-20s %5d runs %5d failures\n", job.c_str(), counts.first, counts.second);
  for (const auto& [rule, runs] : perRule)
    std::printf("  broken in %5d runs: %s\n", runs, rule.c_str());
  return failures == 0 ? 0 : 1;
}

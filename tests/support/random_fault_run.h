// A technician's sequence of command-line jobs against a simulated deco whose faults are drawn
// from a seed: a job, then, while it fails, the follow-up it printed (the write-again command,
// the resume command, the options its diagnosis suggests), as printed, up to twice, then a
// clean READ; after a failure and its follow-ups, one command of the technician's own before that
// READ. The rules hold over the whole sequence: exit 0 only when the files and the deco's
// memory are what the job claims, otherwise a failure that says why; no "100" reaches a deco
// whose flash is not proven whole, nor (the deco's own view) to a deco whose flash holds neither
// what it held nor a file as written; every printed command parses and runs; a backup named is the
// deco as it was; the deco reachable at the end; no hang. The random-fault test and its
// benchmark both run seeds through here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct RandomRun {
  uint32_t Seed = 0;
  std::string Job;            // which job the seed's sequence starts with
  std::string Deco;           // how the deco answers besides its faults
  std::string OwnCommand;     // what the technician types after a failure and its follow-ups
  int ExitCode = 0;           // the first job's
  double Seconds = 0;         // the sequence's wall time
  std::vector<std::string> Broken;  // the rules the sequence broke, each with what was seen
  std::vector<std::string> Faults;  // what the deco's faults did, in order
  std::vector<std::string> Steps;   // each job run: where it came from, its command, its exit
  std::string Said;                 // the jobs' messages (stderr), each after its step
};

// The job kinds, one per seed in turn: a seed runs JobNames()[seed % count].
const std::vector<std::string>& RandomJobNames();

// Runs the sequence of seed against one deco with faults drawn from seed and checks the rules.
// Installs its own clock and works in a folder of its own.
RandomRun RunRandomFaultJob(uint32_t seed);

// "seed 17, read_channel: <rule>" lines, the steps and the faults that struck, for a failing run.
std::string Describe(const RandomRun& run);

}  // namespace testing_support

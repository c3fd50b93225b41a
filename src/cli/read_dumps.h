// A READ's dumps on their way to their names. Each is written to FILE.partial and takes FILE's
// name only when complete, so that a READ that fails never leaves a shortened dump under the
// name of a good one. Each partial file is created afresh and held until it is renamed or
// cleared away; one an ended run left goes first, one a live run holds refuses the READ (before
// the deco is asked anything): both runs would mean the same dump.
#pragma once

#include <string>
#include <vector>

#include "cli/console_host.h"
#include "transfer/job_plan.h"
#include "transfer/own_files.h"

namespace cli {

class ReadDumps {
 public:
  explicit ReadDumps(const transfer::JobSelection& selection);

  // Claims FILE.partial for every ticked dump; on failure tells why, puts it in error, claims
  // none and answers false.
  bool Claim(ConsoleHost& host, std::string& error);
  // What the READ writes into: the partial files once claimed.
  const transfer::JobSelection& Partial() const { return partial_; }
  // Gives each dump its own name once the READ is complete; EFileError when a rename fails.
  void NameComplete() const;
  // After a READ that did not finish: where its data is, and no empty partial file left behind.
  void TellWhereTheyAre(ConsoleHost& host) const;
  // The partial files are no longer held (they stay as they are).
  void Release() { held_.clear(); }

 private:
  const transfer::JobSelection selection_;
  transfer::JobSelection partial_;
  std::vector<transfer::HeldFile> held_;
};

// FILE.sha256 beside each dump, in the form `sha256sum -c` reads in the dump's folder.
void WriteChecksums(const transfer::JobSelection& selection, ConsoleHost& host);

}  // namespace cli

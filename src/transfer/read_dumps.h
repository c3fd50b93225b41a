// A READ's dumps on their way to their names. Each is written to FILE.partial and takes FILE's
// name only when complete, so that a READ that fails never leaves a shortened dump under the
// name of a good one. Each partial file is created afresh and held until it is renamed or
// cleared away; one an ended run left goes first, one a live run holds refuses the READ (before
// the deco is asked anything): both runs would mean the same dump. A flash dump's partial file a
// resume could go on with is only set aside (FILE.partial.earlier) until the new READ has read
// the flash, and put back when it has not. A resumed READ keeps the whole blocks of its flash
// dump's partial file instead and goes on after them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/job_plan.h"
#include "transfer/job_setup.h"
#include "transfer/own_files.h"

namespace transfer {

class ReadDumps {
 public:
  explicit ReadDumps(const JobSelection& selection);

  // Claims FILE.partial for every ticked dump; on failure tells why, puts it in error, claims
  // none and answers false. resume: the flash dump's FILE.partial that an earlier READ left is
  // kept, and refused when there is none or it is longer than the memory.
  bool Claim(JobDialogs& host, std::string& error, bool resume = false);
  // What the READ writes into: the partial files once claimed.
  const JobSelection& Partial() const { return partial_; }
  // The whole blocks a resumed READ keeps of its flash dump; 0 when it reads it all.
  int32_t ResumeBlocks() const { return resumeBlocks_; }
  // Gives each dump read in full (by complete's check boxes) its own name, and answers those
  // names (a flash dump's replaces the earlier partial one); EFileError when a rename fails.
  std::vector<std::string> NameComplete(const JobSelection& complete, JobDialogs& host);
  // After a READ that did not finish: where its data is, and no empty partial file left behind;
  // the earlier flash dump set aside goes when this READ read the flash, or else is put back.
  void TellWhereTheyAre(JobDialogs& host);
  // Whether the flash dump's partial file holds a whole block a resumed READ could keep.
  bool FlashDumpResumable() const;
  // The partial files are no longer held (they stay as they are).
  void Release() {
    held_.clear();
    resumed_.Release();
    earlier_.Release();
  }

 private:
  // The earlier flash dump set aside: removed, named in the log; or put back as FILE.partial.
  void DropEarlier(JobDialogs& host);
  void PutEarlierBack(JobDialogs& host);

  const JobSelection selection_;
  JobSelection partial_;
  std::vector<HeldFile> held_;  // made afresh by this run
  HeldFile resumed_;             // a resumed READ's flash dump
  HeldFile earlier_;             // the flash dump an ended READ left, set aside
  int32_t resumeBlocks_ = 0;
};

// FILE.sha256 beside each dump, in the form `sha256sum -c` reads in the dump's folder.
void WriteChecksums(const JobSelection& selection, JobDialogs& host);

}  // namespace transfer

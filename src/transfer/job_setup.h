// The checks and questions that come before a job, shared by the window and the command line:
// what READ asks before it overwrites files, what WRITE checks before it touches the deco, and
// the job values each of them prepares for the worker.
#pragma once

#include <cstdint>
#include <string>

#include "transfer/job_plan.h"

namespace transfer {

// The owner's message boxes and log pane.
class JobDialogs {
 public:
  virtual ~JobDialogs() = default;
  // A confirmation with Yes and No; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  // A plain message with an OK button.
  virtual void Message(const std::string& text) = 0;
  // A new last line of the log pane, added directly.
  virtual void AddLogLine(const std::string& text) = 0;
  // What a message leaves out, in more words, where the owner has room for them (a terminal);
  // the window's boxes keep their own texts and drop it.
  virtual void Explain(const std::string&) {}
};

// Checks that every ticked READ target can take its dump before anything is sent: a file of its
// own, not a folder, in a folder that exists, writable, with room for it; false after a message
// naming the first problem.
bool CheckReadFiles(const JobSelection& selection, JobDialogs& dialogs);
// Asks before overwriting each existing, non-empty target file (firmware, EEPROM, channel);
// false, after "READ ignored!", when one answer is No or no box is ticked.
bool AskReadOverwrites(const JobSelection& selection, JobDialogs& dialogs);
// The plan of a READ of the ticked memories.
JobPlan ReadJobPlan(const JobSelection& selection);

// Size check of one WRITE file; relaxed accepts any non-empty multiple of 8 bytes.
bool CheckWriteFile(const std::string& fileName, int64_t expectedSize, bool relaxed, bool& failed);
// Checks every ticked file in the order firmware, EEPROM, channel; false, after the message
// naming the first failing file, when a check fails, no box is ticked, or a file is one of the
// run's own (its read-back or merged image). A failing file is explained by its path as given,
// the size found and the size wanted.
bool CheckWriteFiles(const JobSelection& selection, WriteMethod method, const RunNames& names,
                     JobDialogs& dialogs);
// The plan of a WRITE; merges the channel into a copy of the firmware first when both are
// ticked (EFileError on failure), under the run's merged name or the next free one.
JobPlan WriteJobPlan(const JobSelection& selection, WriteMethod method, const RunNames& names,
                     JobDialogs& dialogs);

}  // namespace transfer

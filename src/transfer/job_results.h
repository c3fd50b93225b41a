// What a job did, as values: its flash write passes, as they happened, and its final check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace transfer {

// One flash write pass: the image it wrote from, the sectors it erased and those it wrote in
// full, each recorded when it happened, so that a pass cut short still says what it changed.
struct WritePass {
  std::string ImageFile;
  std::vector<int> Erased;
  std::vector<int> Sectors;  // erased and written in full
  bool Complete = false;
  // Where an unfinished pass stopped: the flash address of the next word it would have
  // programmed, or the sector it would have erased.
  uint32_t StoppedAt = 0;
};

// The reading back, after a WRITE, of what it wrote last, and of the EEPROM.
struct FinalCheckResult {
  std::string Result = "not run";  // passed, failed, skipped, not run
  std::vector<int> CheckedSectors;
  std::vector<int> DifferingSectors;
  bool EepromChecked = false;
  bool EepromEqual = false;
};

}  // namespace transfer

// What the deco holds after a WRITE, read back and compared with what the write promised to put
// there. Runs on the thread that owns the link, after the job.
#pragma once

#include <string>
#include <vector>

namespace transfer {

// The sectors among `sectors` whose flash differs from what a write of imageFile leaves there:
// from the first programmed sector on, the image's words; below it, an erased sector, with the
// zero words at the start of sector 0.
std::vector<int> SectorsDifferingFromWrite(const std::string& imageFile,
                                           const std::vector<int>& sectors);
// Whether the EEPROM holds the first 2 KB of eepromFile.
bool EepromHolds(const std::string& eepromFile);

}  // namespace transfer

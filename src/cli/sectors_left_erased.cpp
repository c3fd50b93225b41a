#include "cli/sectors_left_erased.h"

#include <algorithm>
#include <fstream>
#include <string>

#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/image_files.h"
#include "transfer/final_check.h"

namespace cli {

void TellSectorsLeftErased(const std::vector<transfer::WritePass>& passes, ConsoleHost& host) {
  std::vector<int> sectors;
  std::string imageFile;
  try {
    for (const transfer::WritePass& pass : passes) {
      std::ifstream image(pass.ImageFile, std::ios::binary);
      for (int s : pass.Sectors) {
        if (s >= protocol::FirstProgrammedSector ||
            std::find(sectors.begin(), sectors.end(), s) != sectors.end())
          continue;
        if (transfer::ImageSector(image, pass.ImageFile, s) ==
            transfer::SectorAsWritten(image, pass.ImageFile, s))
          continue;
        sectors.push_back(s);
        imageFile = pass.ImageFile;
      }
    }
  } catch (const std::exception&) {
    return;  // an image that cannot be read now leaves nothing sure to say; the verdict stands
  }
  if (sectors.empty()) return;
  std::sort(sectors.begin(), sectors.end());
  std::string line = "Sector(s) " + transfer::SectorNumbers(sectors) + " are erased";
  if (sectors.front() == 0)
    line += " and hold only the " + std::to_string(protocol::ZeroWordsAtStart) + " zero words at " +
            protocol::ToHex(protocol::FlashBase, 8);
  host.AddLogLine(line + ", not " + protocol::BareFileName(imageFile) +
                  "'s bytes there: compare with `pyrelink-cli diff --as-written`.");
}

}  // namespace cli

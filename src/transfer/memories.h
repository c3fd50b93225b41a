// The deco's three memories, once for every front end: each one's check box and file in a job's
// selection, its image size, its name, and whether it lies in the flash.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/image_files.h"
#include "transfer/job_plan.h"

namespace transfer {

struct Memory {
  const char* Name;  // "firmware": the command line's --firmware and the report's role
  const char* Kind;  // "a firmware image", for what a file must be
  int64_t ImageBytes;
  bool JobSelection::*Ticked;
  std::string JobSelection::*File;
  bool InFlash;  // the firmware and the channel list share the flash; the EEPROM lies apart
};

// In the order firmware, EEPROM, channel: the order of every check and question.
inline constexpr std::array<Memory, 3> Memories{{
    {"firmware", "a firmware image", protocol::FirmwareImageBytes, &JobSelection::Firmware,
     &JobSelection::FirmwareFile, true},
    {"eeprom", "an EEPROM image", protocol::EepromImageBytes, &JobSelection::Eeprom,
     &JobSelection::EepromFile, false},
    {"channel", "a channel list image", protocol::ChannelImageBytes, &JobSelection::Channel,
     &JobSelection::ChannelFile, true},
}};

}  // namespace transfer

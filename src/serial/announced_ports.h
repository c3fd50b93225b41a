// Ports that a running simulated deco announces, the way a virtual serial-port driver makes
// its ports known: one file per simulator process in a per-user runtime folder.
#pragma once

#include <string>
#include <vector>

namespace serial {

// The folder of the announcements: $XDG_RUNTIME_DIR/pyrelink-ports, else a folder of this
// user's under /tmp.
std::string AnnouncementFolder();

// Announces devicePath for this process; answers the file to remove on exit ("" on failure).
std::string AnnouncePort(const std::string& devicePath);
void WithdrawPort(const std::string& announcementFile);

// Device paths announced by processes that are still alive, oldest first.
std::vector<std::string> AnnouncedPorts();

}  // namespace serial

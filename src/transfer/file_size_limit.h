// The largest file this process may write, where the system sets such a limit; one file per
// operating system.
#pragma once

#include <cstdint>

namespace transfer {

// Bytes; INT64_MAX when there is no limit.
int64_t FileSizeLimit();

}  // namespace transfer

#include <cstdint>

#include "transfer/file_size_limit.h"

namespace transfer {

// Windows sets no per-process file size limit; free space is checked on its own.
int64_t FileSizeLimit() { return INT64_MAX; }

}  // namespace transfer

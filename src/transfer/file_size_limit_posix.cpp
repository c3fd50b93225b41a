#include <sys/resource.h>

#include <cstdint>

#include "transfer/file_size_limit.h"

namespace transfer {

int64_t FileSizeLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return INT64_MAX;
  return limit.rlim_cur > static_cast<rlim_t>(INT64_MAX) ? INT64_MAX
                                                          : static_cast<int64_t>(limit.rlim_cur);
}

}  // namespace transfer

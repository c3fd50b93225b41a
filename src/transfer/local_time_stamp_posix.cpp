// The user's date and time formats from the C library's locale (LC_TIME of the environment).
#include <langinfo.h>

#include <clocale>
#include <ctime>

#include "transfer/job_values.h"

namespace transfer {

std::string LocalTimeStamp() {
  std::setlocale(LC_TIME, "");
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return FormatTimeStamp(local, nl_langinfo(D_FMT), nl_langinfo(T_FMT));
}

}  // namespace transfer

// The user's date and time formats from the C library's locale (LC_TIME of the environment).
#include <langinfo.h>

#include <clocale>
#include <ctime>

#include "transfer/time_stamp.h"

namespace transfer {

namespace {
struct TimeFormats {
  std::string Date;
  std::string Time;
};

// setlocale and nl_langinfo share the process's locale and buffers: they run once, on the first
// call, and the CLI and the window make that call before any job thread starts.
const TimeFormats& UserTimeFormats() {
  static const TimeFormats formats = [] {
    std::setlocale(LC_TIME, "");
    return TimeFormats{nl_langinfo(D_FMT), nl_langinfo(T_FMT)};
  }();
  return formats;
}
}  // namespace

void LoadTimeFormats() {
  UserTimeFormats();
}

std::tm LocalCalendarTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

std::string LocalTimeStamp() {
  const TimeFormats& formats = UserTimeFormats();
  return FormatTimeStamp(LocalCalendarTime(std::time(nullptr)), formats.Date, formats.Time);
}

}  // namespace transfer

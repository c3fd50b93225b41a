// The user's short date and long time formats from the Windows regional settings.
#include <windows.h>

#include <ctime>
#include <string>

#include "transfer/time_stamp.h"

namespace transfer {

namespace {
// The short date format with every run of "y" shorter than four made four long.
std::string FourDigitYear(const std::string& format) {
  std::string result;
  for (size_t i = 0; i < format.size();) {
    if (format[i] != 'y') {
      result += format[i++];
      continue;
    }
    size_t run = format.find_first_not_of('y', i);
    if (run == std::string::npos) run = format.size();
    result += std::string(run - i < 4 ? 4 : run - i, 'y');
    i = run;
  }
  return result;
}
}  // namespace

// The regional settings are read per call, with calls that share no buffer.
void LoadTimeFormats() {}

std::tm LocalCalendarTime(std::time_t when) {
  std::tm local{};
  localtime_s(&local, &when);
  return local;
}

std::string LocalTimeStamp() {
  char format[128] = {0};
  if (!::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, format, sizeof format))
    format[0] = 0;
  std::string dateFormat = FourDigitYear(format[0] ? format : "M/d/yyyy");
  char date[128] = {0};
  char time[128] = {0};
  ::GetDateFormatA(LOCALE_USER_DEFAULT, 0, nullptr, dateFormat.c_str(), date, sizeof date);
  ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, sizeof time);
  return BuildTimeStamp(date, time);
}

}  // namespace transfer

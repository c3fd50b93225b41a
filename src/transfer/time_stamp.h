// The run's time stamp in the user's date and time formats, and local time made safely for
// several threads.
#pragma once

#include <ctime>
#include <string>

namespace transfer {

// The stamp of a run from the user's short date and long time texts: ":" and "/" become "-",
// blanks become "_" (1:18:29 AM on 12/7/2026 gives 12-7-2026_1-18-29_AM).
std::string BuildTimeStamp(const std::string& shortDate, const std::string& longTime);
// The stamp of `when` in the given strftime date and time formats, with a four-digit year and
// without a time-zone word.
std::string FormatTimeStamp(const std::tm& when, std::string dateFormat, std::string timeFormat);
// The stamp of this moment in the user's date and time formats; both front ends use it.
std::string LocalTimeStamp();
// Reads the user's date and time formats; called before any thread that makes stamps starts.
void LoadTimeFormats();
// `when` in local time, with a call that shares no buffer between threads.
std::tm LocalCalendarTime(std::time_t when);

}  // namespace transfer

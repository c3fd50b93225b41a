#include "transfer/time_stamp.h"

namespace transfer {

namespace {
std::string ReplaceSeparators(std::string text) {
  for (char& c : text) {
    if (c == ':' || c == '/') c = '-';
  }
  return text;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

std::string Formatted(const std::tm& when, const std::string& format) {
  char text[128];
  size_t length = std::strftime(text, sizeof text, format.c_str(), &when);
  return std::string(text, length);
}
}  // namespace

std::string BuildTimeStamp(const std::string& shortDate, const std::string& longTime) {
  std::string stamp = ReplaceSeparators(shortDate) + "_" + ReplaceSeparators(longTime);
  for (char& c : stamp) {
    if (c == ' ') c = '_';
  }
  return stamp;
}

std::string FormatTimeStamp(const std::tm& when, std::string dateFormat, std::string timeFormat) {
  // Two-digit years would make stamps of different centuries collide; a zone word is noise in
  // a file name.
  ReplaceAll(dateFormat, "%y", "%Y");
  for (const char* zone : {" %Z", " %z", "%Z", "%z"}) ReplaceAll(timeFormat, zone, "");
  return BuildTimeStamp(Formatted(when, dateFormat), Formatted(when, timeFormat));
}

}  // namespace transfer

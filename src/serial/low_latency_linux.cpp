#include "serial/low_latency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <filesystem>
#include <fstream>

namespace serial {

namespace {

std::string ReadLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool WriteValue(const std::string& file, const std::string& value) {
  std::ofstream out(file);
  out << value << '\n';
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

LatencyChange RequestLowLatency(int fd, const std::string& path, const std::string& sysfsRoot) {
  LatencyChange change;
  serial_struct info{};
  if (::ioctl(fd, TIOCGSERIAL, &info) == 0) {
    if (info.flags & ASYNC_LOW_LATENCY) {
      change.note = "low-latency flag already on";
    } else {
      info.flags |= ASYNC_LOW_LATENCY;
      change.flagSet = ::ioctl(fd, TIOCSSERIAL, &info) == 0;
      change.note = change.flagSet ? "low-latency flag set" : "low-latency flag refused";
    }
  } else {
    change.note = "no low-latency flag";
  }

  std::error_code error;
  std::string name = std::filesystem::path(std::filesystem::canonical(path, error)).filename();
  if (error) name = std::filesystem::path(path).filename();
  const std::string timer = sysfsRoot + "/class/tty/" + name + "/device/latency_timer";
  if (std::filesystem::exists(timer, error)) {
    std::string before = ReadLine(timer);
    if (before == LowLatencyTimerMs) {
      change.note += "; latency timer already " + before + " ms";
    } else if (WriteValue(timer, LowLatencyTimerMs)) {
      change.timerFile = timer;
      change.timerBefore = before;
      change.note += "; latency timer " + before + " ms -> " + LowLatencyTimerMs + " ms";
    } else {
      change.note += "; latency timer " + before + " ms (not writable)";
    }
  }
  return change;
}

void RestoreLatency(int fd, const LatencyChange& change) {
  if (change.flagSet) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) == 0) {
      info.flags &= ~ASYNC_LOW_LATENCY;
      ::ioctl(fd, TIOCSSERIAL, &info);
    }
  }
  if (!change.timerFile.empty()) WriteValue(change.timerFile, change.timerBefore);
}

}  // namespace serial

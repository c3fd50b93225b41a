#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "serial/announced_ports.h"

namespace serial {

namespace {
bool ProcessAlive(long pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

long ParsePid(const std::string& name) {
  if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::strtol(name.c_str(), nullptr, 10);
}
}  // namespace

std::string AnnouncementFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/pyrelink-ports";
  return "/tmp/pyrelink-ports-" + std::to_string(::getuid());
}

std::string AnnouncePort(const std::string& devicePath) {
  std::string folder = AnnouncementFolder();
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return "";
  std::string file = folder + "/" + std::to_string(::getpid());
  std::string temporary = file + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << devicePath << "\n";
    if (!out) return "";
  }
  // Renaming makes the entry appear whole, never half written.
  if (std::rename(temporary.c_str(), file.c_str()) != 0) return "";
  return file;
}

void WithdrawPort(const std::string& announcementFile) {
  if (!announcementFile.empty()) ::unlink(announcementFile.c_str());
}

std::vector<std::string> AnnouncedPorts() {
  std::vector<std::pair<long, std::string>> found;
  std::string folder = AnnouncementFolder();
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return {};
  while (dirent* entry = ::readdir(dir)) {
    long pid = ParsePid(entry->d_name);
    if (!ProcessAlive(pid)) continue;
    std::ifstream in(folder + "/" + entry->d_name);
    std::string path;
    if (std::getline(in, path) && !path.empty() && ::access(path.c_str(), F_OK) == 0)
      found.emplace_back(pid, path);
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& item : found) paths.push_back(item.second);
  return paths;
}

}  // namespace serial

// Files for tests: whole-file reads and writes and a throw-away folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
std::string AsText(const std::vector<uint8_t>& bytes);

// A fresh folder under the system's temporary folder, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace testing_support

// The offline image commands on any file: a firmware, channel or EEPROM sized image (or any
// other size) whose start is the input and whose rest is erased flash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "cli/console_host.h"
#include "cli/image_tools.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    char name[] = "/tmp/pyrelink-fuzz-XXXXXX";
    return std::string(::mkdtemp(name));
  }();
  return folder;
}

void Save(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(),
                                                                static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t sizes[] = {0, 2097152, 524288, 2048};
  size_t imageSize = sizes[data[0] % 4];
  std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (imageSize > 0) {
    content.resize(std::min(content.size(), imageSize));
    content.resize(imageSize, '\xFF');
  }
  const std::string image = Folder() + "/image.bin";
  const std::string erased = Folder() + "/erased.bin";
  Save(image, content);
  Save(erased, std::string(content.size(), '\xFF'));
  static std::FILE* sink = std::fopen("/dev/null", "w");
  cli::ConsoleHost host(true, sink, sink);
  cli::InfoCommand({image}, host);
  cli::DiffCommand(image, erased, (data[0] & 4) != 0, host,
                   (data[0] & 8) != 0 ? cli::DiffAs::Written : cli::DiffAs::Image);
  return 0;
}

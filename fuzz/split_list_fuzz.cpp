// Port lists and their fields on any text: every field taken shortens what remains, so the
// loops over them end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "serial/serial_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const char delimiter = static_cast<char>(data[0]);
  const char quote = static_cast<char>(data[1]);
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

  std::string remaining = text;
  while (!remaining.empty()) {
    size_t before = remaining.size();
    serial::FetchItem(remaining, delimiter, quote);
    if (remaining.size() >= before) std::abort();
  }
  std::vector<std::string> list;
  serial::SplitList(text, delimiter, list);
  serial::JoinList(list);
  serial::FindLineEnd(text);
  return 0;
}

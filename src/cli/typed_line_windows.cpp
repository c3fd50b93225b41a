#include <iostream>

#include "cli/typed_line.h"

namespace cli {

// Ctrl-C in a console ends a pending read there: the stop is looked at after it.
bool ReadTypedLine(std::string& line, protocol::StopToken stop) {
  return std::getline(std::cin, line) && !stop.Requested();
}

}  // namespace cli

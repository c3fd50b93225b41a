// The code of the serial error an action raises; 0 when it raises none.
#pragma once

#include <cstdint>
#include <functional>

#include "serial/serial_error.h"

namespace testing_support {

inline int32_t SerialErrorCodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const serial::ESerialError& error) {
    return error.Code;
  }
  return 0;
}

}  // namespace testing_support

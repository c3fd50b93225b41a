// Error codes of the serial layer and the exception that carries them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace serial {

inline constexpr int32_t ErrOk = 0;
inline constexpr int32_t ErrPortOwned = 9991;
inline constexpr int32_t ErrAlreadyOpen = 9992;
inline constexpr int32_t ErrWrongParameter = 9993;
inline constexpr int32_t ErrNotConnected = 9994;
inline constexpr int32_t ErrNoDeviceAnswer = 9995;
inline constexpr int32_t ErrMaxBuffer = 9996;
inline constexpr int32_t ErrTimeout = 9997;
inline constexpr int32_t ErrReadFailed = 9998;
inline constexpr int32_t ErrFrame = 9999;
inline constexpr int32_t ErrOverrun = 10000;
inline constexpr int32_t ErrRxOver = 10001;
inline constexpr int32_t ErrRxParity = 10002;
inline constexpr int32_t ErrTxFull = 10003;

// Text for one of the codes above, or the operating system's text for any other code.
std::string GetErrorDesc(int32_t code);

class ESerialError : public std::runtime_error {
 public:
  explicit ESerialError(int32_t code);
  int32_t Code;
  std::string Description;
};

}  // namespace serial

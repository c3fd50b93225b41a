#include "serial/serial_error.h"

#include <cstdio>

#include "serial/port_backend.h"

namespace serial {

std::string GetErrorDesc(int32_t code) {
  switch (code) {
    case ErrOk: return "OK";
    case ErrPortOwned: return "Port owned by other process";
    case ErrAlreadyOpen: return "Instance already in use";
    case ErrWrongParameter: return "Wrong paramter at call";
    case ErrNotConnected: return "Instance not yet connected";
    case ErrNoDeviceAnswer: return "No device answer detected";
    case ErrMaxBuffer: return "Maximal buffer length exceeded";
    case ErrTimeout: return "Timeout during operation";
    case ErrReadFailed: return "Reading of data failed";
    case ErrFrame: return "Receive framing error";
    case ErrOverrun: return "Receive Overrun Error";
    case ErrRxOver: return "Receive Queue overflow";
    case ErrRxParity: return "Receive Parity Error";
    case ErrTxFull: return "Tranceive Queue is full";
    default: break;
  }
  std::string text = SystemErrorMessage(code);
  while (!text.empty()) {
    unsigned char last = static_cast<unsigned char>(text.back());
    if (last > ' ' && last != '.') break;
    text.pop_back();
  }
  return text;
}

namespace {
std::string FormatMessage(int32_t code) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "Communication error %d: %s", static_cast<int>(code),
                GetErrorDesc(code).c_str());
  return buffer;
}
}  // namespace

ESerialError::ESerialError(int32_t code)
    : std::runtime_error(FormatMessage(code)), Code(code), Description(GetErrorDesc(code)) {}

}  // namespace serial

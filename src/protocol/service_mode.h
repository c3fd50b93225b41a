// Bringing the deco into service mode at the chosen line speed, and back to standby.
#pragma once

#include <atomic>
#include <string>

namespace protocol {

// True: the deco shows standby and is first reached at 9600 baud.
std::atomic<bool>& DecoInStandby();
// The connected model protects flash sector 18; valid until the next Connect.
std::atomic<bool>& Block18Protected();

inline constexpr const char* ProtectedModelMark = "KVT6072";

// Opens portName and configures it; every failure arrives as an exception.
bool EnterServiceMode(const std::string& portName, const std::string& baudText);
// True when the deco confirmed the return to standby.
bool LeaveServiceMode();

}  // namespace protocol

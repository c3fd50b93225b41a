// What to change when the deco did not answer at connect: where it can be heard instead.
#pragma once

#include <string>

namespace cli {

// Listens once at each state and speed the connect did not try (standby at 9600, service mode at
// 9600, 38400 and 115200), a model query of about two seconds each, and says what to change:
// "the deco answers in service mode at 38400: add --service --baud 38400", or that nothing
// answered. A deco found at 9600 is returned to standby. "" when the port cannot be opened again.
std::string DiagnoseSilentDeco(const std::string& port, const std::string& baud, bool service);

}  // namespace cli

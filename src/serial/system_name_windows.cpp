#include <windows.h>

#include "serial/system_name.h"

namespace serial {

namespace {
// GetVersionEx answers what the program's manifest allows; ntdll tells the version as it is.
using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
}  // namespace

std::string SystemName() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  auto call = ntdll ? reinterpret_cast<RtlGetVersionCall>(
                          reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                    : nullptr;
  if (!call || call(&version) != 0) return "Windows (version unknown)";
  return "Windows " + std::to_string(version.dwMajorVersion) + "." +
         std::to_string(version.dwMinorVersion) + " build " +
         std::to_string(version.dwBuildNumber);
}

}  // namespace serial

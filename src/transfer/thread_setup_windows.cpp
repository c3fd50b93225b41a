#include <windows.h>

#include <string>

#include "transfer/thread_setup.h"

namespace transfer {

namespace {
// SetThreadDescription came with Windows 10 1607: looked up, so older systems still run.
using SetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PCWSTR);
}  // namespace

void NameThisThread(const char* name) {
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  auto describe = reinterpret_cast<SetThreadDescriptionFunction>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetThreadDescription")));
  if (!describe) return;
  std::wstring wide(name, name + std::char_traits<char>::length(name));
  describe(::GetCurrentThread(), wide.c_str());
}

void RaiseThisThreadAboveNormal() {
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

}  // namespace transfer

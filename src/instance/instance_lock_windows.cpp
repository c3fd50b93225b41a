// The instance lock on Windows: a named mutex called after the executable's file name. Creating
// it tells in the same step whether it already existed; the system drops it when the last
// handle closes, at the latest when the process ends.
#include <windows.h>

#include <string>

#include "instance/one_instance.h"

namespace instance {

namespace {

std::string SystemText(DWORD code) {
  char text[256] = {0};
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
  std::string result(text, length);
  while (!result.empty() &&
         (static_cast<unsigned char>(result.back()) <= ' ' || result.back() == '.'))
    result.pop_back();
  return result.empty() ? "system error " + std::to_string(code) : result;
}

class MutexInstanceLock : public InstanceLock {
 public:
  ~MutexInstanceLock() override {
    if (mutex_) ::CloseHandle(mutex_);
  }

  bool ExistsOrTake(const std::string& name) override {
    if (mutex_) return false;
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
    DWORD error = ::GetLastError();
    if (!mutex) throw EOneInstance(SystemText(error));
    if (error == ERROR_ALREADY_EXISTS) {
      ::CloseHandle(mutex);
      return true;
    }
    mutex_ = mutex;
    return false;
  }

  void Release() override {
    if (!mutex_) return;
    HANDLE mutex = mutex_;
    mutex_ = nullptr;
    if (!::CloseHandle(mutex)) throw EOneInstance(SystemText(::GetLastError()));
  }

  bool Held() const override { return mutex_ != nullptr; }

 private:
  HANDLE mutex_ = nullptr;
};

void RestoreAndRaise(HWND window) {
  if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
  ::BringWindowToTop(window);
}

}  // namespace

std::unique_ptr<InstanceLock> MakeInstanceLock() {
  return std::make_unique<MutexInstanceLock>();
}

std::string ExecutableFileName() {
  char path[MAX_PATH] = {0};
  DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0) return "pyrelink.exe";
  std::string full(path, length);
  size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

bool RaiseTopLevelWindow(const std::string& title) {
  HWND window = ::FindWindowA(nullptr, title.c_str());
  if (!window) return false;
  HWND popup = ::GetLastActivePopup(window);
  RestoreAndRaise(window);
  if (popup) {
    RestoreAndRaise(popup);
    ::SetForegroundWindow(popup);
  }
  return true;
}

}  // namespace instance

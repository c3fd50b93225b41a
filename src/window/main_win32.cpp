// pyrelink.exe: the desktop window on Windows.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "pyrelink_version.h"
#include "serial/line_trace.h"
#include "window/win32_main_window.h"

namespace {
constexpr int ExitUsage = 2;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  // --trace FILE records the line, as pyrelink-cli's does.
  std::string traceFile;
  for (int i = 1; i + 1 < __argc; ++i)
    if (std::strcmp(__argv[i], "--trace") == 0) traceFile = __argv[i + 1];
  window::Win32MainWindow form(instance);
  if (form.TerminationRequested()) return 0;  // a second copy ends silently
  if (!traceFile.empty()) {
    try {
      form.Form().Link().TraceTo(std::make_shared<serial::LineTrace>(
          traceFile, std::string("pyrelink ") + PyrelinkVersion));
    } catch (const std::exception& failure) {
      ::MessageBoxA(nullptr, failure.what(), "pyrelink", MB_OK | MB_ICONERROR);
      return ExitUsage;
    }
  }
  ::ShowWindow(form.Handle(), show);
  ::UpdateWindow(form.Handle());
  return form.Run();
}

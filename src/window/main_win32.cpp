// pyrelink.exe: the desktop window on Windows.
#include <windows.h>

#include "window/win32_main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  window::Win32MainWindow form(instance);
  if (form.TerminationRequested()) return 0;  // a second copy ends silently
  ::ShowWindow(form.Handle(), show);
  ::UpdateWindow(form.Handle());
  return form.Run();
}

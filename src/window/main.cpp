// pyrelink: the desktop window.
#include <QApplication>
#include <QStyleFactory>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "pyrelink_version.h"
#include "serial/line_trace.h"
#include "window/qt_interrupt.h"
#include "window/qt_main_window.h"

namespace {

constexpr const char* Help =
    "Pyrelink: read and write the firmware, EEPROM and channel list of a 607X deco over a serial\n"
    "port, in a window.\n"
    "Usage: pyrelink [OPTIONS]\n"
    "\n"
    "Options:\n"
    "  -h,--help   Print this help message and exit\n"
    "  --version   Display program version information and exit\n"
    "  --trace FILE  Record the line in FILE: every byte sent and received with its time, the\n"
    "              port's events and the job's steps (pyrelink-sim --replay answers as it did)\n"
    "\n"
    "The window keeps no settings. Qt's own options (e.g. -platform offscreen) are accepted.\n"
    "The command line: pyrelink-cli; a simulated deco: pyrelink-sim.\n";

// Without a display Qt aborts the program with a core dump; the user is told what to use instead.
bool HasDisplay(int argc, char** argv) {
#ifdef __linux__
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return true;
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "-display") == 0)
      return true;
  }
  return false;
#else
  (void)argc;
  (void)argv;
  return true;
#endif
}

constexpr int ExitNoDisplay = 1;
constexpr int ExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // A file that outgrows the size limit is a write error with its reason, not a killed program.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  // Answered before Qt starts: they need no display, and touch no running copy.
  std::string traceFile;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--trace") == 0) {
      if (i + 1 >= argc) {
        std::cerr << "pyrelink: --trace needs a file name\n";
        return ExitUsage;
      }
      traceFile = argv[++i];
      continue;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "pyrelink " << PyrelinkVersion << "\n";
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << Help;
      return 0;
    }
  }
  if (!HasDisplay(argc, argv)) {
    std::cerr << "pyrelink: the window needs a display, and none is set (DISPLAY, "
                 "WAYLAND_DISPLAY): start it in a desktop session, or use pyrelink-cli, which "
                 "works without one (pyrelink-cli --help)\n";
    return ExitNoDisplay;
  }
  QApplication application(argc, argv);
  // A style that honours the palette, so the bar colours and the lime port list show.
  application.setStyle(QStyleFactory::create("Fusion"));
  window::QtMainWindow form;
  if (form.TerminationRequested()) return 0;  // a second copy ends silently
  window::CloseOnInterrupt(form);
  if (!traceFile.empty()) {
    try {
      form.Form().Link().TraceTo(std::make_shared<serial::LineTrace>(
          traceFile, std::string("pyrelink ") + PyrelinkVersion));
    } catch (const std::exception& failure) {
      std::cerr << "pyrelink: " << failure.what() << "\n";
      return ExitUsage;
    }
  }
  form.show();
  return application.exec();
}

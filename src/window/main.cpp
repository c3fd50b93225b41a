// pyrelink: the desktop window.
#include <QApplication>
#include <QStyleFactory>
#include <csignal>

#include "window/qt_main_window.h"

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // A file that outgrows the size limit is a write error with its reason, not a killed program.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  QApplication application(argc, argv);
  // A style that honours the palette, so the bar colours and the lime port list show.
  application.setStyle(QStyleFactory::create("Fusion"));
  window::QtMainWindow form;
  if (form.TerminationRequested()) return 0;  // a second copy ends silently
  form.show();
  return application.exec();
}

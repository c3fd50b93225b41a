// pyrelink: the desktop window.
#include <QApplication>
#include <QStyleFactory>

#include "window/form1.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // A style that honours the palette, so the bar colours and the lime port list show.
  application.setStyle(QStyleFactory::create("Fusion"));
  window::TForm1 form;
  if (form.TerminationRequested()) return 0;  // a second copy ends silently
  form.show();
  return application.exec();
}

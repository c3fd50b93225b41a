// Ctrl-C in the terminal that started the window: it closes the window as its close button does,
// with the same question while a job runs, instead of killing a WRITE half-way.
#pragma once

#include <QObject>

class QWidget;

namespace window {

// From now on SIGINT asks window to close; another Ctrl-C after a "no" asks again. Only one
// window per process takes it.
void CloseOnInterrupt(QWidget& window);

}  // namespace window

#include "window/qt_interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <stdexcept>

namespace window {

namespace {

// A signal handler may only write to a pipe; the event loop reads it and closes the window.
int interruptPipe[2] = {-1, -1};

void OnInterrupt(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t written = ::write(interruptPipe[1], &byte, 1);
}

}  // namespace

void CloseOnInterrupt(QWidget& window) {
  if (::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error("cannot make the pipe for Ctrl-C");
  auto* notifier = new QSocketNotifier(interruptPipe[0], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char bytes[16];
    while (::read(interruptPipe[0], bytes, sizeof bytes) > 0) {
    }
    window.close();
  });
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace window

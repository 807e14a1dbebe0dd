// SPDX-License-Identifier: MIT
#include "Application.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include "CPort.h"
#include "CPortIODevice.h"

namespace vxterm {

namespace {

void ShowFailure(std::exception_ptr error) {
  QString text;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    text = QString::fromLocal8Bit(e.what());
  } catch (...) {
  }
  // From the event loop, never inside the dispatch that failed.
  QMetaObject::invokeMethod(
      qApp, [text] { QMessageBox::critical(QApplication::activeWindow(), "vxterm", text); }, Qt::QueuedConnection);
}

int gStopWrite = -1;

void OnStopSignal(int) {
  const char c = 0;
  // Async-signal-safe; a full pipe already holds a stop.
  [[maybe_unused]] const ssize_t n = ::write(gStopWrite, &c, 1);
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("vxterm");
  setOrganizationName("Morvaleq");
  setDesktopFileName("org.example.vxterm");
  cport::InitPortErrorTexts();  // after the toolkit has set the locale
  cport::UseQtEventLoop();
  cport::SetApplicationExceptionHandler(ShowFailure);
}

TApplication::~TApplication() {
  cport::SetWakeMainThread(nullptr);
  cport::SetApplicationExceptionHandler(nullptr);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowFailure(std::current_exception());
  }
  return false;
}

void TApplication::CloseOnStopSignals(QWidget* window) {
  int fds[2];
  if (gStopWrite >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return;
  gStopWrite = fds[1];
  auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
  QPointer<QWidget> target(window);
  connect(notifier, &QSocketNotifier::activated, this, [notifier, target] {
    notifier->setEnabled(false);
    if (target) target->close();
    quit();
  });
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
}

}  // namespace vxterm

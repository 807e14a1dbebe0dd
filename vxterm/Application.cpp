// SPDX-License-Identifier: MIT
#include "Application.h"

#include <QMessageBox>
#include <QMetaObject>

#include "CPort.h"

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

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("vxterm");
  setOrganizationName("Morvaleq");
  setDesktopFileName("org.example.vxterm");
  cport::InitPortErrorTexts();  // after the toolkit has set the locale
  cport::SetWakeMainThread([] {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, [] { cport::CheckSynchronize(); }, Qt::QueuedConnection);
  });
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

}  // namespace vxterm

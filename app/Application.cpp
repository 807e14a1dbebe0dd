// SPDX-License-Identifier: MIT
#include "Application.h"

#include <QFont>
#include <QFontDatabase>
#include <QMessageBox>
#include <QMetaObject>
#include <QStyleFactory>
#include <QThread>

#include <cstdio>
#include <mutex>

#include "CPort.h"
#include "CPortIODevice.h"

namespace vxpanel {

namespace {

std::mutex gReporterMutex;
TErrorReporter gReporter;

void ShowErrorBox(const QString& text) {
  QMessageBox::critical(QApplication::activeWindow(), QCoreApplication::applicationName(), text);
}

// Reports on the GUI thread; from any other thread the report is posted.
void ReportLater(const QString& text) {
  if (!qApp) return;
  QMetaObject::invokeMethod(qApp, [text] { ReportError(text); }, Qt::QueuedConnection);
}

}  // namespace

void SetErrorReporter(TErrorReporter reporter) {
  std::lock_guard<std::mutex> lock(gReporterMutex);
  gReporter = std::move(reporter);
}

void ReportError(const QString& text) {
  if (!qApp) {  // no toolkit to show it with
    std::fprintf(stderr, "%s\n", qPrintable(text));
    return;
  }
  if (QThread::currentThread() != qApp->thread()) {
    ReportLater(text);
    return;
  }
  TErrorReporter reporter;
  {
    std::lock_guard<std::mutex> lock(gReporterMutex);
    reporter = gReporter;
  }
  if (reporter)
    reporter(text);
  else
    ShowErrorBox(text);
}

void ReportException(std::exception_ptr error) { ReportLater(ErrorText(error)); }

QString ErrorText(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
  } catch (...) {
  }
  return {};
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setStyle(QStyleFactory::create("Fusion"));
  // The layout is drawn for "MS Sans Serif" 8 pt, 11 pixels high: the
  // desktop's sans font stands in for it at that size.
  QFont::insertSubstitution("MS Sans Serif", QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
  QFont font("MS Sans Serif");
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  setFont(font);
  cport::InitPortErrorTexts();  // after the toolkit has set the locale
  cport::UseQtEventLoop();
  cport::SetApplicationExceptionHandler([](std::exception_ptr error) { ReportError(ErrorText(error)); });
}

TApplication::~TApplication() {
  cport::SetWakeMainThread(nullptr);
  cport::SetApplicationExceptionHandler(nullptr);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ReportException(std::current_exception());
  }
  return false;
}

}  // namespace vxpanel

// SPDX-License-Identifier: MIT
// The application object of the panel: Fusion style, the window font, the
// serial component's hooks into the event loop, and the one place where
// failures that no caller catches are shown to the operator.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

namespace vxpanel {

// Shows one failure's text.  The default is the toolkit's standard error box
// captioned with the program's file name; tests install their own.
using TErrorReporter = std::function<void(const QString& text)>;
void SetErrorReporter(TErrorReporter reporter);  // nullptr: the default again
void ReportError(const QString& text);
// The message of an exception (empty for one that carries none).
QString ErrorText(std::exception_ptr error);
// Reports a failure from the event loop, after the dispatch that met it has
// ended: the box never opens inside a handler, and ticks go on meanwhile.
void ReportException(std::exception_ptr error);

class TApplication : public QApplication {
 public:
  // Sets the style and the font before any widget exists, and installs the
  // serial component's main-thread hook and exception handler; the
  // destructor removes both before the toolkit goes.
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  // An exception that escapes an event handler is shown, and the program
  // goes on.  The box opens from the event loop, not inside the failed
  // dispatch, so the timer keeps ticking while it shows.
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace vxpanel

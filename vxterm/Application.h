// SPDX-License-Identifier: MIT
// vxterm's application object: its names, the serial component's hooks into
// the event loop, and the one place where failures nobody caught are shown.
#pragma once

#include <QApplication>

namespace vxterm {

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  // A failure that escapes an event handler is shown in a box, and the
  // program goes on.
  bool notify(QObject* receiver, QEvent* event) override;

  // SIGINT, SIGTERM and SIGHUP close the window as the person would (its
  // settings kept, the log closed with its note) and end the program.
  void CloseOnStopSignals(QWidget* window);
};

}  // namespace vxterm

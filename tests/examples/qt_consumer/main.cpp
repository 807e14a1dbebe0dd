// SPDX-License-Identifier: MIT
// Built, not run: the Qt part's headers and library as installed.
#include <QApplication>

#include "CPortIODevice.h"
#include "CPortSetup.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  cport::UseQtEventLoop();
  cport::TComPort port;
  cport::EditComPort(port);
  cport::TComIODevice device(&port);
  return device.open(QIODevice::ReadWrite) ? 0 : 1;
}

// SPDX-License-Identifier: MIT
// Built, not run: the dialog's headers and library as installed.
#include <QApplication>

#include "CPortSetup.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  cport::TComPort port;
  cport::EditComPort(port);
  return 0;
}

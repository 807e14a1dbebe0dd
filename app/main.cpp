// SPDX-License-Identifier: MIT
// vxpanel: the VX generator control panel.  Takes no arguments of its own.
#include <cstdio>

#include "Application.h"
#include "Main.h"

int main(int argc, char** argv) {
  vxpanel::TApplication app(argc, argv);
  try {
    vxpanel::TMainForm MainForm;
    MainForm.show();
    vxpanel::TApplication::exec();
  } catch (...) {
    // Start-up itself failed: say why; the program ends all the same.
    vxpanel::ReportError(vxpanel::ErrorText(std::current_exception()));
  }
  return 0;
}

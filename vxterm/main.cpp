// SPDX-License-Identifier: MIT
// vxterm: a serial terminal.  The command line is settled before any window
// exists, so a bad one opens nothing (exit code 2).
#include <QSettings>

#include <clocale>
#include <cstdio>

#include "Application.h"
#include "Settings.h"
#include "Start.h"
#include "Window.h"

int main(int argc, char** argv) {
  using namespace vxterm;
  std::setlocale(LC_ALL, "");
  const TStart start = Begin(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr,
                             cport::DefaultComDriver());
  if (!start.Proceed) return start.ExitCode;

  TApplication app(argc, argv);
  QSettings store(DefaultSettingsPath(), QSettings::IniFormat);
  QStringList warnings;
  TSettings settings = LoadSettings(store, warnings);
  ApplyOptions(settings, start.Options);
  TTermWindow window(settings, &store);
  for (const QString& w : warnings) window.ShowMessage(w);
  const TOptions& o = start.Options;
  if (o.Log) window.SetLog(QString::fromStdString(*o.Log), false);
  if (o.Capture) window.SetLog(QString::fromStdString(*o.Capture), true);
  app.CloseOnStopSignals(&window);
  if (!qEnvironmentVariableIsSet("VXTERM_HIDDEN")) window.show();
  window.Start();
  return TApplication::exec();
}

// SPDX-License-Identifier: MIT
// Shared by the panel's tests: one application object for the whole test
// program (offscreen unless told otherwise), a private settings folder per
// test, the error reports caught instead of shown, and waiting for a
// condition while the event loop and the serial component's calls run.
#pragma once

#include <QEvent>
#include <QObject>
#include <QString>
#include <QWidget>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <string>

namespace vxpanel::test {

// Points the per-user settings at a fresh temporary folder for one test and
// catches error reports; both are undone on destruction.
class TPrivateSettings {
 public:
  TPrivateSettings();
  ~TPrivateSettings();
  // The file that holds the key "\Software\Morvaleq\KV\ComPort".
  QString File() const;
  // Writes the file as given: "[ComPort]" and the lines.
  void Write(const QStringList& lines) const;
  // The values of [ComPort] as the file holds them.
  std::map<std::string, std::string> Values() const;
  // Makes the settings folder unusable: its place is taken by a regular file.
  void Block();
  const QStringList& Reports() const { return FReports; }

 private:
  QTemporaryDir FDir;
  QString FRoot;
  QStringList FReports;
};

// Counts the close events a window receives.
class TCloseWatch : public QObject {
 public:
  explicit TCloseWatch(QWidget* w) { w->installEventFilter(this); }
  int Closes = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Close) ++Closes;
    return false;
  }
};

// Waits until pred holds, running posted events and queued serial calls
// meanwhile; false when timeoutMs passed first.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000);

}  // namespace vxpanel::test

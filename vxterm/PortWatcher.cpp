// SPDX-License-Identifier: MIT
#include "PortWatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSet>

namespace vxterm {

namespace {

// The folder holding path, or the nearest existing one above it.
QString NearestFolder(const QString& path) {
  QString dir = QFileInfo(path).absolutePath();
  while (!QFileInfo(dir).isDir()) {
    const QString up = QFileInfo(dir).absolutePath();
    if (up == dir) break;
    dir = up;
  }
  return dir;
}

}  // namespace

QString DevicePath(const std::string& port) {
  const QString name = QString::fromStdString(port);
  if (name.startsWith('/')) return name;
  if (name.startsWith("COM")) {
    bool ok = false;
    const int n = name.mid(3).toInt(&ok);
    if (ok && n >= 1) return QString("/dev/ttyS%1").arg(n - 1);
  }
  return "/dev/" + name;
}

TPortWatcher::TPortWatcher(QObject* parent) : QObject(parent), FWatcher(new QFileSystemWatcher(this)) {
  FSettle.setSingleShot(true);
  FSettle.setInterval(20);
  FFallback.setInterval(1000);
  connect(FWatcher, &QFileSystemWatcher::directoryChanged, this, &TPortWatcher::Changed);
  connect(&FSettle, &QTimer::timeout, this, &TPortWatcher::Look);
  connect(&FFallback, &QTimer::timeout, this, &TPortWatcher::Look);
}

TPortWatcher::~TPortWatcher() = default;

void TPortWatcher::Watch(const QStringList& paths) {
  FPaths = paths;
  FPaths.removeAll(QString());
  FPaths.removeDuplicates();
  if (FPaths.isEmpty()) {
    Stop();
    return;
  }
  Arm();
  FFallback.start();
  FSettle.start(0);
}

void TPortWatcher::Stop() {
  FPaths.clear();
  FSettle.stop();
  FFallback.stop();
  const QStringList dirs = FWatcher->directories();
  if (!dirs.isEmpty()) FWatcher->removePaths(dirs);
}

QStringList TPortWatcher::WatchedFolders() const { return FWatcher->directories(); }

void TPortWatcher::Changed() {
  // A burst (udev makes the node, sets its mode, adds links) is one look,
  // and a busy folder cannot put the look off for ever.
  if (!FSettle.isActive()) FSettle.start(20);
}

void TPortWatcher::Arm() {
  QSet<QString> want;
  for (const QString& p : FPaths) want.insert(NearestFolder(p));
  const QStringList have = FWatcher->directories();
  for (const QString& d : have)
    if (!want.contains(d)) FWatcher->removePath(d);
  for (const QString& d : want)
    if (!have.contains(d)) FWatcher->addPath(d);
}

void TPortWatcher::Look() {
  if (FPaths.isEmpty()) return;
  // A folder that came back (or went) moves the watch.
  Arm();
  for (const QString& p : FPaths)
    if (QFileInfo::exists(p)) {
      emit Present(p);
      return;
    }
}

}  // namespace vxterm

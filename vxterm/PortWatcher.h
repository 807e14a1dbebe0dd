// SPDX-License-Identifier: MIT
// Waits for a port that went away to come back, under its name or under its
// stable path (/dev/serial/by-id/...), without polling: the folders those
// paths lie in are watched through the system's file notifications (inotify
// on Linux), and where a folder is gone itself (by-id goes with the last
// adapter) the nearest one above it is, until it is back.  A slow timer
// looks as well, should a notification be missed.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <string>

class QFileSystemWatcher;

namespace vxterm {

// The device path the driver opens for a port name: "COM<n>" is
// /dev/ttyS<n-1>, a name starting with "/" is a path, any other name lies
// under /dev.
QString DevicePath(const std::string& port);

class TPortWatcher : public QObject {
  Q_OBJECT
 public:
  explicit TPortWatcher(QObject* parent = nullptr);
  ~TPortWatcher() override;

  // Starts waiting for the paths (device paths, the preferred first); looks
  // at once too.
  void Watch(const QStringList& paths);
  void Stop();
  bool Active() const { return !FPaths.isEmpty(); }
  const QStringList& Paths() const { return FPaths; }
  QStringList WatchedFolders() const;
  void SetFallbackInterval(int ms) { FFallback.setInterval(ms); }

 signals:
  // One of the paths exists (the first present, by preference).  The owner
  // tries it and stops the watcher when that worked; otherwise the next
  // change or the fallback timer brings the next try.
  void Present(const QString& path);

 private:
  void Changed();
  void Look();
  void Arm();

  QFileSystemWatcher* FWatcher;
  QTimer FSettle;    // folds a burst of notifications into one look
  QTimer FFallback;  // looks now and then, should a notification be missed
  QStringList FPaths;
};

}  // namespace vxterm

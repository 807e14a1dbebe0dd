// SPDX-License-Identifier: MIT
// The log: what arrives, appended to a file.  Text (what the formatter
// makes of it, with the program's notes) or a capture (the bytes exactly as
// they came, nothing else).  Every write goes to the operating system before
// it returns, so a crash of the program loses nothing that was written; the
// file is closed while the port is, and opened again for appending.
#pragma once

#include <QFile>
#include <QString>

#include <string_view>

namespace vxterm {

class TLogFile {
 public:
  enum class EMode { Text, Capture };

  TLogFile() = default;
  ~TLogFile() { Close(); }
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // What the log is to be; the file is opened by Open.  An empty path
  // stops logging.
  void SetTarget(const QString& path, EMode mode);
  const QString& Path() const { return FPath; }
  EMode Mode() const { return FMode; }
  bool Wanted() const { return !FPath.isEmpty(); }

  // Opens the target for appending; false with the reason in error.
  bool Open(QString& error);
  // Syncs the file to its storage and closes it.
  void Close();
  bool IsOpen() const { return FFile.isOpen(); }

  // Appends to an open log; false (and the log closed) when the file
  // refuses, with the reason in error.
  bool Write(std::string_view bytes, QString& error);
  // A note of the program's own ("-- connected ... --"): text logs only.
  bool Note(std::string_view line, QString& error);

 private:
  QString FPath;
  EMode FMode = EMode::Text;
  QFile FFile;
};

}  // namespace vxterm

// SPDX-License-Identifier: MIT
#include "LogFile.h"

#include <unistd.h>

#include "Texts.h"

namespace vxterm {

void TLogFile::SetTarget(const QString& path, EMode mode) {
  if (path == FPath && mode == FMode) return;
  Close();
  FPath = path;
  FMode = mode;
}

bool TLogFile::Open(QString& error) {
  if (FFile.isOpen() || FPath.isEmpty()) return true;
  FFile.setFileName(FPath);
  // Unbuffered: each write is one call of the operating system.
  if (!FFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
    error = QTr("Cannot open the log %1: %2").arg(FPath, FFile.errorString());
    return false;
  }
  return true;
}

void TLogFile::Close() {
  if (!FFile.isOpen()) return;
  FFile.flush();
  // Closing is the moment a pulled plug or a power cut may follow.
  if (FFile.handle() >= 0) ::fdatasync(FFile.handle());
  FFile.close();
}

bool TLogFile::Write(std::string_view bytes, QString& error) {
  if (!FFile.isOpen() || bytes.empty()) return true;
  const qint64 n = FFile.write(bytes.data(), static_cast<qint64>(bytes.size()));
  if (n == static_cast<qint64>(bytes.size())) return true;
  error = QTr("Cannot write the log %1: %2").arg(FPath, FFile.errorString());
  FFile.close();
  return false;
}

bool TLogFile::Note(std::string_view line, QString& error) {
  if (FMode != EMode::Text) return true;
  std::string text(line);
  text += '\n';
  return Write(text, error);
}

}  // namespace vxterm

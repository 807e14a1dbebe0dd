// SPDX-License-Identifier: MIT
// Everything vxterm sends goes out through the port's overlapped writes, so
// a line that is slow or held (flow control, a low rate) never blocks the
// window: typed bytes start at once, a file goes in chunks of about a tenth
// of a second of the line, at most two under way, each limited by the
// port's write time-outs.  Completion is looked at every few milliseconds
// while something is under way, never otherwise.  GUI thread only.
#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <string>

#include "CPort.h"

namespace vxterm {

class TTransmitter : public QObject {
  Q_OBJECT
 public:
  explicit TTransmitter(cport::TCustomComPort& port, QObject* parent = nullptr);
  // Ends what is still under way (aborted) before its memory goes.
  ~TTransmitter() override;

  // Bytes typed or a line of input, behind what is going out already.
  void Send(const std::string& bytes);
  // A file's bytes; false with the reason when it cannot be read or a file
  // is being sent already.
  bool SendFile(const QString& path, QString& error);
  // Stops the file: what is under way is aborted.
  void CancelFile();
  bool SendingFile() const { return FFile.isOpen(); }
  bool Busy() const { return !FPending.empty(); }
  int64_t FileDone() const { return FFileDone; }
  int64_t FileTotal() const { return FFileTotal; }
  // The port is closing or has gone: everything under way ends without a
  // word but the file's end.
  void Abandon(const QString& why);
  // Bytes per chunk of a file at the port's rate.
  int32_t ChunkSize() const;

 signals:
  void Sent(qint64 bytes);  // bytes the line took
  void FileProgress(qint64 done, qint64 total);
  void FileFinished(bool completed, const QString& message);
  // A write failed; systemError tells whether the device is gone.
  void WriteFailed(const QString& text, int systemError);
  // The line took fewer bytes than asked within the write time-outs.
  void TimedOut(const QString& text);

 private:
  struct TWrite {
    cport::PAsync Async = nullptr;
    std::string Bytes;  // must outlive the transfer
    bool File = false;
    bool Aborted = false;  // by us: its failure says nothing new
  };
  bool Start(std::string bytes, bool file);
  void Poll();
  void FillFile();
  void StopFile(const QString& why);
  void FinishOrFill();
  void EndFile(bool completed, const QString& message);
  void AbortAll();

  cport::TCustomComPort& FPort;
  std::deque<TWrite> FPending;  // in the order started, which is the order they end
  QTimer FPoll;
  QFile FFile;
  int64_t FFileTotal = 0;
  int64_t FFileDone = 0;
  int FFileInFlight = 0;
  QString FStopWhy;  // the file is being stopped, for this reason
};

}  // namespace vxterm

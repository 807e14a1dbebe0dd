// SPDX-License-Identifier: MIT
// One terminal session on a port: connecting, reading what arrives into
// the view and the log, sending, the control lines, and coming back by
// itself when the device goes away and returns.  The window shows what it
// reports; everything here works without a window.  GUI thread only; the
// port's notifications must reach this thread (smThreadSync with the main
// loop running CheckSynchronize).
//
// States: Disconnected (by the person, or after a failure that waiting
// cannot cure, such as a rate the device refuses); Connected; Waiting (for
// the port to appear, or to come back after it went away: its name and its
// stable /dev/serial/by-id path are watched, and it is opened again as soon
// as one of them is there).  A device that goes away is no failure: the
// session says so, ends the open line in the view and the log, closes the
// log and the port, and waits.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <string>
#include <vector>

#include "CPort.h"
#include "LogFile.h"
#include "PortWatcher.h"
#include "Received.h"
#include "Settings.h"
#include "StatusText.h"
#include "Transmitter.h"

namespace vxterm {

class TSession : public QObject {
  Q_OBJECT
 public:
  explicit TSession(cport::TCustomComPort& port, QObject* parent = nullptr);
  ~TSession() override;

  cport::TCustomComPort& Port() const { return FPort; }
  EState State() const { return FState; }
  // The path opened, or the one waited for.
  QString Target() const;

  // The line settings: the port's while connected; a different port
  // reconnects.
  const TLineSettings& Line() const { return FLine; }
  void SetLine(const TLineSettings& line);

  void Connect();
  void Disconnect();

  // -- what arrives ----------------------------------------------------------
  const TRxFormatter& Formatter() const { return FFormatter; }
  void SetTimestamps(bool on);
  void SetHex(bool on);
  void SetHexPause(int ms);
  void SetHexTextInView(bool on);
  // The log's file and kind; an empty path ends logging.  The file is open
  // while the port is.
  void SetLog(const QString& path, TLogFile::EMode mode);
  const TLogFile& Log() const { return FLog; }
  int64_t ReceivedCount() const { return FReceived; }
  int64_t SentCount() const { return FSent; }
  void ResetCounts();

  // -- what goes out ---------------------------------------------------------
  void Send(const std::string& bytes);
  bool SendFile(const QString& path, QString& error);
  void CancelFile();
  const TTransmitter& Transmitter() const { return FTransmitter; }
  bool DTR() const { return FDTR; }
  bool RTS() const { return FRTS; }
  // The toggles act on the line while flow control leaves it to them.
  bool DTRFree() const;
  bool RTSFree() const;
  void SetDTR(bool on);
  void SetRTS(bool on);
  // Holds the line in the break state for ms.
  void SendBreak(int ms = 250);

  // Bytes the port delivered by other means (a link); they go where read
  // bytes go.
  void Receive(const void* data, int32_t count);

 signals:
  void StateChanged(vxterm::EState state);
  // What the view shows, in order: the device's bytes for the emulation,
  void ViewBytes(const QByteArray& bytes);
  // and text of vxterm's own, shown as it is ("\n" starts a line).
  void ViewText(const QString& text);
  // A note for the person (the view shows it on a line of its own).
  void Message(const QString& text);
  void CountsChanged();
  void FileProgress(qint64 done, qint64 total);
  void FileFinished(bool completed, const QString& message);

 private:
  enum class EOpen { Opened, NotYet, Failed };
  EOpen Open(const QString& path);
  void Opened();
  void Arrived(int32_t waiting);
  void ReadAll();
  void Deliver(const char* data, size_t count);
  void Output(const TRxText& out);
  void Lost(const QString& why);
  void CloseConnection(const QString& note);
  void Tell(const QString& text);
  void WriteLog(std::string_view bytes);
  void ScheduleIdle();
  void Idle();
  void Present(const QString& path);
  void LinesIntoSettings();
  void SetState(EState state);
  QStringList WatchPaths() const;
  static bool DeviceGone(int systemError);

  cport::TCustomComPort& FPort;
  TLineSettings FLine;
  EState FState = EState::Disconnected;
  QString FStable;       // the port's /dev/serial/by-id path, when it has one
  QString FLastTrouble;  // the last reason an open failed while waiting
  TRxFormatter FFormatter;
  TLogFile FLog;
  TTransmitter FTransmitter;
  TPortWatcher FWatcher;
  QTimer FIdle;
  QTimer FBreak;
  QTimer FReadLater;       // a read put off while bytes keep coming
  QElapsedTimer FSinceRead;
  std::vector<char> FBuffer;
  int64_t FReceived = 0;
  int64_t FSent = 0;
  bool FDTR = true;
  bool FRTS = true;
  bool FLosing = false;
};

}  // namespace vxterm

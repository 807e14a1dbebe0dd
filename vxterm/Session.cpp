// SPDX-License-Identifier: MIT
#include "Session.h"

#include <QFileInfo>

#include <cerrno>

#include "Texts.h"

namespace vxterm {

namespace {

constexpr size_t kReadSize = 64 * 1024;
// While bytes trickle in they are read at most this often: a steady stream
// costs a read, a log write and a view update per gap instead of per
// arrival, and wakes no other thread, as the port's reports stay paused
// until a read finds the line quiet.  The first bytes after a quiet spell
// are read at once, and so is a pile of this many, again as soon as one
// was read: the system's queue must never fill while we wait.
constexpr int kReadGapMs = 20;
constexpr int32_t kReadAtOnce = 512;

// Open failures that the device coming (back) may cure: it is not there
// yet, not ready, not ours yet (udev sets the mode after the node), or held
// by another program for a while.
bool Transient(int err) {
  switch (err) {
    case ENOENT: case ENXIO: case ENODEV: case EIO: case EACCES: case EPERM: case EBUSY: case EAGAIN:
      return true;
    default:
      return false;
  }
}

QString Canonical(const QString& path) {
  const QString c = QFileInfo(path).canonicalFilePath();
  return c.isEmpty() ? path : c;
}

}  // namespace

TSession::TSession(cport::TCustomComPort& port, QObject* parent)
    : QObject(parent), FPort(port), FTransmitter(port), FBuffer(kReadSize) {
  FIdle.setSingleShot(true);
  FBreak.setSingleShot(true);
  FReadLater.setSingleShot(true);
  connect(&FReadLater, &QTimer::timeout, this, &TSession::ReadAll);
  connect(&FIdle, &QTimer::timeout, this, &TSession::Idle);
  connect(&FBreak, &QTimer::timeout, this, [this] {
    try {
      if (FPort.Connected()) FPort.SetBreak(false);
    } catch (const cport::EComPort& e) {
      Tell(QString::fromLocal8Bit(e.what()));
    }
  });
  connect(&FWatcher, &TPortWatcher::Present, this, &TSession::Present);
  connect(&FTransmitter, &TTransmitter::Sent, this, [this](qint64 n) {
    FSent += n;
    emit CountsChanged();
  });
  connect(&FTransmitter, &TTransmitter::WriteFailed, this, [this](const QString& text, int err) {
    if (DeviceGone(err))
      Lost(text);
    else
      Tell(text);
  });
  connect(&FTransmitter, &TTransmitter::TimedOut, this, &TSession::Tell);
  connect(&FTransmitter, &TTransmitter::FileProgress, this, &TSession::FileProgress);
  connect(&FTransmitter, &TTransmitter::FileFinished, this, [this](bool completed, const QString& message) {
    Tell(message);
    emit FileFinished(completed, message);
  });
  // No event character and no fill level: watching them costs the driver
  // work on every arrival, for nothing vxterm shows.
  FPort.SetEvents({cport::evRxChar, cport::evTxEmpty, cport::evRing, cport::evBreak, cport::evCTS, cport::evDSR,
                   cport::evError, cport::evRLSD});
  FPort.OnRxChar = [this](cport::TCustomComPort*, int32_t count) { Arrived(count); };
  FPort.OnError = [this](cport::TCustomComPort*, cport::TComErrors errors) {
    if (errors.Contains(cport::ceIO)) Lost(QTr("the line hung up"));
  };
  FLine = LineSettingsOf(FPort);
}

TSession::~TSession() {
  FPort.OnRxChar = nullptr;
  FPort.OnError = nullptr;
  FWatcher.Stop();
  blockSignals(true);
  FTransmitter.Abandon(QString());
  if (FState == EState::Connected) CloseConnection(QTr("vxterm ended"));
}

QString TSession::Target() const {
  if (FState == EState::Connected) return QString::fromStdString(FPort.Port());
  return QString::fromStdString(FLine.Port);
}

bool TSession::DeviceGone(int systemError) {
  return systemError == EIO || systemError == ENXIO || systemError == ENODEV || systemError == EPIPE;
}

// ---------------------------------------------------------------------------
// Connecting

void TSession::SetLine(const TLineSettings& line) {
  const bool samePort = line.Port == FLine.Port;
  FLine = line;
  if (FState == EState::Connected && samePort) {
    TLineSettings open = line;
    open.Port = FPort.Port();  // maybe its stable path
    FPort.BeginUpdate();
    try {
      ApplyLineSettings(FPort, open);
      LinesIntoSettings();
    } catch (const cport::EComPort& e) {
      Tell(QString::fromLocal8Bit(e.what()));
    }
    try {
      FPort.EndUpdate();
    } catch (const cport::EComPort& e) {
      Tell(QString::fromLocal8Bit(e.what()));
    }
    Tell(QTr("Line settings: %1").arg(LineText(FLine)));
  } else if (FState != EState::Disconnected) {
    Disconnect();
    Connect();
  }
}

void TSession::Connect() {
  if (FState == EState::Connected) return;
  FWatcher.Stop();
  if (FLine.Port.empty()) {
    Tell(QTr("No port chosen: choose one with Port..."));
    SetState(EState::Disconnected);
    return;
  }
  const QString name = QString::fromStdString(FLine.Port);
  FLastTrouble.clear();
  switch (Open(name)) {
    case EOpen::Opened:
      return;
    case EOpen::NotYet:
      SetState(EState::Waiting);
      Tell(QTr("Waiting for %1 (%2)").arg(name, FLastTrouble));
      FWatcher.Watch(WatchPaths());
      return;
    case EOpen::Failed:
      SetState(EState::Disconnected);
      Tell(QTr("Cannot open %1: %2").arg(name, FLastTrouble));
      return;
  }
}

TSession::EOpen TSession::Open(const QString& path) {
  TLineSettings line = FLine;
  line.Port = path.toStdString();
  try {
    ApplyLineSettings(FPort, line);
    LinesIntoSettings();
    FPort.Open();
  } catch (const cport::EComPort& e) {
    FLastTrouble = QString::fromLocal8Bit(e.what());
    return Transient(e.SystemErrorCode()) ? EOpen::NotYet : EOpen::Failed;
  }
  Opened();
  return EOpen::Opened;
}

void TSession::Opened() {
  // Its stable name, for finding it again should it go away.
  std::vector<cport::TComPortInfo> ports;
  try {
    cport::EnumComPortInfo(ports);
  } catch (const cport::EComPort&) {
  }
  const QString device = Canonical(DevicePath(FPort.Port()));
  for (const auto& p : ports)
    if (!p.StablePath.empty() && Canonical(DevicePath(p.Name)) == device)
      FStable = QString::fromStdString(p.StablePath);
  SetState(EState::Connected);
  QString error;
  if (FLog.Wanted() && !FLog.Open(error)) Tell(error);
  TLineSettings opened = FLine;
  opened.Port = FPort.Port();
  Tell(QTr("Connected to %1").arg(LineText(opened)));
  // Bytes that came before the event thread watched.
  ReadAll();
}

void TSession::Disconnect() {
  FWatcher.Stop();
  if (FState == EState::Connected) CloseConnection(QTr("Disconnected"));
  if (FState == EState::Disconnected) return;
  SetState(EState::Disconnected);
  Tell(QTr("Disconnected"));
}

void TSession::CloseConnection(const QString& note) {
  FBreak.stop();
  TRxText out;
  FFormatter.Finish(out);
  Output(out);
  FTransmitter.Abandon(note);
  try {
    FPort.Close();
  } catch (const cport::EComPort&) {
    // A device that is gone may refuse the purge; it is released all the same.
  }
  if (FLog.IsOpen()) {
    QString error;
    FLog.Note("-- " + Stamp(std::chrono::system_clock::now()) + " " + note.toStdString() + " --", error);
    FLog.Close();
  }
}

void TSession::Lost(const QString& why) {
  if (FState != EState::Connected || FLosing) return;
  FLosing = true;
  // What the driver still holds was received before the loss.
  try {
    for (int32_t n; (n = FPort.Read(FBuffer.data(), static_cast<int32_t>(FBuffer.size()))) > 0;)
      Deliver(FBuffer.data(), static_cast<size_t>(n));
  } catch (const cport::EComPort&) {
  }
  const QString port = QString::fromStdString(FPort.Port());
  CloseConnection(QTr("%1 went away: %2").arg(port, why));
  SetState(EState::Waiting);
  Tell(QTr("%1 went away (%2); waiting for it to come back").arg(port, why));
  FLastTrouble.clear();
  FWatcher.Watch(WatchPaths());
  FLosing = false;
}

QStringList TSession::WatchPaths() const {
  // Its stable path first: that is this very device, whatever name it gets.
  QStringList paths;
  if (!FStable.isEmpty()) paths << FStable;
  paths << DevicePath(FLine.Port);
  return paths;
}

void TSession::Present(const QString& path) {
  if (FState != EState::Waiting) return;
  QString open = path;
  // By its own name when the stable path leads there.
  if (path == FStable && Canonical(FStable) == Canonical(DevicePath(FLine.Port)))
    open = QString::fromStdString(FLine.Port);
  const QString before = FLastTrouble;
  switch (Open(open)) {
    case EOpen::Opened:
      FWatcher.Stop();
      return;
    case EOpen::NotYet:
      // Said once per reason, not at every try.
      if (FLastTrouble != before) Tell(QTr("%1 is there but cannot be opened yet: %2").arg(open, FLastTrouble));
      return;
    case EOpen::Failed:
      FWatcher.Stop();
      SetState(EState::Disconnected);
      Tell(QTr("Cannot open %1: %2").arg(open, FLastTrouble));
      return;
  }
}

void TSession::SetState(EState state) {
  if (state == FState) return;
  FState = state;
  emit StateChanged(state);
}

// ---------------------------------------------------------------------------
// Receiving

void TSession::Arrived(int32_t waiting) {
  try {
    FPort.PauseRxChar();
  } catch (const cport::EComPort&) {
    // Not paused: each arrival is reported, which costs only time.
  }
  const qint64 since = FSinceRead.isValid() ? FSinceRead.elapsed() : kReadGapMs;
  if (since >= kReadGapMs || waiting >= kReadAtOnce)
    ReadAll();
  else if (!FReadLater.isActive())
    FReadLater.start(static_cast<int>(kReadGapMs - since));
}

void TSession::ReadAll() {
  FReadLater.stop();
  FSinceRead.start();
  if (FState != EState::Connected) return;
  size_t got = 0;
  for (;;) {
    int32_t n = 0;
    try {
      n = FPort.Read(FBuffer.data(), static_cast<int32_t>(FBuffer.size()));
    } catch (const cport::EComPort& e) {
      if (DeviceGone(e.SystemErrorCode()))
        Lost(QString::fromLocal8Bit(e.what()));
      else
        Tell(QString::fromLocal8Bit(e.what()));
      return;
    }
    if (n > 0) {
      got += static_cast<size_t>(n);
      Deliver(FBuffer.data(), static_cast<size_t>(n));
    }
    if (n <= 0 || static_cast<size_t>(n) < FBuffer.size()) break;
  }
  if (got == 0) {
    // Quiet: bytes that come from now on (or came since the read) are
    // reported again.
    try {
      FPort.ResumeRxChar();
    } catch (const cport::EComPort&) {
      FReadLater.start(kReadGapMs);  // still paused: go on reading on schedule
    }
  } else if (FState == EState::Connected) {
    FReadLater.start(got >= static_cast<size_t>(kReadAtOnce) ? 0 : kReadGapMs);
  }
}

void TSession::Receive(const void* data, int32_t count) {
  if (count > 0) Deliver(static_cast<const char*>(data), static_cast<size_t>(count));
}

void TSession::Deliver(const char* data, size_t count) {
  FReceived += static_cast<int64_t>(count);
  if (FLog.Mode() == TLogFile::EMode::Capture) WriteLog({data, count});
  TRxText out;
  FFormatter.Feed({data, count}, TArrival::Now(), out);
  Output(out);
  ScheduleIdle();
  emit CountsChanged();
}

void TSession::Output(const TRxText& out) {
  for (const TViewPart& part : out.View) {
    if (part.Own)
      emit ViewText(QString::fromUtf8(part.Text));
    else
      emit ViewBytes(QByteArray(part.Text.data(), static_cast<qsizetype>(part.Text.size())));
  }
  if (FLog.Mode() == TLogFile::EMode::Text) WriteLog(out.Log);
}

void TSession::WriteLog(std::string_view bytes) {
  QString error;
  if (!FLog.Write(bytes, error)) Tell(error);
}

void TSession::ScheduleIdle() {
  const auto due = FFormatter.IdleDue();
  if (!due) {
    FIdle.stop();
    return;
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
  FIdle.start(static_cast<int>(std::max<int64_t>(left.count(), 0)));
}

void TSession::Idle() {
  TRxText out;
  FFormatter.Idle(std::chrono::steady_clock::now(), out);
  Output(out);
  ScheduleIdle();
}

void TSession::SetTimestamps(bool on) {
  TRxText out;
  FFormatter.SetTimestamps(on, out);
  Output(out);
}

void TSession::SetHex(bool on) {
  TRxText out;
  FFormatter.SetHex(on, out);
  Output(out);
  ScheduleIdle();
}

void TSession::SetHexPause(int ms) { FFormatter.SetHexPause(std::chrono::milliseconds(ms)); }
void TSession::SetHexTextInView(bool on) { FFormatter.SetHexTextInView(on); }

void TSession::SetLog(const QString& path, TLogFile::EMode mode) {
  if (path == FLog.Path() && mode == FLog.Mode()) return;
  FLog.SetTarget(path, mode);
  if (FState != EState::Connected || path.isEmpty()) return;
  QString error;
  if (!FLog.Open(error)) Tell(error);
}

void TSession::ResetCounts() {
  FReceived = FSent = 0;
  emit CountsChanged();
}

void TSession::Tell(const QString& text) {
  TRxText out;
  FFormatter.Finish(out);
  Output(out);
  if (FLog.IsOpen()) {
    QString error;
    FLog.Note("-- " + Stamp(std::chrono::system_clock::now()) + " " + text.toStdString() + " --", error);
  }
  emit Message(text);
}

// ---------------------------------------------------------------------------
// Sending and the control lines

void TSession::Send(const std::string& bytes) {
  if (FState != EState::Connected || bytes.empty()) return;
  FTransmitter.Send(bytes);
}

bool TSession::SendFile(const QString& path, QString& error) {
  if (FState != EState::Connected) {
    error = QTr("Not connected");
    return false;
  }
  return FTransmitter.SendFile(path, error);
}

void TSession::CancelFile() { FTransmitter.CancelFile(); }

bool TSession::DTRFree() const { return FPort.FlowControl().ControlDTR() != cport::dtrHandshake; }

bool TSession::RTSFree() const {
  const cport::TRTSFlowControl c = FPort.FlowControl().ControlRTS();
  return c == cport::rtsDisable || c == cport::rtsEnable;
}

// DTR and RTS as the toggles have them, in the settings the port applies
// when it opens or re-applies its line: no pulse at opening, and no line
// asked for by name that the device may not have.  Flow control that owns
// a line keeps it.
void TSession::LinesIntoSettings() {
  cport::TComFlowControl& f = FPort.FlowControl();
  if (f.ControlDTR() != cport::dtrHandshake) f.SetControlDTR(FDTR ? cport::dtrEnable : cport::dtrDisable);
  if (RTSFree()) f.SetControlRTS(FRTS ? cport::rtsEnable : cport::rtsDisable);
}

void TSession::SetDTR(bool on) {
  FDTR = on;
  if (FState != EState::Connected || !DTRFree()) return;
  try {
    FPort.SetDTR(on);
  } catch (const cport::EComPort& e) {
    Tell(QString::fromLocal8Bit(e.what()));
  }
}

void TSession::SetRTS(bool on) {
  FRTS = on;
  if (FState != EState::Connected || !RTSFree()) return;
  try {
    FPort.SetRTS(on);
  } catch (const cport::EComPort& e) {
    Tell(QString::fromLocal8Bit(e.what()));
  }
}

void TSession::SendBreak(int ms) {
  if (FState != EState::Connected) return;
  try {
    FPort.SetBreak(true);
  } catch (const cport::EComPort& e) {
    Tell(QString::fromLocal8Bit(e.what()));
    return;
  }
  FBreak.start(ms);
}

}  // namespace vxterm

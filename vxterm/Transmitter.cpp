// SPDX-License-Identifier: MIT
#include "Transmitter.h"

#include <QFileInfo>

#include <algorithm>

#include "Texts.h"

namespace vxterm {

namespace {

constexpr int kFileChunksInFlight = 2;

}  // namespace

TTransmitter::TTransmitter(cport::TCustomComPort& port, QObject* parent) : QObject(parent), FPort(port) {
  FPoll.setInterval(5);
  connect(&FPoll, &QTimer::timeout, this, &TTransmitter::Poll);
}

TTransmitter::~TTransmitter() {
  // Signals to a dying owner help nobody.
  blockSignals(true);
  Abandon(QString());
}

int32_t TTransmitter::ChunkSize() const {
  uint32_t baud = cport::BaudRateValue(FPort.BaudRate());
  if (baud == 0) baud = static_cast<uint32_t>(std::max<int32_t>(FPort.CustomBaudRate(), 1));
  // A tenth of a second at about ten bits a byte.
  return static_cast<int32_t>(std::clamp<uint32_t>(baud / 100, 16, 4096));
}

void TTransmitter::Send(const std::string& bytes) {
  if (!bytes.empty()) Start(bytes, false);
}

bool TTransmitter::Start(std::string bytes, bool file) {
  TWrite w;
  w.Bytes = std::move(bytes);
  w.File = file;
  cport::InitAsync(w.Async);
  try {
    FPort.WriteAsync(w.Bytes.data(), static_cast<int32_t>(w.Bytes.size()), w.Async);
  } catch (const cport::EComPort& e) {
    cport::DoneAsync(w.Async);
    emit WriteFailed(QString::fromLocal8Bit(e.what()), e.SystemErrorCode());
    return false;
  }
  FPending.push_back(std::move(w));
  if (file) ++FFileInFlight;
  if (!FPoll.isActive()) FPoll.start();
  return true;
}

bool TTransmitter::SendFile(const QString& path, QString& error) {
  if (SendingFile()) {
    error = QTr("A file is being sent already");
    return false;
  }
  FFile.setFileName(path);
  if (!FFile.open(QIODevice::ReadOnly)) {
    error = QTr("Cannot read %1: %2").arg(path, FFile.errorString());
    return false;
  }
  FFileTotal = FFile.size();
  FFileDone = 0;
  FFileInFlight = 0;
  FStopWhy.clear();
  emit FileProgress(0, FFileTotal);
  FinishOrFill();
  return true;
}

void TTransmitter::FillFile() {
  while (SendingFile() && FStopWhy.isEmpty() && FFileInFlight < kFileChunksInFlight) {
    std::string chunk(static_cast<size_t>(ChunkSize()), '\0');
    const qint64 n = FFile.read(chunk.data(), static_cast<qint64>(chunk.size()));
    if (n < 0) {
      StopFile(FFile.errorString());
      return;
    }
    if (n == 0) return;  // all of it started
    chunk.resize(static_cast<size_t>(n));
    if (!Start(std::move(chunk), true)) {
      // Unless the owner, told of the failure, has ended the file already.
      if (SendingFile()) StopFile(QTr("the port refused the bytes"));
      return;
    }
  }
}

void TTransmitter::StopFile(const QString& why) {
  if (!FStopWhy.isEmpty()) return;
  FStopWhy = why;
  if (FFileInFlight > 0) AbortAll();
}

// After a chunk ended: the next ones, or the file's end once nothing of it
// is under way.
void TTransmitter::FinishOrFill() {
  if (!SendingFile()) return;
  if (FStopWhy.isEmpty()) FillFile();
  if (!SendingFile() || FFileInFlight > 0) return;
  const QString name = QFileInfo(FFile.fileName()).fileName();
  if (FStopWhy.isEmpty())
    EndFile(true, QTr("%1 sent (%2 bytes)").arg(name).arg(FFileDone));
  else
    EndFile(false, QTr("Sending %1 stopped after %2 of %3 bytes: %4").arg(name).arg(FFileDone).arg(FFileTotal).arg(FStopWhy));
}

void TTransmitter::Poll() {
  while (!FPending.empty()) {
    TWrite& w = FPending.front();
    int32_t sent = 0;
    QString failure;
    int error = 0;
    try {
      if (!FPort.IsAsyncCompleted(w.Async)) break;
      sent = FPort.WaitForAsync(w.Async);
    } catch (const cport::EComPort& e) {
      failure = QString::fromLocal8Bit(e.what());
      error = e.SystemErrorCode();
      if (failure.isEmpty()) failure = "?";
      // A write cut short (aborted, failed) may have moved part of its
      // bytes: they reached the line and count.
      sent = static_cast<int32_t>(w.Async->IoRequest.Transferred);
    }
    const bool file = w.File, aborted = w.Aborted;
    const auto asked = static_cast<int32_t>(w.Bytes.size());
    cport::DoneAsync(w.Async);
    FPending.pop_front();
    if (file) {
      --FFileInFlight;
      FFileDone += sent;
    }
    const bool failed = !failure.isEmpty() && !aborted;
    const bool shortWrite = failure.isEmpty() && sent < asked;
    if (sent > 0) emit Sent(sent);
    // The owner may abandon everything on hearing this: the books are kept
    // first, and what is gone is not touched afterwards.
    if (failed) emit WriteFailed(failure, error);
    if (!file) {
      if (shortWrite)
        emit TimedOut(QTr("The line took %1 of %2 bytes within the write time-out").arg(sent).arg(asked));
      continue;
    }
    if (!SendingFile()) continue;
    emit FileProgress(FFileDone, FFileTotal);
    if (failed) StopFile(failure);
    if (shortWrite) StopFile(QTr("the line took no more within the write time-out"));
    FinishOrFill();
  }
  if (FPending.empty()) FPoll.stop();
}

void TTransmitter::CancelFile() {
  if (!SendingFile()) return;
  StopFile(QTr("cancelled"));
  FinishOrFill();
  Poll();
}

void TTransmitter::EndFile(bool completed, const QString& message) {
  FFile.close();
  FStopWhy.clear();
  FFileInFlight = 0;
  emit FileFinished(completed, message);
}

void TTransmitter::AbortAll() {
  for (TWrite& w : FPending) w.Aborted = true;
  try {
    FPort.AbortAllAsync();
  } catch (const cport::EComPort&) {
    // A closed port has ended them already.
  }
}

void TTransmitter::Abandon(const QString& why) {
  if (!FPending.empty()) {
    // Nothing may still write from these buffers once they are freed: an
    // open port aborts and completes each; a closed one has ended them.
    if (FPort.Connected()) AbortAll();
    for (TWrite& w : FPending) {
      try {
        if (FPort.Connected()) FPort.WaitForAsync(w.Async);
      } catch (const cport::EComPort&) {
      }
      // What an aborted write moved reached the line all the same.
      const auto sent = static_cast<int64_t>(w.Async->IoRequest.Transferred);
      cport::DoneAsync(w.Async);
      if (w.File) FFileDone += sent;
      if (sent > 0) emit Sent(sent);
    }
    FPending.clear();
  }
  FPoll.stop();
  if (SendingFile()) {
    FStopWhy = why.isEmpty() ? QTr("the port closed") : why;
    FFileInFlight = 0;
    FinishOrFill();
  }
}

}  // namespace vxterm

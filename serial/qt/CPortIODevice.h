// SPDX-License-Identifier: MIT
// The port as a Qt I/O device: QTextStream, QDataStream, readLine,
// canReadLine and QIODevice-based protocol code work on it.  QtCore only.
//
//  - open() opens the port when it is closed, and close() closes it again
//    only then.  Reading needs evRxChar among the port's Events: the device
//    follows the port through a link, which takes the received bytes.
//  - readyRead comes in the device's thread, from its event loop, when
//    bytes arrive; waitForReadyRead() waits for them without an event loop
//    (on a thread that must run the port's synchronised calls, it runs them).
//  - write() sends at once through the port's Write, so bytesToWrite() is 0;
//    bytesWritten follows from the event loop, or from waitForBytesWritten().
//  - A port that goes away (unplugged, hung up, closed by its owner,
//    destroyed) ends the device: bytes that had arrived are announced and
//    readable first, then readChannelFinished, then the device closes with
//    errorString() saying why.
// The port's notifications must reach it: with smThreadSync the main thread
// runs them (UseQtEventLoop() below, or the program's own wake hook); with
// smNone they come on the event thread, and then the device is best opened
// before the port (or left to open it).
#pragma once

#include <QIODevice>
#include <cstdint>
#include <mutex>
#include <string>

#include "CPort.h"

namespace cport {

class TComIODevice : public QIODevice, private IFreeNotification {
  Q_OBJECT
 public:
  explicit TComIODevice(TCustomComPort* port = nullptr, QObject* parent = nullptr);
  ~TComIODevice() override;

  TCustomComPort* ComPort() const { return FComPort; }
  // Binding another port closes the device first.
  void SetComPort(TCustomComPort* port);

  bool isSequential() const override { return true; }
  bool open(OpenMode mode) override;
  void close() override;
  qint64 bytesAvailable() const override;
  bool canReadLine() const override;
  bool waitForReadyRead(int msecs) override;
  bool waitForBytesWritten(int msecs) override;

 protected:
  qint64 readData(char* data, qint64 maxSize) override;
  qint64 writeData(const char* data, qint64 maxSize) override;

 private:
  void FreeNotify(TComponent* component) override;
  void Unlink();
  void Received(const void* buffer, int32_t count);  // any thread
  void Ended(const char* reason);                    // any thread
  void Notify();                                     // any thread: Deliver, once
  void Deliver();
  bool Announce();  // readyRead for bytes not announced yet
  void Finish();
  void EmitBytesWritten();

  TCustomComPort* FComPort = nullptr;
  TComLink FLink;
  bool FLinked = false;
  bool FOpenedPort = false;  // open() opened it: close() closes it
  bool FInReadyRead = false;
  bool FInBytesWritten = false;
  bool FWrittenPosted = false;
  qint64 FWritten = 0;  // not yet told through bytesWritten

  // Shared with the thread the port notifies on.
  mutable std::mutex FMutex;
  std::string FRx;
  size_t FRxHead = 0;
  uint64_t FArrived = 0, FAnnounced = 0;
  const char* FEndReason = nullptr;
  bool FNotifyPosted = false;
};

// Makes the Qt event loop of the main thread run the calls the ports' event
// threads hand to it (smThreadSync): installs the wake hook of Classes.h.
// Call once the application object exists; not needed by a program that
// installs its own.
void UseQtEventLoop();

}  // namespace cport

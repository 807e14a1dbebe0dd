// SPDX-License-Identifier: MIT
#include "CPortIODevice.h"

#include <QCoreApplication>
#include <QScopedValueRollback>
#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "Translation.h"

// Marks a text that is looked up in the catalog later.
#define N_(text) text

namespace cport {

namespace {

constexpr const char* kGone = N_("The port went away (unplugged or hung up)");
constexpr const char* kClosed = N_("The port was closed");
constexpr const char* kNoPort = N_("No port to open");
constexpr const char* kNoRxEvent = N_("The port does not watch for received bytes");
constexpr const char* kTimedOut = N_("The write timed out");

QString Translated(const char* text) {
  InitPortErrorTexts();  // binds the domain
  return QString::fromUtf8(translation::Lookup("cport", text));
}

}  // namespace

TComIODevice::TComIODevice(TCustomComPort* port, QObject* parent) : QIODevice(parent) {
  // A link taken off during a fan-out may still be called once by a port
  // that was copying its list: only the bound port counts.
  FLink.OnConn = [this](TCustomComPort* sender, bool on) {
    if (!on && sender == FComPort) Ended(kClosed);
  };
  FLink.OnError = [this](TCustomComPort* sender, TComErrors errors) {
    if (errors.Contains(ceIO) && sender == FComPort) Ended(kGone);
  };
  SetComPort(port);
}

TComIODevice::~TComIODevice() {
  if (isOpen()) close();
  Unlink();
  if (FComPort) FComPort->RemoveFreeNotification(this);
}

void TComIODevice::SetComPort(TCustomComPort* port) {
  if (port == FComPort) return;
  if (isOpen()) close();
  Unlink();
  if (FComPort) FComPort->RemoveFreeNotification(this);
  FComPort = port;
  if (FComPort) FComPort->FreeNotification(this);
}

void TComIODevice::Unlink() {
  if (!FLinked) return;
  FLinked = false;
  if (FComPort) FComPort->UnRegisterLink(&FLink);
}

void TComIODevice::FreeNotify(TComponent* component) {
  if (component != FComPort) return;
  Unlink();
  FComPort = nullptr;
  FOpenedPort = false;
  Ended(kClosed);
}

bool TComIODevice::open(OpenMode mode) {
  if (isOpen()) return false;
  if (!FComPort) {
    setErrorString(Translated(kNoPort));
    return false;
  }
  const bool reading = mode.testFlag(ReadOnly);
  if (reading && !FComPort->Events().Contains(evRxChar)) {
    setErrorString(Translated(kNoRxEvent));
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FRx.clear();
    FRxHead = 0;
    FArrived = FAnnounced = 0;
    FEndReason = nullptr;
  }
  FWritten = 0;
  if (reading)
    FLink.OnRxBuf = [this](TCustomComPort* sender, const void* buffer, int32_t count) {
      if (sender == FComPort) Received(buffer, count);
    };
  else
    FLink.OnRxBuf = nullptr;  // leaves the port's received bytes to others
  FComPort->RegisterLink(&FLink);
  FLinked = true;
  FOpenedPort = false;
  try {
    if (!FComPort->Connected()) {
      FComPort->Open();
      FOpenedPort = true;
    } else if (reading && FComPort->SyncMethod() != smNone) {
      // Bytes that came before the link: they may bring no event of their own.
      if (const int32_t waiting = FComPort->InputCount(); waiting > 0) {
        std::string bytes(static_cast<size_t>(waiting), '\0');
        bytes.resize(static_cast<size_t>(FComPort->Read(bytes.data(), waiting)));
        if (!bytes.empty()) Received(bytes.data(), static_cast<int32_t>(bytes.size()));
      }
    }
  } catch (const EComPort& e) {
    Unlink();
    setErrorString(QString::fromLocal8Bit(e.what()));
    return false;
  }
  return QIODevice::open(mode);
}

void TComIODevice::close() {
  if (!isOpen()) return;
  QIODevice::close();
  Unlink();  // first: the device's own close of the port is no news to it
  if (FOpenedPort && FComPort && FComPort->Connected()) {
    try {
      FComPort->Close();
    } catch (const EComPort& e) {
      setErrorString(QString::fromLocal8Bit(e.what()));
    }
  }
  FOpenedPort = false;
  std::lock_guard<std::mutex> lock(FMutex);
  FRx.clear();
  FRxHead = 0;
}

// ---------------------------------------------------------------------------
// Arrivals, from the thread the port notifies on

void TComIODevice::Received(const void* buffer, int32_t count) {
  if (count <= 0) return;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FEndReason) return;  // a new connection's bytes are not the ended one's
    FRx.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
    ++FArrived;
  }
  Notify();
}

void TComIODevice::Ended(const char* reason) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FEndReason) return;
    FEndReason = reason;
  }
  Notify();
}

void TComIODevice::Notify() {
  bool post;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    post = !std::exchange(FNotifyPosted, true);
  }
  if (post) QMetaObject::invokeMethod(this, [this] { Deliver(); }, Qt::QueuedConnection);
  WakeSynchronizeWaiters();
}

// ---------------------------------------------------------------------------
// The device's thread

void TComIODevice::Deliver() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FNotifyPosted = false;
  }
  if (!isOpen()) return;
  Announce();
  if (isOpen()) Finish();
}

bool TComIODevice::Announce() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FAnnounced == FArrived) return false;
    FAnnounced = FArrived;
  }
  if (!FInReadyRead) {  // never emitted recursively
    const QScopedValueRollback<bool> guard(FInReadyRead, true);
    emit readyRead();
  }
  return true;
}

void TComIODevice::Finish() {
  const char* reason;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    reason = FEndReason;
  }
  if (!reason || !isOpen()) return;
  const QString why = Translated(reason);
  setErrorString(why);
  emit readChannelFinished();
  if (isOpen()) close();
  setErrorString(why);
}

qint64 TComIODevice::readData(char* data, qint64 maxSize) {
  std::lock_guard<std::mutex> lock(FMutex);
  const size_t n = std::min(static_cast<size_t>(std::max<qint64>(maxSize, 0)), FRx.size() - FRxHead);
  if (n == 0) return FEndReason ? -1 : 0;
  std::memcpy(data, FRx.data() + FRxHead, n);
  FRxHead += n;
  if (FRxHead == FRx.size()) {
    FRx.clear();
    FRxHead = 0;
  } else if (FRxHead >= 65536 && FRxHead * 2 >= FRx.size()) {
    FRx.erase(0, FRxHead);  // what was read goes once it is the larger part
    FRxHead = 0;
  }
  return static_cast<qint64>(n);
}

qint64 TComIODevice::bytesAvailable() const {
  qint64 own;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    own = static_cast<qint64>(FRx.size() - FRxHead);
  }
  return own + QIODevice::bytesAvailable();
}

bool TComIODevice::canReadLine() const {
  if (QIODevice::canReadLine()) return true;
  std::lock_guard<std::mutex> lock(FMutex);
  return std::memchr(FRx.data() + FRxHead, '\n', FRx.size() - FRxHead) != nullptr;
}

bool TComIODevice::waitForReadyRead(int msecs) {
  if (!isReadable()) return false;
  SynchronizeUntil(
      [this] {
        std::lock_guard<std::mutex> lock(FMutex);
        return FArrived != FAnnounced || FEndReason != nullptr;
      },
      msecs);
  if (Announce()) return true;
  Finish();
  return false;
}

// ---------------------------------------------------------------------------
// Writing

qint64 TComIODevice::writeData(const char* data, qint64 maxSize) {
  if (!FComPort || !FComPort->Connected()) {
    setErrorString(Translated(kClosed));
    return -1;
  }
  qint64 done = 0;
  try {
    while (done < maxSize) {
      const auto chunk = static_cast<int32_t>(std::min<qint64>(maxSize - done, std::numeric_limits<int32_t>::max()));
      const int32_t sent = FComPort->Write(data + done, chunk);
      done += std::max(sent, 0);
      if (sent < chunk) {
        setErrorString(Translated(kTimedOut));
        break;
      }
    }
  } catch (const EComPort& e) {
    setErrorString(QString::fromLocal8Bit(e.what()));
  }
  if (done > 0) {
    FWritten += done;
    if (!std::exchange(FWrittenPosted, true))
      QMetaObject::invokeMethod(this, [this] { EmitBytesWritten(); }, Qt::QueuedConnection);
  }
  return done > 0 || maxSize == 0 ? done : -1;
}

void TComIODevice::EmitBytesWritten() {
  FWrittenPosted = false;
  if (FInBytesWritten) return;  // never emitted recursively
  const qint64 n = std::exchange(FWritten, 0);
  if (n <= 0) return;
  const QScopedValueRollback<bool> guard(FInBytesWritten, true);
  emit bytesWritten(n);
}

bool TComIODevice::waitForBytesWritten(int /*msecs*/) {
  // Each write has completed when write() returns: only the signal is due.
  if (FWritten <= 0) return false;
  EmitBytesWritten();
  return true;
}

void UseQtEventLoop() {
  SetWakeMainThread([] {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
  });
}

}  // namespace cport

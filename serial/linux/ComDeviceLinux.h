// SPDX-License-Identifier: MIT
// Private to the Linux driver: one open terminal device.
//
// ComDriverLinux.cpp   opening, line settings, status and control
// ComTransferLinux.cpp the transfer engine and the driver's receive queue
// ComEventLinux.cpp    the event wait and the modem-line helper
//
// Locks, outermost first: FIoMutex (transfers, the receive queue, the
// read-path settings and time-outs), then FCountMutex (error counters);
// FEventMutex (the event wait's set-up and waiters) and FModemMutex (the
// modem-line helper) are never held with another.  Nobody holds FIoMutex
// while asleep; the event thread takes it to fill the receive queue, the
// status query to count it.  A blocking read that returns at once may take
// no lock at all (see ComTransferLinux.cpp).
#pragma once

#include <linux/serial.h>
#include <sys/types.h>
#include <pthread.h>
#include <termios.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ComDriverLinux.h"

namespace cport::lnx {

constexpr int64_t kNsPerMs = 1000000;
// Longest wait the driver computes (a day); larger time-outs wait that long
// and then look again, so arithmetic never overflows.
constexpr int64_t kMaxWaitMs = 24LL * 3600 * 1000;

int64_t NowNs();
inline int64_t MsToNs(uint64_t ms) {
  return static_cast<int64_t>(ms < static_cast<uint64_t>(kMaxWaitMs) ? ms : kMaxWaitMs) * kNsPerMs;
}
// A device that has no modem lines or error counters (a pseudo-terminal)
// answers these.
inline bool Unsupported(int err) { return err == ENOTTY || err == EINVAL; }
void CloseFd(int& fd);
// Adds 1 to an eventfd / takes its count; both ignore failures (a full or
// empty counter means the wake-up is there, or was taken, already).
void SignalFd(int fd);
void DrainFd(int fd);

// Counts the wake-up that ends a wait of the driver (WakeupsForTesting).
void CountWakeup();

// The flag and the eventfd change together, under the signal's mutex: a
// wait that sees the flag clear sleeps on a descriptor that is clear too.
class TLinuxSignal final : public TSignal {
 public:
  TLinuxSignal();
  ~TLinuxSignal() override { CloseFd(FFd); }
  void Set() override;
  void Reset() override;
  bool IsSet() const override { return FSet.load(); }
  int Fd() const { return FFd; }
  // Unique for the life of the process: a new signal never passes for an
  // old one whose descriptor number it got.
  uint64_t Id() const { return FId; }

 private:
  std::mutex FMutex;
  int FFd;
  std::atomic<bool> FSet{false};
  const uint64_t FId;
};

class TLinuxDevice final : public TComDevice {
 public:
  TLinuxDevice(int fd, dev_t deviceNumber, const termios& original, bool pseudoTerminal);
  ~TLinuxDevice() override;

  int SetCommState(const TDCB& dcb) override;
  int SetCommTimeouts(const TCommTimeouts& timeouts) override;
  int SetupComm(uint32_t inputSize, uint32_t outputSize) override;
  TIoResult StartWrite(TIoRequest& request, const void* buffer, uint32_t count) override;
  TIoResult StartRead(TIoRequest& request, void* buffer, uint32_t count) override;
  TIoResult GetResult(TIoRequest& request, bool wait) override;
  TIoResult Transfer(TIoRequest& request, bool write, void* buffer, uint32_t count) override;
  void CancelTransfer(TIoRequest& request, bool write) override;
  int PurgeComm(uint32_t flags) override;
  int ClearCommError(uint32_t& errors, TComStat& stat) override;
  int GetCommModemStatus(uint32_t& status) override;
  int EscapeCommFunction(uint32_t function) override;
  int TransmitCommChar(char c) override;
  int SetCommMask(uint32_t mask) override;
  int HoldArrivals(bool hold) override;
  int WaitCommEvent(uint32_t& events, TSignal* stop, int32_t timeoutMs) override;

 private:
  // -- transfer engine (ComTransferLinux.cpp); all under FIoMutex ----------
  enum class TReadMode { Immediate, FirstByte, Timed };
  // One direction: the transfers started and not yet completed, oldest
  // first.  The head is moved by its own caller (Inline, inside Transfer)
  // or by the helper thread.
  struct TDirection {
    std::deque<TIoRequest*> Queue;
    bool Inline = false;
    bool MoverWaiting = false;  // the inline mover sleeps in ppoll on WakeFd
    bool WakeSignalled = false;
    int WakeFd = -1;
  };
  // What a mover waits for next: line readiness and/or a time.
  struct TWaitFor {
    short Events = 0;
    int64_t TimeoutNs = -1;  // -1: none
    bool Any = false;        // there is something to wait for at all
  };
  using TLock = std::unique_lock<std::mutex>;
  TDirection& Dir(bool write) { return write ? FTx : FRx; }
  TIoResult PlainReadDone(TIoRequest& r, uint32_t count, ssize_t n, int err);
  TIoResult TransferLocked(TIoRequest& r, bool write, void* buffer, uint32_t count);
  void UpdatePlainReads();
  TIoResult Start(TIoRequest& r, bool write, void* buffer, uint32_t count, bool inlineMover);
  TIoResult StartReadLocked(TIoRequest& r, bool inlineMover);
  TIoResult StartWriteLocked(TIoRequest& r, bool inlineMover);
  int Enqueue(TIoRequest& r, bool inlineMover);
  void Activate(TIoRequest& r, int64_t now);
  // Moves the head of a direction as far as the line allows; completes what
  // is done and goes on with the next.  untilDone: stop once r completed.
  TWaitFor Step(TDirection& d, const TIoRequest* untilDone);
  bool StepRead(TIoRequest& r, int64_t now, TWaitFor& w);
  bool StepWrite(TIoRequest& r, int64_t now, TWaitFor& w);
  void Complete(TIoRequest& r, int error);
  void AbortLocked(TDirection& d);
  void WakeMover(TDirection& d);
  TIoResult ResultOf(const TIoRequest& r) const;
  TIoResult MoveInline(TLock& lock, TIoRequest& r);
  int EnsureWorker();
  void KickWorker();
  void WorkerLoop();
  void Leave();
  void UpdateTxQueued();
  // Reading from the line (through the receive queue when it is on).
  ssize_t ReadBytes(uint8_t* dst, size_t want);
  ssize_t ReadAvailable(uint8_t* dst, size_t want, size_t* raw = nullptr);
  int PullLocked();
  void RxRingChanged();
  void SetRxWatch(bool on);
  ssize_t WriteSome(const uint8_t* src, size_t n);
  int OutQueue(int& count);
  int64_t DrainNs(int queued) const;
  void TxStarted();

  // -- modem lines (ComEventLinux.cpp) ---------------------------------------
  int ModemStatus(int& bits);
  int ModemBits(int request, int bits);
  void StartModemHelper();
  void StopModemHelper();

 public:
  void ModemLoop();  // the helper thread's body

 private:

  // -- events (ComEventLinux.cpp) --------------------------------------------
  int EnsureEventWait();
  void Kick();
  uint32_t RxEdgeEvents(uint32_t mask);
  void Hangup();

  const int FFd;
  const dev_t FDeviceNumber;  // this process's only open of the device
  const termios FOriginal;
  const bool FHasTxQueue;  // a pseudo-terminal passes bytes on at once
  termios FTermios;        // as last set (the setting thread only)
  // Whether output waits for CTS: the status query may run on the event
  // thread while the line is being set.
  std::atomic<bool> FCtsFlow{false};
  // Rate and bits per character, for the drain time the event wait uses.
  std::atomic<uint32_t> FDrainBaud{9600};
  std::atomic<uint32_t> FDrainBits{10};
  bool FRs485 = false;
  std::atomic<uint32_t> FInputSize{1024};
  std::atomic<bool> FModemUnsupported{false};
  std::atomic<bool> FHungUp{false};

  // Error counters: what the status query reports is the difference since
  // the previous query.
  std::mutex FCountMutex;
  bool FCountSupported = false;
  serial_icounter_struct FStatusCount{};
  bool FHangupErrorPending = false;

  // Transfers.
  std::mutex FIoMutex;
  std::condition_variable FIoDone;  // a request completed, or a caller left
  TLineExtras FLine;                // read-path settings
  TMarkState FMark;
  TCommTimeouts FTimeouts;
  TReadMode FReadMode = TReadMode::Immediate;
  TDirection FRx, FTx;
  int FUsers = 0;         // threads inside a waiting call
  bool FDying = false;
  // A blocking read may take the terminal's bytes without the lock (see
  // ComTransferLinux.cpp); FPlainReaders counts those doing so now.
  std::atomic<bool> FPlainReads{false};
  std::atomic<int> FPlainReaders{0};
  std::atomic<int> FTxQueued{0};  // writes started and not completed
  // The helper thread that moves transfers nobody waits for.
  std::thread FWorker;
  std::condition_variable FWork;
  int FWorkerWake = -1;
  bool FWorkerPolling = false;
  bool FWorkerWakeSignalled = false;
  bool FWorkerStop = false;
  // The driver's receive queue, on while evRxFlag is watched (and until it
  // has been read empty): the event wait sees the event character on
  // arrival.  A ring of fixed size, taken from the terminal only as far as
  // it has room (the rest waits in the kernel, under its flow control), and
  // released once it is empty and no longer watched.
  struct TRxRing {
    std::unique_ptr<uint8_t[]> Data;
    size_t Head = 0, Count = 0;
  };
  TRxRing FRxRing;
  bool FRxWatch = false;
  bool FRxQueued = false;  // reads go through the ring
  char FEvtChar = 0;

  // Event wait (one waiter at a time: the event thread or WaitForEvent).
  std::atomic<uint32_t> FMask{0};
  std::atomic<uint32_t> FPending{0};
  std::atomic<bool> FTxWatch{false};
  std::mutex FEventMutex;  // set-up of the descriptors below
  int FEpoll = -1;
  bool FArrivalsHeld = false;   // the terminal is in the epoll set without EPOLLIN
  std::atomic<int> FWakeFd{-1};  // set once; kicked from any thread
  int FStopFd = -1;     // stop signal currently in the epoll set
  uint64_t FStopId = 0;  // and its identity
  serial_icounter_struct FEventCount{};
  bool FRx80Above = false;

  std::atomic<uint64_t> FMaskSerial{0};  // a change ends a wait in progress
  int FEventWaiters = 0;                 // under FEventMutex
  std::atomic<bool> FEventDying{false};
  std::condition_variable FEventLeft;
  // Modem-line helper thread.
  std::mutex FModemMutex;
  pthread_t FModemThread{};
  bool FModemRunning = false;
  std::atomic<bool> FMiwaitUnsupported{false};
};

bool IsPseudoTerminal(int fd);

}  // namespace cport::lnx

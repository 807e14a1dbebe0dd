// SPDX-License-Identifier: MIT
// The transfer engine of the Linux driver: overlapped transfers on a
// terminal opened non-blocking.
//
// Each direction keeps the transfers started and not yet completed in a
// queue, oldest first; only the head moves.  A transfer first tries the line
// at once when its queue is empty: if that completes it, nothing else
// happens (no thread, no extra call).  Otherwise it joins the queue, and its
// head is moved by whoever waits for it (Transfer, GetResult with wait) or,
// while nobody does, by the device's helper thread, which the first such
// transfer starts and which sleeps in ppoll or on a condition meanwhile.
// Every decision about a request is taken under FIoMutex; an abort completes
// the requests under it and signals the eventfd of a mover asleep in ppoll,
// whose count stays until that mover takes it.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "ComDeviceLinux.h"

namespace cport::lnx {

namespace {

// The driver's receive queue takes at most this much from the terminal; the
// rest stays in the kernel (and its flow control) until readers catch up.
constexpr size_t kRxQueueLimit = 64 * 1024;

TIoResult Failed(int err) {
  TIoResult res;
  res.Status = TIoStatus::Failed;
  res.Error = err;
  return res;
}

// Sleeps until the terminal is ready for events (none: only the time
// matters), the wake-up descriptor is signalled, or timeoutNs (-1: none).
void Sleep(int fd, short events, int wakeFd, int64_t timeoutNs) {
  pollfd fds[2] = {{events ? fd : -1, events, 0}, {wakeFd, POLLIN, 0}};
  timespec ts{};
  if (timeoutNs >= 0) ts = {static_cast<time_t>(timeoutNs / 1000000000), static_cast<long>(timeoutNs % 1000000000)};
  ::ppoll(fds, 2, timeoutNs >= 0 ? &ts : nullptr, nullptr);
}

void Merge(int64_t& timeout, int64_t other) {
  if (other >= 0) timeout = timeout < 0 ? other : std::min(timeout, other);
}

}  // namespace

// ---------------------------------------------------------------------------
// The line

ssize_t TLinuxDevice::ReadAvailable(uint8_t* dst, size_t want) {
  for (;;) {
    ssize_t n = ::read(FFd, dst, want);
    if (n > 0) {
      size_t m = static_cast<size_t>(n);
      if (FLine.Marked) m = UnmarkBytes(dst, m, FMark, FLine.ReplaceMarked, FLine.ReplaceChar);
      if (FLine.DiscardNull) m = DropNulls(dst, m);
      if (m > 0 && FLine.DsrSensitivity) {
        int bits = 0;
        if (ModemStatus(bits) == 0 && !FModemUnsupported.load() && !(bits & TIOCM_DSR)) m = 0;
      }
      if (m > 0) return static_cast<ssize_t>(m);
      continue;  // all of it filtered away: there may be more behind it
    }
    if (n == 0) {
      // With VMIN 1 an empty queue is EAGAIN: nothing read means hung up.
      Hangup();
      return -EIO;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    const int err = errno;
    if (err == EIO) Hangup();
    return -err;
  }
}

// Moves what the terminal holds into the driver's receive queue, looking for
// the event character on the way.
int TLinuxDevice::PullLocked() {
  uint8_t buf[4096];
  int err = 0;
  size_t got = 0;
  bool flag = false;
  while (FRxQueue.size() - FRxHead < kRxQueueLimit) {
    const ssize_t n = ReadAvailable(buf, sizeof buf);
    if (n < 0) {
      err = static_cast<int>(-n);
      break;
    }
    if (n == 0) break;
    const auto m = static_cast<size_t>(n);
    if (FRxWatch && std::memchr(buf, static_cast<unsigned char>(FEvtChar), m)) flag = true;
    FRxQueue.insert(FRxQueue.end(), buf, buf + m);
    got += m;
    if (m < sizeof buf) break;  // the terminal is empty: spare the call that says so
  }
  if (got) {
    FRxQueueSize.store(static_cast<uint32_t>(FRxQueue.size() - FRxHead));
    if (flag && (FMask.load() & EV_RXFLAG_BIT)) {
      FPending.fetch_or(EV_RXFLAG_BIT);
      Kick();
    }
    // A read waiting on the terminal would not see these bytes arrive.
    WakeMover(FRx);
    KickWorker();
  }
  return err;
}

ssize_t TLinuxDevice::ReadBytes(uint8_t* dst, size_t want) {
  if (!FRxQueued) return ReadAvailable(dst, want);
  const size_t queued = FRxQueue.size() - FRxHead;
  const int err = PullLocked();
  const size_t have = FRxQueue.size() - FRxHead;
  if (have == 0) return err ? -err : 0;
  const size_t n = std::min(have, want);
  // Bytes taken from the terminal here and left in the queue would show no
  // arrival to the event wait, which looks at the terminal: report them.
  if (have > queued && have > want && (FMask.load() & EV_RXCHAR_BIT)) {
    FPending.fetch_or(EV_RXCHAR_BIT);
    Kick();
  }
  std::memcpy(dst, FRxQueue.data() + FRxHead, n);
  FRxHead += n;
  if (FRxHead == FRxQueue.size()) {
    FRxQueue.clear();
    FRxHead = 0;
    FRxQueued = FRxWatch;
  }
  FRxQueueSize.store(static_cast<uint32_t>(FRxQueue.size() - FRxHead));
  return static_cast<ssize_t>(n);
}

ssize_t TLinuxDevice::WriteSome(const uint8_t* src, size_t n) {
  for (;;) {
    ssize_t w = ::write(FFd, src, n);
    if (w >= 0) return w;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    const int err = errno;
    if (err == EIO) Hangup();
    return -err;
  }
}

int TLinuxDevice::OutQueue(int& count) {
  count = 0;
  if (!FHasTxQueue) return 0;
  if (::ioctl(FFd, TIOCOUTQ, &count) != 0) return errno;
  return 0;
}

int64_t TLinuxDevice::DrainNs(int queued) const {
  const uint64_t baud = std::max<uint32_t>(FDrainBaud.load(), 1);
  const int64_t ns = static_cast<int64_t>(static_cast<uint64_t>(queued) * FDrainBits.load() * 1000000000ULL / baud);
  return std::clamp<int64_t>(ns, kNsPerMs, 100 * kNsPerMs);
}

void TLinuxDevice::TxStarted() {
  if (FMask.load() & EV_TXEMPTY_BIT) {
    FTxWatch.store(true);
    Kick();
  }
}

// ---------------------------------------------------------------------------
// Starting

TIoResult TLinuxDevice::StartWrite(TIoRequest& r, const void* buffer, uint32_t count) {
  TLock lock(FIoMutex);
  return Start(r, true, const_cast<void*>(buffer), count, false);
}

TIoResult TLinuxDevice::StartRead(TIoRequest& r, void* buffer, uint32_t count) {
  TLock lock(FIoMutex);
  return Start(r, false, buffer, count, false);
}

TIoResult TLinuxDevice::Transfer(TIoRequest& r, bool write, void* buffer, uint32_t count) {
  TLock lock(FIoMutex);
  const TIoResult res = Start(r, write, buffer, count, true);
  if (res.Status != TIoStatus::Pending) return res;
  return MoveInline(lock, r);
}

TIoResult TLinuxDevice::Start(TIoRequest& r, bool write, void* buffer, uint32_t count, bool inlineMover) {
  if (r.Pending) return Failed(EBUSY);  // one transfer per request at a time
  r = TIoRequest{};
  r.Write = write;
  r.Requested = count;
  if (write)
    r.WriteBuffer = static_cast<const uint8_t*>(buffer);
  else
    r.ReadBuffer = static_cast<uint8_t*>(buffer);
  if (FDying) return Failed(EBADF);
  if (count == 0) return ResultOf(r);
  return write ? StartWriteLocked(r, inlineMover) : StartReadLocked(r, inlineMover);
}

// A transfer that fails at once was never started: the request stays as a
// fresh one.
TIoResult TLinuxDevice::StartReadLocked(TIoRequest& r, bool inlineMover) {
  const bool first = FRx.Queue.empty();
  if (first) {
    const ssize_t n = ReadBytes(r.ReadBuffer, r.Requested);
    if (n < 0) return Failed(static_cast<int>(-n));
    r.Transferred = static_cast<uint32_t>(n);
    if (r.Transferred == r.Requested || FReadMode == TReadMode::Immediate ||
        (FReadMode == TReadMode::FirstByte && n > 0))
      return ResultOf(r);
    r.JustTried = true;
    if (n > 0) r.LastByteNs = NowNs();
  }
  const TCommTimeouts& to = FTimeouts;
  switch (FReadMode) {
    case TReadMode::Immediate:
      r.Immediate = true;  // behind others: takes what is there when its turn comes
      break;
    case TReadMode::FirstByte:
      r.TotalNs = MsToNs(to.ReadTotalTimeoutConstant);
      r.IntervalNs = -1;
      break;
    case TReadMode::Timed: {
      const uint64_t total =
          static_cast<uint64_t>(to.ReadTotalTimeoutMultiplier) * r.Requested + to.ReadTotalTimeoutConstant;
      r.TotalNs = total ? MsToNs(total) : 0;
      const bool noInterval = to.ReadIntervalTimeout == 0 || to.ReadIntervalTimeout == TIMEOUT_ALL_BITS;
      r.IntervalNs = noInterval ? 0 : MsToNs(to.ReadIntervalTimeout);
      break;
    }
  }
  if (int err = Enqueue(r, inlineMover)) return Failed(err);
  TIoResult res;
  res.Status = TIoStatus::Pending;
  return res;
}

TIoResult TLinuxDevice::StartWriteLocked(TIoRequest& r, bool inlineMover) {
  if (FTx.Queue.empty()) {
    const ssize_t n = WriteSome(r.WriteBuffer, r.Requested);
    if (n < 0) return Failed(static_cast<int>(-n));
    r.Transferred = static_cast<uint32_t>(n);
    if (n > 0) TxStarted();
    int queued = 0;
    if (r.Transferred == r.Requested && OutQueue(queued) == 0 && queued == 0) return ResultOf(r);
    r.JustTried = true;
  }
  const TCommTimeouts& to = FTimeouts;
  const uint64_t total =
      static_cast<uint64_t>(to.WriteTotalTimeoutMultiplier) * r.Requested + to.WriteTotalTimeoutConstant;
  r.TotalNs = total ? MsToNs(total) : 0;
  if (int err = Enqueue(r, inlineMover)) return Failed(err);
  TIoResult res;
  res.Status = TIoStatus::Pending;
  return res;
}

int TLinuxDevice::Enqueue(TIoRequest& r, bool inlineMover) {
  TDirection& d = Dir(r.Write);
  const bool head = d.Queue.empty();
  // Nobody will wait for it at once: the helper thread must be there.
  if (!(inlineMover && head))
    if (int err = EnsureWorker()) return err;
  d.Queue.push_back(&r);
  r.Pending = true;
  if (head) Activate(r, NowNs());
  if (r.Write) UpdateTxQueued();
  if (!(inlineMover && head)) KickWorker();
  return 0;
}

void TLinuxDevice::Activate(TIoRequest& r, int64_t now) {
  r.Running = true;
  r.DeadlineNs = r.TotalNs ? now + r.TotalNs : 0;
}

// ---------------------------------------------------------------------------
// Moving

TLinuxDevice::TWaitFor TLinuxDevice::Step(TDirection& d, const TIoRequest* untilDone) {
  const int64_t now = NowNs();
  while (!d.Queue.empty()) {
    TIoRequest& r = *d.Queue.front();
    if (!r.Running) Activate(r, now);
    TWaitFor w;
    const bool done = r.Write ? StepWrite(r, now, w) : StepRead(r, now, w);
    if (!done) return w;
    if (&r == untilDone) break;
  }
  return TWaitFor{};
}

bool TLinuxDevice::StepRead(TIoRequest& r, int64_t now, TWaitFor& w) {
  if (r.JustTried) {
    r.JustTried = false;  // the start has just looked: wait first
  } else {
    const ssize_t n = ReadBytes(r.ReadBuffer + r.Transferred, r.Requested - r.Transferred);
    if (n < 0) {
      Complete(r, static_cast<int>(-n));
      return true;
    }
    if (n > 0) {
      r.Transferred += static_cast<uint32_t>(n);
      r.LastByteNs = now;
      if (r.IntervalNs < 0) {
        Complete(r, 0);
        return true;
      }
    }
    if (r.Immediate) {
      Complete(r, 0);
      return true;
    }
  }
  if (r.Transferred == r.Requested) {
    Complete(r, 0);
    return true;
  }
  bool limited = false;
  int64_t remaining = 0;
  if (r.DeadlineNs) {
    limited = true;
    remaining = r.DeadlineNs - now;
  }
  if (r.IntervalNs > 0 && r.Transferred > 0) {
    const int64_t gap = r.LastByteNs + r.IntervalNs - now;
    remaining = limited ? std::min(remaining, gap) : gap;
    limited = true;
  }
  if (limited && remaining <= 0) {
    Complete(r, 0);
    return true;
  }
  w.Any = true;
  w.Events = POLLIN;
  w.TimeoutNs = limited ? remaining : -1;
  return false;
}

bool TLinuxDevice::StepWrite(TIoRequest& r, int64_t now, TWaitFor& w) {
  if (r.JustTried) {
    r.JustTried = false;
  } else if (r.Transferred < r.Requested) {
    const ssize_t n = WriteSome(r.WriteBuffer + r.Transferred, r.Requested - r.Transferred);
    if (n < 0) {
      Complete(r, static_cast<int>(-n));
      return true;
    }
    if (n > 0) {
      r.Transferred += static_cast<uint32_t>(n);
      TxStarted();
    }
  }
  int queued = 0;
  if (int err = OutQueue(queued)) {
    Complete(r, err);
    return true;
  }
  if (r.Transferred == r.Requested && queued == 0) {
    Complete(r, 0);
    return true;
  }
  if (r.DeadlineNs && now >= r.DeadlineNs) {
    // Timed out: bytes still queued in the kernel are dropped so that they
    // cannot go out later after the caller was told they were not sent.
    if (queued > 0) ::tcflush(FFd, TCOFLUSH);
    r.Transferred -= std::min<uint32_t>(r.Transferred, static_cast<uint32_t>(queued));
    Complete(r, 0);
    return true;
  }
  w.Any = true;
  const int64_t remaining = r.DeadlineNs ? r.DeadlineNs - now : -1;
  if (r.Transferred < r.Requested) {
    w.Events = POLLOUT;
    w.TimeoutNs = remaining;
  } else {
    w.TimeoutNs = DrainNs(queued);  // the queue drains at the line's rate
    Merge(w.TimeoutNs, remaining);
  }
  return false;
}

void TLinuxDevice::Complete(TIoRequest& r, int error) {
  TDirection& d = Dir(r.Write);
  if (!d.Queue.empty() && d.Queue.front() == &r)
    d.Queue.pop_front();
  else
    d.Queue.erase(std::remove(d.Queue.begin(), d.Queue.end(), &r), d.Queue.end());
  r.Pending = false;
  r.Running = false;
  r.Error = error;
  if (r.Write) UpdateTxQueued();
  FIoDone.notify_all();
}

void TLinuxDevice::UpdateTxQueued() {
  const int n = static_cast<int>(FTx.Queue.size());
  // The last started write has left: the event wait looks at the line again.
  if (FTxQueued.exchange(n) != 0 && n == 0 && FTxWatch.load()) Kick();
}

TIoResult TLinuxDevice::ResultOf(const TIoRequest& r) const {
  TIoResult res;
  if (r.Pending)
    res.Status = TIoStatus::Pending;
  else if (r.Error)
    res = Failed(r.Error);
  else
    res.Transferred = r.Transferred;
  return res;
}

// The caller waits for its request: when it heads its queue, the caller
// moves it itself (no other thread involved), else it sleeps until the
// transfers ahead of it are done.
TIoResult TLinuxDevice::MoveInline(TLock& lock, TIoRequest& r) {
  TDirection& d = Dir(r.Write);
  // A request pending on another device (a record handed to the wrong
  // port) is none of this one's business.
  if (std::find(d.Queue.begin(), d.Queue.end(), &r) == d.Queue.end()) return Failed(EINVAL);
  ++FUsers;
  bool mover = false;
  while (r.Pending) {
    if (d.Queue.front() != &r || (d.Inline && !mover)) {
      FIoDone.wait(lock);
      continue;
    }
    if (d.WakeFd < 0) d.WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d.WakeFd < 0) {
      // No way to be woken: leave the moving to the helper thread.
      if (int err = EnsureWorker()) Complete(r, err);
      KickWorker();
      FIoDone.wait(lock, [&] { return !r.Pending; });
      break;
    }
    d.Inline = mover = true;
    const TWaitFor w = Step(d, &r);
    if (!r.Pending) break;
    d.MoverWaiting = true;
    lock.unlock();
    Sleep(FFd, w.Events, d.WakeFd, w.TimeoutNs);
    lock.lock();
    d.MoverWaiting = false;
    if (d.WakeSignalled) {
      DrainFd(d.WakeFd);
      d.WakeSignalled = false;
    }
  }
  if (mover) {
    d.Inline = false;
    if (!d.Queue.empty() && EnsureWorker() == 0) KickWorker();
  }
  Leave();
  return ResultOf(r);
}

TIoResult TLinuxDevice::GetResult(TIoRequest& r, bool wait) {
  TLock lock(FIoMutex);
  if (!r.Pending || !wait) return ResultOf(r);
  return MoveInline(lock, r);
}

void TLinuxDevice::Leave() {
  if (--FUsers == 0 && FDying) FIoDone.notify_all();
}

// ---------------------------------------------------------------------------
// Aborts and the helper thread

void TLinuxDevice::AbortLocked(TDirection& d) {
  while (!d.Queue.empty()) Complete(*d.Queue.front(), ECANCELED);
  WakeMover(d);
  KickWorker();
}

void TLinuxDevice::WakeMover(TDirection& d) {
  if (d.MoverWaiting && !d.WakeSignalled) {
    SignalFd(d.WakeFd);
    d.WakeSignalled = true;
  }
}

int TLinuxDevice::PurgeComm(uint32_t flags) {
  const bool rx = flags & PURGE_RXCLEAR_FLAG, tx = flags & PURGE_TXCLEAR_FLAG;
  {
    std::lock_guard<std::mutex> lock(FIoMutex);
    if (flags & PURGE_RXABORT_FLAG) AbortLocked(FRx);
    if (flags & PURGE_TXABORT_FLAG) AbortLocked(FTx);
    if (rx) {
      FMark = TMarkState{};
      FRxQueue.clear();
      FRxHead = 0;
      FRxQueueSize.store(0);
      FRxQueued = FRxWatch;
    }
  }
  if (rx || tx) {
    if (::tcflush(FFd, rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH)) != 0) {
      const int err = errno;
      if (!(FHungUp.load() && err == EIO)) return err;
    }
  }
  return 0;
}

int TLinuxDevice::EnsureWorker() {
  if (FWorker.joinable()) return 0;
  if (FWorkerWake < 0) {
    FWorkerWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FWorkerWake < 0) return errno;
  }
  try {
    FWorker = std::thread([this] { WorkerLoop(); });
  } catch (const std::system_error& e) {
    return e.code().value() ? e.code().value() : EAGAIN;
  }
  return 0;
}

void TLinuxDevice::KickWorker() {
  if (!FWorker.joinable()) return;
  if (FWorkerPolling && !FWorkerWakeSignalled) {
    SignalFd(FWorkerWake);
    FWorkerWakeSignalled = true;
  }
  FWork.notify_one();
}

// Moves the heads that nobody waits for; sleeps while there are none.
void TLinuxDevice::WorkerLoop() {
  TLock lock(FIoMutex);
  while (!FWorkerStop) {
    const TWaitFor rx = FRx.Inline ? TWaitFor{} : Step(FRx, nullptr);
    const TWaitFor tx = FTx.Inline ? TWaitFor{} : Step(FTx, nullptr);
    if (!rx.Any && !tx.Any) {
      FWork.wait(lock);
      continue;
    }
    int64_t timeout = -1;
    if (rx.Any) Merge(timeout, rx.TimeoutNs);
    if (tx.Any) Merge(timeout, tx.TimeoutNs);
    FWorkerPolling = true;
    lock.unlock();
    Sleep(FFd, static_cast<short>(rx.Events | tx.Events), FWorkerWake, timeout);
    lock.lock();
    FWorkerPolling = false;
    if (FWorkerWakeSignalled) {
      DrainFd(FWorkerWake);
      FWorkerWakeSignalled = false;
    }
  }
}

}  // namespace cport::lnx

// SPDX-License-Identifier: MIT
// The event wait of the Linux driver (an epoll set on the terminal, a wake-up
// eventfd and the stop signal) and the modem-line helper thread.
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "ComDeviceLinux.h"

namespace cport::lnx {

namespace {

constexpr uint32_t kModemEvents = EV_CTS_BIT | EV_DSR_BIT | EV_RLSD_BIT | EV_RING_BIT;

// The helper sleeps in the kernel until a modem line changes; only a signal
// ends that sleep early.  Any signal the program can see it may ignore,
// restart or make fatal at any time, so the helper is ended by thread
// cancellation instead, whose signal belongs to the C library: the wait is
// the one place where the helper accepts it, at once (asynchronously).
// Cancellation then unwinds the helper's frames from inside the wait: they
// hold no object with a destructor, and the thread is a plain one.  The
// frame of the system call has no cleanups at all (no sanitizer adds any),
// and its caller reaches it through a pointer the compiler cannot see
// through, so that the unwinder finds the call where one that the compiler
// knew could not throw would have no entry.
__attribute__((noinline, no_sanitize("thread"))) int KernelLineWait(int fd) {
  return ::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG);
}

TModemLineWait volatile gLineWait = KernelLineWait;
bool StandIn() { return gLineWait != KernelLineWait; }

int CancellableLineWait(int fd) {
  int ignored;
  pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &ignored);
  pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, &ignored);  // a cancel already sent acts here
  const int r = gLineWait(fd);
  const int err = errno;
  pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &ignored);
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &ignored);
  errno = err;
  return r;
}

void* ModemHelperMain(void* device) {
  static_cast<TLinuxDevice*>(device)->ModemLoop();
  return nullptr;
}

}  // namespace

void SetModemLineWaitForTesting(TModemLineWait wait) { gLineWait = wait ? wait : KernelLineWait; }

// ---------------------------------------------------------------------------
// Events

void TLinuxDevice::Hangup() {
  if (FHungUp.exchange(true)) return;
  std::lock_guard<std::mutex> lock(FCountMutex);
  FHangupErrorPending = true;
}

int TLinuxDevice::EnsureEventWait() {
  std::lock_guard<std::mutex> lock(FEventMutex);
  if (FEpoll >= 0) return 0;
  int ep = ::epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) return errno;
  int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0) {
    const int err = errno;
    ::close(ep);
    return err;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u32 = 1;
  ::epoll_ctl(ep, EPOLL_CTL_ADD, wake, &ev);
  if (!FHungUp.load()) {
    // Edge-triggered: each arrival of bytes is one event, while bytes that
    // nobody has read yet wake nobody again.
    ev.events = (FArrivalsHeld ? 0u : uint32_t{EPOLLIN}) | EPOLLET;
    ev.data.u32 = 0;
    if (::epoll_ctl(ep, EPOLL_CTL_ADD, FFd, &ev) != 0) {
      const int err = errno;
      ::close(ep);
      ::close(wake);
      return err;
    }
  }
  FWakeFd = wake;
  FEpoll = ep;
  return 0;
}

void TLinuxDevice::Kick() {
  const int fd = FWakeFd.load();
  if (fd >= 0) SignalFd(fd);
}

// May come from another thread while a wait is in progress (Close ending
// a WaitForEvent): it then ends that wait, with no events.
int TLinuxDevice::SetCommMask(uint32_t mask) {
  FMask.store(mask);
  FPending.store(0);
  SetRxWatch((mask & EV_RXFLAG_BIT) != 0);
  if (mask != 0) {
    if (int err = EnsureEventWait()) return err;
    // Only what happens from now on counts: drop an edge left from before.
    epoll_event evs[4];
    ::epoll_wait(FEpoll, evs, 4, 0);
    DrainFd(FWakeFd);
    if (FCountSupported) ::ioctl(FFd, TIOCGICOUNT, &FEventCount);
    FRx80Above = false;
  }
  if ((mask & kModemEvents) && (StandIn() || (!FModemUnsupported.load() && !FMiwaitUnsupported.load())))
    StartModemHelper();
  else
    StopModemHelper();
  FMaskSerial.fetch_add(1);
  Kick();
  return 0;
}

// Held, the terminal stays in the epoll set for its hang-up alone, so the
// kernel wakes nobody for bytes.  Re-arming makes the kernel look at the
// terminal at once: bytes that came meanwhile are one edge then, and bytes
// that come during the call are an edge of their own, so none go unreported.
int TLinuxDevice::HoldArrivals(bool hold) {
  std::lock_guard<std::mutex> lock(FEventMutex);
  if (hold == FArrivalsHeld) return 0;
  FArrivalsHeld = hold;
  if (FEpoll < 0) return 0;  // the set is made with the terminal as held
  epoll_event ev{};
  ev.events = (hold ? 0u : uint32_t{EPOLLIN}) | EPOLLET;
  ev.data.u32 = 0;
  // Gone from the set after a hang-up: nothing more to hold or report.
  if (::epoll_ctl(FEpoll, EPOLL_CTL_MOD, FFd, &ev) != 0 && errno != ENOENT) return errno;
  return 0;
}

uint32_t TLinuxDevice::RxEdgeEvents(uint32_t mask) {
  uint32_t bits = mask & EV_RXCHAR_BIT;
  if ((mask & (EV_ERR_BIT | EV_BREAK_BIT)) && FCountSupported) {
    serial_icounter_struct c{};
    if (::ioctl(FFd, TIOCGICOUNT, &c) == 0) {
      if (c.frame != FEventCount.frame || c.overrun != FEventCount.overrun || c.parity != FEventCount.parity ||
          c.buf_overrun != FEventCount.buf_overrun)
        bits |= mask & EV_ERR_BIT;
      if (c.brk != FEventCount.brk) bits |= mask & EV_BREAK_BIT;
      FEventCount = c;
    }
  }
  if (mask & EV_RX80FULL_BIT) {
    std::lock_guard<std::mutex> lock(FIoMutex);  // the terminal and the driver's queue at one moment
    int in = 0;
    if (::ioctl(FFd, FIONREAD, &in) == 0) {
      const uint64_t held = static_cast<uint64_t>(in) + FRxRing.Count;
      const bool above = held * 10 >= static_cast<uint64_t>(FInputSize.load()) * 8;
      if (above && !FRx80Above) bits |= EV_RX80FULL_BIT;
      FRx80Above = above;
    }
  }
  return bits;
}

int TLinuxDevice::WaitCommEvent(uint32_t& events, TSignal* stop, int32_t timeoutMs) {
  events = 0;
  {
    std::lock_guard<std::mutex> lock(FEventMutex);
    if (FEventDying) return ECANCELED;
    ++FEventWaiters;
  }
  struct TLeave {
    TLinuxDevice& D;
    ~TLeave() {
      std::lock_guard<std::mutex> lock(D.FEventMutex);
      if (--D.FEventWaiters == 0 && D.FEventDying) D.FEventLeft.notify_all();
    }
  } leave{*this};
  const uint64_t maskSerial = FMaskSerial.load();
  if (int err = EnsureEventWait()) return err;
  auto* signal = dynamic_cast<TLinuxSignal*>(stop);
  if (stop && !signal) return EINVAL;
  // The signal is known by its identity: a closed one has left the epoll
  // set by itself, and a new one may have got its descriptor number.
  const uint64_t stopId = signal ? signal->Id() : 0;
  if (stopId != FStopId) {
    if (FStopFd >= 0) ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, FStopFd, nullptr);
    FStopFd = -1;
    FStopId = 0;
    if (signal) {
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.u32 = 2;
      if (::epoll_ctl(FEpoll, EPOLL_CTL_ADD, signal->Fd(), &ev) != 0) return errno;
      FStopFd = signal->Fd();
      FStopId = stopId;
    }
  }
  const int64_t deadline = timeoutMs < 0 ? 0 : NowNs() + MsToNs(static_cast<uint64_t>(timeoutMs));
  for (;;) {
    if (FMaskSerial.load() != maskSerial) return 0;  // the mask changed under the wait
    if (FEventDying) return ECANCELED;
    const uint32_t mask = FMask.load();
    int64_t waitNs = timeoutMs < 0 ? -1 : std::max<int64_t>(deadline - NowNs(), 0);
    if (FTxWatch.load() && (mask & EV_TXEMPTY_BIT) && FTxQueued.load() == 0) {
      int queued = 0;
      if (FHungUp.load() || (OutQueue(queued) == 0 && queued == 0)) {
        FTxWatch.store(false);
        FPending.fetch_or(EV_TXEMPTY_BIT);
      } else {
        const int64_t drain = DrainNs(queued);
        waitNs = waitNs < 0 ? drain : std::min(waitNs, drain);
      }
    }
    const uint32_t pending = FPending.exchange(0) & mask;
    if (pending) {
      events = pending;
      return 0;
    }
    if (stop && stop->IsSet()) return 0;
    if (timeoutMs >= 0 && deadline - NowNs() <= 0) return 0;
    epoll_event evs[4];
    const int waitMs = waitNs < 0 ? -1 : static_cast<int>((waitNs + kNsPerMs - 1) / kNsPerMs);
    const int n = ::epoll_wait(FEpoll, evs, 4, waitMs);
    CountWakeup();
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    uint32_t bits = 0;
    for (int i = 0; i < n; ++i) {
      switch (evs[i].data.u32) {
        case 0:  // the terminal
          if (evs[i].events & (EPOLLHUP | EPOLLERR)) {
            // Report the loss once, then stop watching: a hung-up terminal
            // stays "ready" and would wake the thread for ever.
            Hangup();
            ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, FFd, nullptr);
            bits |= mask & EV_ERR_BIT;
          } else if (evs[i].events & EPOLLIN) {
            if (mask & EV_RXFLAG_BIT) {
              std::lock_guard<std::mutex> lock(FIoMutex);
              PullLocked();
            }
            bits |= RxEdgeEvents(mask);
          }
          break;
        case 1:  // a mask change, a transfer or the end of the device
          DrainFd(FWakeFd.load());
          break;
        default:  // the stop signal: looked at above
          break;
      }
    }
    if (bits) FPending.fetch_or(bits);
  }
}

// ---------------------------------------------------------------------------
// Modem lines

int TLinuxDevice::ModemStatus(int& bits) {
  bits = 0;
  if (FModemUnsupported.load()) return 0;
  if (::ioctl(FFd, TIOCMGET, &bits) == 0) return 0;
  const int err = errno;
  bits = 0;
  if (Unsupported(err)) {
    FModemUnsupported.store(true);
    return 0;
  }
  return err;
}

int TLinuxDevice::ModemBits(int request, int bits) {
  if (FModemUnsupported.load()) return 0;
  if (::ioctl(FFd, request, &bits) == 0) return 0;
  const int err = errno;
  if (Unsupported(err)) {
    FModemUnsupported.store(true);
    return 0;
  }
  return err;
}

void TLinuxDevice::StartModemHelper() {
  std::lock_guard<std::mutex> lock(FModemMutex);
  if (FModemRunning) return;
  // The helper starts with every signal blocked, so that none of the
  // program's is ever handled on it.  Without it, modem-line events stay
  // unreported.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  FModemRunning = ::pthread_create(&FModemThread, nullptr, ModemHelperMain, this) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void TLinuxDevice::StopModemHelper() {
  std::lock_guard<std::mutex> lock(FModemMutex);
  if (!FModemRunning) return;
  ::pthread_cancel(FModemThread);  // ends its wait, or the wait it is about to start
  ::pthread_join(FModemThread, nullptr);
  FModemRunning = false;
}

void TLinuxDevice::ModemLoop() {
  int ignored;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &ignored);
  int previous = 0;
  serial_icounter_struct before{};
  const bool counts = ::ioctl(FFd, TIOCGICOUNT, &before) == 0;
  if (::ioctl(FFd, TIOCMGET, &previous) != 0 && !StandIn()) {
    if (Unsupported(errno)) FMiwaitUnsupported.store(true);
    return;
  }
  for (;;) {
    if (CancellableLineWait(FFd) != 0) {
      if (errno == EINTR) continue;
      if (Unsupported(errno)) FMiwaitUnsupported.store(true);
      return;  // gone, or cannot wait: modem events stay unreported
    }
    uint32_t bits = 0;
    serial_icounter_struct after{};
    if (counts && ::ioctl(FFd, TIOCGICOUNT, &after) == 0) {
      if (after.cts != before.cts) bits |= EV_CTS_BIT;
      if (after.dsr != before.dsr) bits |= EV_DSR_BIT;
      if (after.dcd != before.dcd) bits |= EV_RLSD_BIT;
      if (after.rng != before.rng) bits |= EV_RING_BIT;
      before = after;
    } else {
      int now = 0;
      if (::ioctl(FFd, TIOCMGET, &now) != 0) return;
      const int changed = now ^ previous;
      if (changed & TIOCM_CTS) bits |= EV_CTS_BIT;
      if (changed & TIOCM_DSR) bits |= EV_DSR_BIT;
      if (changed & TIOCM_CD) bits |= EV_RLSD_BIT;
      if ((previous & TIOCM_RNG) && !(now & TIOCM_RNG)) bits |= EV_RING_BIT;
      previous = now;
    }
    if (bits) {
      FPending.fetch_or(bits);
      Kick();
    }
  }
}

}  // namespace cport::lnx

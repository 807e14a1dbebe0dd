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
#include <chrono>

#include "ComDeviceLinux.h"

namespace cport::lnx {

namespace {

TModemLineWait gLineWait = nullptr;

int LineWait(int fd) {
  if (gLineWait) return gLineWait(fd);
  return ::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG);
}

// The helper sleeps in the kernel until a modem line changes; only a signal
// ends that sleep early, and only one whose handler does not ask for a
// restart.  The driver claims a real-time signal that the program left at
// its default, installs a handler that does nothing there, and unblocks it
// in the helper alone.  It never touches a signal the program has set up,
// and claims another one should the program take its signal over later.
std::mutex gWakeMutex;
int gWakeSignal = 0;

void WakeHandler(int) {}

bool Ours(int sig) {
  struct sigaction cur {};
  return sigaction(sig, nullptr, &cur) == 0 && !(cur.sa_flags & SA_SIGINFO) && cur.sa_handler == WakeHandler &&
         !(cur.sa_flags & SA_RESTART);
}

int ClaimWakeSignal() {
  std::lock_guard<std::mutex> lock(gWakeMutex);
  if (gWakeSignal && Ours(gWakeSignal)) return gWakeSignal;
  gWakeSignal = 0;
  for (int sig = SIGRTMIN + 3; sig <= SIGRTMAX; ++sig) {
    struct sigaction cur {};
    if (sigaction(sig, nullptr, &cur) != 0) continue;
    if (Ours(sig)) {
      gWakeSignal = sig;
      break;
    }
    if ((cur.sa_flags & SA_SIGINFO) || cur.sa_handler != SIG_DFL) continue;  // the program's
    struct sigaction sa {};
    sa.sa_handler = WakeHandler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: the wait must end with EINTR
    if (sigaction(sig, &sa, nullptr) == 0) {
      gWakeSignal = sig;
      break;
    }
  }
  return gWakeSignal;
}

}  // namespace

void SetModemLineWaitForTesting(TModemLineWait wait) { gLineWait = wait; }

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
    ev.events = EPOLLIN | EPOLLET;
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

int TLinuxDevice::SetCommMask(uint32_t mask) {
  FMask.store(mask);
  FPending.store(0);
  {
    // While the event character is watched, arrivals go through the
    // driver's receive queue, where it can be seen at once.
    std::lock_guard<std::mutex> lock(FIoMutex);
    FRxWatch = (mask & EV_RXFLAG_BIT) != 0;
    FRxQueued = FRxWatch || FRxHead < FRxQueue.size();
  }
  if (mask != 0) {
    if (int err = EnsureEventWait()) return err;
    // Only what happens from now on counts: drop an edge left from before.
    epoll_event evs[4];
    ::epoll_wait(FEpoll, evs, 4, 0);
    DrainFd(FWakeFd);
    if (FCountSupported) ::ioctl(FFd, TIOCGICOUNT, &FEventCount);
    FRx80Above = false;
  }
  const uint32_t modem = EV_CTS_BIT | EV_DSR_BIT | EV_RLSD_BIT | EV_RING_BIT;
  if ((mask & modem) && (gLineWait || (!FModemUnsupported.load() && !FMiwaitUnsupported.load())))
    StartModemHelper();
  else
    StopModemHelper();
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
    int in = 0;
    if (::ioctl(FFd, FIONREAD, &in) == 0) {
      const uint64_t held = static_cast<uint64_t>(in) + FRxQueueSize.load();
      const bool above = held * 10 >= static_cast<uint64_t>(FInputSize.load()) * 8;
      if (above && !FRx80Above) bits |= EV_RX80FULL_BIT;
      FRx80Above = above;
    }
  }
  return bits;
}

int TLinuxDevice::WaitCommEvent(uint32_t& events, TSignal* stop, int32_t timeoutMs) {
  events = 0;
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
        case 1:  // helper or transfer path
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
  if (FModemThread.joinable()) return;
  // Without a signal to end its wait the helper could not be stopped:
  // modem-line events then stay unreported.
  FModemSignal = ClaimWakeSignal();
  if (!FModemSignal) return;
  FModemStop.store(false);
  FModemDone = false;
  FModemThread = std::thread([this] {
    // Whatever the opening thread blocked, the helper takes its signal.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, FModemSignal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ModemLoop();
  });
}

void TLinuxDevice::StopModemHelper() {
  std::unique_lock<std::mutex> lock(FModemMutex);
  if (!FModemThread.joinable()) return;
  FModemStop.store(true);
  // The signal may land just before the helper enters its wait: repeat it,
  // less and less often, until the helper has left.
  for (int ms = 1; !FModemDone; ms = std::min(ms * 2, 50)) {
    pthread_kill(FModemThread.native_handle(), FModemSignal);
    FModemCv.wait_for(lock, std::chrono::milliseconds(ms));
  }
  lock.unlock();
  FModemThread.join();
}

void TLinuxDevice::ModemLoop() {
  int previous = 0;
  serial_icounter_struct before{};
  const bool counts = ::ioctl(FFd, TIOCGICOUNT, &before) == 0;
  if (::ioctl(FFd, TIOCMGET, &previous) != 0 && !gLineWait) {
    if (Unsupported(errno)) FMiwaitUnsupported.store(true);
  } else {
    while (!FModemStop.load()) {
      if (LineWait(FFd) != 0) {
        if (errno == EINTR) continue;
        if (Unsupported(errno)) FMiwaitUnsupported.store(true);
        break;  // gone, or cannot wait: modem events stay unreported
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
        if (::ioctl(FFd, TIOCMGET, &now) != 0) break;
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
  std::lock_guard<std::mutex> lock(FModemMutex);
  FModemDone = true;
  FModemCv.notify_all();
}

}  // namespace cport::lnx

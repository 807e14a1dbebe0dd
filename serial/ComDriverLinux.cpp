// The Linux driver: termios and ioctls on a terminal device opened
// non-blocking.  Overlapped transfers are carried out in user space: a
// transfer moves what it can at once and completes inside GetResult, which
// waits with poll() on a monotonic clock within the time-outs.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "ComDriverLinux.h"

namespace cport::lnx {

namespace {

constexpr int64_t kNsPerMs = 1000000;
// Longest wait the driver computes (a day); larger time-outs wait that long
// and then look again, so arithmetic never overflows.
constexpr int64_t kMaxWaitMs = 24LL * 3600 * 1000;

int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t MsToNs(uint64_t ms) { return static_cast<int64_t>(std::min<uint64_t>(ms, kMaxWaitMs)) * kNsPerMs; }

// A device that has no modem lines or error counters (a pseudo-terminal)
// answers these.
bool Unsupported(int err) { return err == ENOTTY || err == EINVAL; }

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The signal that ends a modem-line wait (TIOCMIWAIT) at once.  A handler
// that does nothing is installed unless the program has its own.
int ModemWakeSignal() { return SIGRTMIN + 3; }

void InstallModemWakeHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction old {};
    if (sigaction(ModemWakeSignal(), nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
      struct sigaction sa {};
      sa.sa_handler = [](int) {};
      sigemptyset(&sa.sa_mask);
      sa.sa_flags = 0;  // no SA_RESTART: the wait must end with EINTR
      sigaction(ModemWakeSignal(), &sa, nullptr);
    }
  });
}

// ---------------------------------------------------------------------------

class TLinuxSignal final : public TSignal {
 public:
  TLinuxSignal() : FFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (FFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  }
  ~TLinuxSignal() override { CloseFd(FFd); }
  void Set() override {
    if (!FSet.exchange(true)) {
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t r = ::write(FFd, &one, sizeof one);
    }
  }
  void Reset() override {
    if (FSet.exchange(false)) {
      uint64_t v;
      [[maybe_unused]] ssize_t r = ::read(FFd, &v, sizeof v);
    }
  }
  bool IsSet() const override { return FSet.load(); }
  int Fd() const { return FFd; }

 private:
  int FFd;
  std::atomic<bool> FSet{false};
};

// ---------------------------------------------------------------------------

class TLinuxDevice final : public TComDevice {
 public:
  TLinuxDevice(int fd, const termios& original, bool pseudoTerminal);
  ~TLinuxDevice() override;

  int SetCommState(const TDCB& dcb) override;
  int SetCommTimeouts(const TCommTimeouts& timeouts) override;
  int SetupComm(uint32_t inputSize, uint32_t outputSize) override;
  TIoResult StartWrite(TIoRequest& request, const void* buffer, uint32_t count) override;
  TIoResult StartRead(TIoRequest& request, void* buffer, uint32_t count) override;
  TIoResult GetResult(TIoRequest& request, bool wait) override;
  int PurgeComm(uint32_t flags) override;
  int ClearCommError(uint32_t& errors, TComStat& stat) override;
  int GetCommModemStatus(uint32_t& status) override;
  int EscapeCommFunction(uint32_t function) override;
  int TransmitCommChar(char c) override;
  int SetCommMask(uint32_t mask) override;
  int WaitCommEvent(uint32_t& events, TSignal* stop, int32_t timeoutMs) override;

 private:
  // -- transfers
  enum class TReadMode { Immediate, FirstByte, Timed };
  void Begin(TIoRequest& r, bool write, uint32_t count);
  ssize_t ReadAvailable(uint8_t* dst, size_t want);
  ssize_t WriteSome(const uint8_t* src, size_t n);
  int OutQueue(int& count);
  TIoResult ReadProgress(TIoRequest& r, bool wait);
  TIoResult WriteProgress(TIoRequest& r, bool wait);
  TIoResult Finish(TIoRequest& r, TIoStatus status, int error);
  int64_t DrainNs(int queued) const;
  // Sleeps until the device is ready for events, an abort, or timeoutNs.
  void PollWait(short events, int64_t timeoutNs);
  void TxStarted();

  // -- modem lines
  int ModemStatus(int& bits);
  int ModemBits(int request, int bits);
  void StartModemHelper();
  void StopModemHelper();
  void ModemLoop();

  // -- events
  int EnsureEventWait();
  void Kick();
  uint32_t RxEdgeEvents(uint32_t mask);
  void Hangup();

  const int FFd;
  const termios FOriginal;
  const bool FHasTxQueue;  // a pseudo-terminal passes bytes on at once
  termios FTermios;        // as last set
  // Whether output waits for CTS: the status query may run on the event
  // thread while the line is being set.
  std::atomic<bool> FCtsFlow{false};
  TLineExtras FLine;
  TCommTimeouts FTimeouts;
  TReadMode FReadMode = TReadMode::Immediate;
  TMarkState FMark;
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

  // Aborting transfers that wait on another thread.
  std::atomic<uint64_t> FAbortGeneration{0};
  std::mutex FAbortMutex;
  int FAbortFd = -1;
  int FWaiters = 0;
  bool FAbortSignalled = false;

  // Event wait (one waiter at a time: the event thread or WaitForEvent).
  std::atomic<uint32_t> FMask{0};
  std::atomic<uint32_t> FPending{0};
  std::atomic<bool> FTxWatch{false};
  std::atomic<int> FTxUserBytes{0};  // write requests not yet wholly in the kernel
  std::mutex FEventMutex;            // set-up of the descriptors below
  int FEpoll = -1;
  int FWakeFd = -1;
  int FStopFd = -1;  // stop signal currently in the epoll set
  serial_icounter_struct FEventCount{};
  bool FRx80Above = false;

  // Modem-line helper thread.
  std::mutex FModemMutex;
  std::condition_variable FModemCv;
  std::thread FModemThread;
  std::atomic<bool> FModemStop{false};
  bool FModemDone = true;
  std::atomic<bool> FMiwaitUnsupported{false};
};

TLinuxDevice::TLinuxDevice(int fd, const termios& original, bool pseudoTerminal)
    : FFd(fd), FOriginal(original), FHasTxQueue(!pseudoTerminal), FTermios(original) {
  // A pseudo-terminal has neither modem lines nor error counters: asking
  // would cost calls on every open.
  FModemUnsupported.store(pseudoTerminal);
  FMiwaitUnsupported.store(pseudoTerminal);
  serial_icounter_struct c{};
  if (!pseudoTerminal && ::ioctl(FFd, TIOCGICOUNT, &c) == 0) {
    FCountSupported = true;
    FStatusCount = c;
    FEventCount = c;
  }
  // Until the first SetCommTimeouts: return at once with what has arrived.
  FTimeouts.ReadIntervalTimeout = TIMEOUT_ALL_BITS;
}

TLinuxDevice::~TLinuxDevice() {
  StopModemHelper();
  if (FRs485) {
    serial_rs485 rs{};
    if (::ioctl(FFd, TIOCGRS485, &rs) == 0) {
      rs.flags &= ~static_cast<__u32>(SER_RS485_ENABLED);
      ::ioctl(FFd, TIOCSRS485, &rs);
    }
  }
  // Give the line back as it was found; a hung-up device refuses, harmlessly.
  SetLine(FFd, KernelLine(FOriginal), 0, nullptr);
  ::ioctl(FFd, TIOCNXCL);
  CloseFd(FEpoll);
  CloseFd(FWakeFd);
  CloseFd(FAbortFd);
  ::close(FFd);
}

// ---------------------------------------------------------------------------
// Line settings

int TLinuxDevice::SetCommState(const TDCB& dcb) {
  termios t = FTermios;
  TLineExtras x;
  if (int err = DcbToTermios(dcb, t, x)) return err;
  uint32_t actual = 0;
  if (int err = SetLine(FFd, KernelLine(t), x.CustomBaud ? x.Baud : 0, x.CustomBaud ? &actual : nullptr))
    return err;
  FTermios = t;
  FCtsFlow.store((t.c_cflag & CRTSCTS) != 0);
  if (x.CustomBaud) {
    // A driver that cannot make the rate silently takes another one; a line
    // more than 3 % off would garble every byte, so say so.
    const uint64_t diff = actual > x.Baud ? actual - x.Baud : x.Baud - actual;
    if (diff * 100 > static_cast<uint64_t>(x.Baud) * 3) return EINVAL;
  }
  // A device without modem lines (a pseudo-terminal) carries the rest.
  if (x.ModemSet)
    if (int err = ModemBits(TIOCMBIS, x.ModemSet)) return err;
  if (x.ModemClear)
    if (int err = ModemBits(TIOCMBIC, x.ModemClear)) return err;
  if (x.Rs485 != FRs485) {
    serial_rs485 rs{};
    bool done = false;
    if (::ioctl(FFd, TIOCGRS485, &rs) == 0) {
      if (x.Rs485)
        rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
      else
        rs.flags &= ~static_cast<__u32>(SER_RS485_ENABLED);
      done = ::ioctl(FFd, TIOCSRS485, &rs) == 0;
    }
    if (done)
      FRs485 = x.Rs485;
    else if (x.Rs485)
      ModemBits(TIOCMBIS, TIOCM_RTS);  // nearest: RTS held high while open
  }
  if (x.Marked != FLine.Marked) FMark = TMarkState{};
  FLine = x;
  return 0;
}

int TLinuxDevice::SetCommTimeouts(const TCommTimeouts& timeouts) {
  FTimeouts = timeouts;
  const bool intervalOnly = timeouts.ReadIntervalTimeout == TIMEOUT_ALL_BITS;
  if (intervalOnly && timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0)
    FReadMode = TReadMode::Immediate;  // return at once with what has arrived
  else if (intervalOnly && timeouts.ReadTotalTimeoutMultiplier == TIMEOUT_ALL_BITS &&
           timeouts.ReadTotalTimeoutConstant > 0 && timeouts.ReadTotalTimeoutConstant < TIMEOUT_ALL_BITS)
    FReadMode = TReadMode::FirstByte;  // return with the first bytes, waiting up to the constant
  else
    FReadMode = TReadMode::Timed;
  return 0;
}

int TLinuxDevice::SetupComm(uint32_t inputSize, uint32_t /*outputSize*/) {
  // The kernel's queues have fixed sizes; the input size still sets where
  // the receive queue counts as 80 percent full.
  FInputSize.store(inputSize);
  return 0;
}

// ---------------------------------------------------------------------------
// Transfers

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
  const uint64_t baud = std::max<uint32_t>(FLine.Baud, 1);
  const int64_t ns = static_cast<int64_t>(static_cast<uint64_t>(queued) * FLine.BitsPerChar * 1000000000ULL / baud);
  return std::clamp<int64_t>(ns, kNsPerMs, 100 * kNsPerMs);
}

TIoResult TLinuxDevice::Finish(TIoRequest& r, TIoStatus status, int error) {
  if (r.Pending && r.Write && r.Transferred < r.Requested) FTxUserBytes.fetch_sub(1);
  r.Pending = false;
  r.Error = status == TIoStatus::Failed ? error : 0;
  TIoResult res;
  res.Status = status;
  res.Transferred = status == TIoStatus::Completed ? r.Transferred : 0;
  res.Error = r.Error;
  return res;
}

void TLinuxDevice::TxStarted() {
  if (FMask.load() & EV_TXEMPTY_BIT) {
    FTxWatch.store(true);
    Kick();
  }
}

void TLinuxDevice::Begin(TIoRequest& r, bool write, uint32_t count) {
  // A new transfer on the request: its working fields start afresh.
  r.Pending = false;
  r.Transferred = 0;
  r.Error = 0;
  r.Write = write;
  r.ReadBuffer = nullptr;
  r.WriteBuffer = nullptr;
  r.Requested = count;
  r.DeadlineNs = 0;
  r.IntervalNs = 0;
  r.LastByteNs = 0;
  r.Generation = FAbortGeneration.load(std::memory_order_relaxed);
}

TIoResult TLinuxDevice::StartRead(TIoRequest& r, void* buffer, uint32_t count) {
  Begin(r, false, count);
  r.ReadBuffer = static_cast<uint8_t*>(buffer);
  if (count == 0) return Finish(r, TIoStatus::Completed, 0);
  const ssize_t n = ReadAvailable(r.ReadBuffer, count);
  if (n < 0) {
    TIoResult res;
    res.Status = TIoStatus::Failed;
    res.Error = static_cast<int>(-n);
    return res;  // not started: the record stays as a fresh one
  }
  r.Transferred = static_cast<uint32_t>(n);
  if (r.Transferred == count || FReadMode == TReadMode::Immediate || (FReadMode == TReadMode::FirstByte && n > 0))
    return Finish(r, TIoStatus::Completed, 0);

  const TCommTimeouts& to = FTimeouts;
  const int64_t now = NowNs();
  if (FReadMode == TReadMode::FirstByte) {
    // The first byte ends such a read; a negative interval marks the mode.
    r.DeadlineNs = now + MsToNs(to.ReadTotalTimeoutConstant);
    r.IntervalNs = -1;
  } else {
    const uint64_t total = static_cast<uint64_t>(to.ReadTotalTimeoutMultiplier) * count + to.ReadTotalTimeoutConstant;
    r.DeadlineNs = total ? now + MsToNs(total) : 0;
    const bool noInterval = to.ReadIntervalTimeout == 0 || to.ReadIntervalTimeout == TIMEOUT_ALL_BITS;
    r.IntervalNs = noInterval ? 0 : MsToNs(to.ReadIntervalTimeout);
  }
  r.LastByteNs = n > 0 ? now : 0;
  r.Pending = true;
  TIoResult res;
  res.Status = TIoStatus::Pending;
  return res;
}

TIoResult TLinuxDevice::StartWrite(TIoRequest& r, const void* buffer, uint32_t count) {
  Begin(r, true, count);
  r.WriteBuffer = static_cast<const uint8_t*>(buffer);
  if (count == 0) return Finish(r, TIoStatus::Completed, 0);
  const TCommTimeouts to = FTimeouts;
  const ssize_t n = WriteSome(r.WriteBuffer, count);
  if (n < 0) {
    TIoResult res;
    res.Status = TIoStatus::Failed;
    res.Error = static_cast<int>(-n);
    return res;
  }
  r.Transferred = static_cast<uint32_t>(n);
  if (n > 0) TxStarted();
  int queued = 0;
  if (r.Transferred == count && OutQueue(queued) == 0 && queued == 0) return Finish(r, TIoStatus::Completed, 0);
  const uint64_t total = static_cast<uint64_t>(to.WriteTotalTimeoutMultiplier) * count + to.WriteTotalTimeoutConstant;
  r.DeadlineNs = total ? NowNs() + MsToNs(total) : 0;
  r.Pending = true;
  if (r.Transferred < count) FTxUserBytes.fetch_add(1);
  TIoResult res;
  res.Status = TIoStatus::Pending;
  return res;
}

TIoResult TLinuxDevice::GetResult(TIoRequest& r, bool wait) {
  if (!r.Pending) {
    TIoResult res;
    res.Status = r.Error ? TIoStatus::Failed : TIoStatus::Completed;
    res.Transferred = r.Error ? 0 : r.Transferred;
    res.Error = r.Error;
    return res;
  }
  return r.Write ? WriteProgress(r, wait) : ReadProgress(r, wait);
}

TIoResult TLinuxDevice::ReadProgress(TIoRequest& r, bool wait) {
  bool justStarted = true;  // StartRead has just looked; poll first
  for (;;) {
    if (FAbortGeneration.load() != r.Generation) return Finish(r, TIoStatus::Failed, ECANCELED);
    if (!justStarted || !wait) {
      const ssize_t n = ReadAvailable(r.ReadBuffer + r.Transferred, r.Requested - r.Transferred);
      if (n < 0) return Finish(r, TIoStatus::Failed, static_cast<int>(-n));
      if (n > 0) {
        r.Transferred += static_cast<uint32_t>(n);
        r.LastByteNs = NowNs();
        if (r.IntervalNs < 0) return Finish(r, TIoStatus::Completed, 0);
      }
    }
    justStarted = false;
    if (r.Transferred == r.Requested) return Finish(r, TIoStatus::Completed, 0);
    const int64_t now = NowNs();
    int64_t remaining = INT64_MAX;
    if (r.DeadlineNs) remaining = r.DeadlineNs - now;
    if (r.IntervalNs > 0 && r.Transferred > 0) remaining = std::min(remaining, r.LastByteNs + r.IntervalNs - now);
    if (remaining <= 0) return Finish(r, TIoStatus::Completed, 0);
    if (!wait) {
      TIoResult res;
      res.Status = TIoStatus::Pending;
      return res;
    }
    PollWait(POLLIN, remaining == INT64_MAX ? MsToNs(kMaxWaitMs) : remaining);
  }
}

TIoResult TLinuxDevice::WriteProgress(TIoRequest& r, bool wait) {
  for (;;) {
    if (FAbortGeneration.load() != r.Generation) return Finish(r, TIoStatus::Failed, ECANCELED);
    if (r.Transferred < r.Requested) {
      const ssize_t n = WriteSome(r.WriteBuffer + r.Transferred, r.Requested - r.Transferred);
      if (n < 0) return Finish(r, TIoStatus::Failed, static_cast<int>(-n));
      if (n > 0) {
        r.Transferred += static_cast<uint32_t>(n);
        if (r.Transferred == r.Requested) FTxUserBytes.fetch_sub(1);
        TxStarted();
      }
    }
    int queued = 0;
    if (int err = OutQueue(queued)) return Finish(r, TIoStatus::Failed, err);
    if (r.Transferred == r.Requested && queued == 0) return Finish(r, TIoStatus::Completed, 0);
    const int64_t now = NowNs();
    if (r.DeadlineNs && now >= r.DeadlineNs) {
      // Timed out: bytes still queued in the kernel are dropped so that they
      // cannot go out later after the caller was told they were not sent.
      if (queued > 0) ::tcflush(FFd, TCOFLUSH);
      r.Transferred -= std::min<uint32_t>(r.Transferred, static_cast<uint32_t>(queued));
      return Finish(r, TIoStatus::Completed, 0);
    }
    if (!wait) {
      TIoResult res;
      res.Status = TIoStatus::Pending;
      return res;
    }
    int64_t remaining = r.DeadlineNs ? r.DeadlineNs - now : MsToNs(kMaxWaitMs);
    if (r.Transferred < r.Requested)
      PollWait(POLLOUT, remaining);
    else
      PollWait(0, std::min(remaining, DrainNs(queued)));  // the queue drains at the line's rate
  }
}

void TLinuxDevice::PollWait(short events, int64_t timeoutNs) {
  {
    std::lock_guard<std::mutex> lock(FAbortMutex);
    if (FAbortFd < 0) FAbortFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ++FWaiters;
  }
  pollfd fds[2] = {{FFd, events, 0}, {FAbortFd, POLLIN, 0}};
  const nfds_t n = FAbortFd >= 0 ? 2 : 1;
  timespec ts{static_cast<time_t>(timeoutNs / 1000000000), static_cast<long>(timeoutNs % 1000000000)};
  ::ppoll(fds, n, &ts, nullptr);
  {
    std::lock_guard<std::mutex> lock(FAbortMutex);
    if (--FWaiters == 0 && FAbortSignalled) {
      uint64_t v;
      [[maybe_unused]] ssize_t rr = ::read(FAbortFd, &v, sizeof v);
      FAbortSignalled = false;
    }
  }
}

// ---------------------------------------------------------------------------
// Status and control

int TLinuxDevice::PurgeComm(uint32_t flags) {
  if (flags & (PURGE_TXABORT_FLAG | PURGE_RXABORT_FLAG)) {
    FAbortGeneration.fetch_add(1);
    std::lock_guard<std::mutex> lock(FAbortMutex);
    if (FWaiters > 0 && FAbortFd >= 0 && !FAbortSignalled) {
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t w = ::write(FAbortFd, &one, sizeof one);
      FAbortSignalled = true;
    }
  }
  const bool rx = flags & PURGE_RXCLEAR_FLAG, tx = flags & PURGE_TXCLEAR_FLAG;
  if (rx || tx) {
    if (::tcflush(FFd, rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH)) != 0) {
      const int err = errno;
      if (!(FHungUp.load() && err == EIO)) return err;
    }
    if (rx) FMark = TMarkState{};
  }
  return 0;
}

int TLinuxDevice::ClearCommError(uint32_t& errors, TComStat& stat) {
  errors = 0;
  stat = TComStat{};
  int in = 0;
  if (::ioctl(FFd, FIONREAD, &in) != 0) {
    const int err = errno;
    if (!(FHungUp.load() && err == EIO)) return err;
    in = 0;
  }
  int out = 0;
  if (!FHungUp.load())
    if (int err = OutQueue(out)) return err;
  stat.cbInQue = static_cast<uint32_t>(std::max(in, 0));
  stat.cbOutQue = static_cast<uint32_t>(std::max(out, 0));
  {
    std::lock_guard<std::mutex> lock(FCountMutex);
    serial_icounter_struct c{};
    if (FCountSupported && ::ioctl(FFd, TIOCGICOUNT, &c) == 0) {
      if (c.frame != FStatusCount.frame) errors |= CE_FRAME_BIT;
      if (c.overrun != FStatusCount.overrun) errors |= CE_OVERRUN_BIT;
      if (c.parity != FStatusCount.parity) errors |= CE_RXPARITY_BIT;
      if (c.brk != FStatusCount.brk) errors |= CE_BREAK_BIT;
      if (c.buf_overrun != FStatusCount.buf_overrun) errors |= CE_RXOVER_BIT;
      FStatusCount = c;
    }
    if (FHangupErrorPending) {
      errors |= CE_IOE_BIT;
      FHangupErrorPending = false;
    }
  }
  // Of the hold states Linux tells only one: output waiting for CTS.
  if (FCtsFlow.load() && !FHungUp.load()) {
    int bits = 0;
    if (ModemStatus(bits) == 0 && !FModemUnsupported.load() && !(bits & TIOCM_CTS)) stat.Flags |= 0x01;
  }
  return 0;
}

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

int TLinuxDevice::GetCommModemStatus(uint32_t& status) {
  status = 0;
  int bits = 0;
  if (int err = ModemStatus(bits)) return err;
  if (bits & TIOCM_CTS) status |= MS_CTS_BIT;
  if (bits & TIOCM_DSR) status |= MS_DSR_BIT;
  if (bits & TIOCM_RNG) status |= MS_RING_BIT;
  if (bits & TIOCM_CD) status |= MS_RLSD_BIT;
  return 0;
}

int TLinuxDevice::EscapeCommFunction(uint32_t function) {
  int bits = 0;
  int request = 0;
  switch (function) {
    case ESC_SETXOFF: return ::tcflow(FFd, TCOOFF) == 0 ? 0 : errno;
    case ESC_SETXON: return ::tcflow(FFd, TCOON) == 0 ? 0 : errno;
    case ESC_SETBREAK: return ::ioctl(FFd, TIOCSBRK) == 0 ? 0 : errno;
    case ESC_CLRBREAK: return ::ioctl(FFd, TIOCCBRK) == 0 ? 0 : errno;
    case ESC_SETRTS: request = TIOCMBIS; bits = TIOCM_RTS; break;
    case ESC_CLRRTS: request = TIOCMBIC; bits = TIOCM_RTS; break;
    case ESC_SETDTR: request = TIOCMBIS; bits = TIOCM_DTR; break;
    case ESC_CLRDTR: request = TIOCMBIC; bits = TIOCM_DTR; break;
    default: return EINVAL;
  }
  // Asked for by name, a line the device does not have is a failure.
  return ::ioctl(FFd, request, &bits) == 0 ? 0 : errno;
}

int TLinuxDevice::TransmitCommChar(char c) {
  // No priority slot in a terminal's queue: the byte goes out next.
  for (;;) {
    if (::write(FFd, &c, 1) == 1) {
      TxStarted();
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

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
  if (FWakeFd < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t w = ::write(FWakeFd, &one, sizeof one);
}

int TLinuxDevice::SetCommMask(uint32_t mask) {
  FMask.store(mask);
  FPending.store(0);
  if (mask != 0) {
    if (int err = EnsureEventWait()) return err;
    // Only what happens from now on counts: drop an edge left from before.
    epoll_event evs[4];
    ::epoll_wait(FEpoll, evs, 4, 0);
    uint64_t v;
    [[maybe_unused]] ssize_t r = ::read(FWakeFd, &v, sizeof v);
    if (FCountSupported) ::ioctl(FFd, TIOCGICOUNT, &FEventCount);
    FRx80Above = false;
  }
  const uint32_t modem = EV_CTS_BIT | EV_DSR_BIT | EV_RLSD_BIT | EV_RING_BIT;
  if ((mask & modem) && !FModemUnsupported.load() && !FMiwaitUnsupported.load())
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
      const bool above = static_cast<uint64_t>(in) * 10 >= static_cast<uint64_t>(FInputSize.load()) * 8;
      if (above && !FRx80Above) bits |= EV_RX80FULL_BIT;
      FRx80Above = above;
    }
  }
  return bits;
}

int TLinuxDevice::WaitCommEvent(uint32_t& events, TSignal* stop, int32_t timeoutMs) {
  events = 0;
  if (int err = EnsureEventWait()) return err;
  int stopFd = -1;
  if (stop) {
    auto* s = dynamic_cast<TLinuxSignal*>(stop);
    if (!s) return EINVAL;
    stopFd = s->Fd();
  }
  if (stopFd != FStopFd) {
    if (FStopFd >= 0) ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, FStopFd, nullptr);
    FStopFd = -1;
    if (stopFd >= 0) {
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.u32 = 2;
      if (::epoll_ctl(FEpoll, EPOLL_CTL_ADD, stopFd, &ev) != 0) return errno;
      FStopFd = stopFd;
    }
  }
  const int64_t deadline = timeoutMs < 0 ? 0 : NowNs() + MsToNs(static_cast<uint64_t>(timeoutMs));
  for (;;) {
    const uint32_t mask = FMask.load();
    int64_t waitNs = timeoutMs < 0 ? -1 : std::max<int64_t>(deadline - NowNs(), 0);
    if (FTxWatch.load() && (mask & EV_TXEMPTY_BIT) && FTxUserBytes.load() == 0) {
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
            bits |= RxEdgeEvents(mask);
          }
          break;
        case 1: {  // helper or write path
          uint64_t v;
          [[maybe_unused]] ssize_t r = ::read(FWakeFd, &v, sizeof v);
          break;
        }
        default:  // the stop signal: looked at above
          break;
      }
    }
    if (bits) FPending.fetch_or(bits);
  }
}

// ---------------------------------------------------------------------------
// Modem lines

void TLinuxDevice::StartModemHelper() {
  std::lock_guard<std::mutex> lock(FModemMutex);
  if (FModemThread.joinable()) return;
  InstallModemWakeHandler();
  FModemStop.store(false);
  FModemDone = false;
  FModemThread = std::thread([this] { ModemLoop(); });
}

void TLinuxDevice::StopModemHelper() {
  std::unique_lock<std::mutex> lock(FModemMutex);
  if (!FModemThread.joinable()) return;
  FModemStop.store(true);
  // The signal may land just before the helper enters its wait; repeat it
  // until the helper has left.
  while (!FModemDone) {
    pthread_kill(FModemThread.native_handle(), ModemWakeSignal());
    FModemCv.wait_for(lock, std::chrono::milliseconds(2));
  }
  lock.unlock();
  FModemThread.join();
}

void TLinuxDevice::ModemLoop() {
  int previous = 0;
  serial_icounter_struct before{};
  const bool counts = ::ioctl(FFd, TIOCGICOUNT, &before) == 0;
  if (::ioctl(FFd, TIOCMGET, &previous) != 0) {
    if (Unsupported(errno)) FMiwaitUnsupported.store(true);
  } else {
    while (!FModemStop.load()) {
      if (::ioctl(FFd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) != 0) {
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

// ---------------------------------------------------------------------------

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  // Unix98 pseudo-terminal slaves: majors 136 to 143.
  const unsigned maj = major(st.st_rdev);
  return S_ISCHR(st.st_mode) && maj >= 136 && maj <= 143;
}

class TLinuxDriver final : public TComDriver {
 public:
  int Open(const std::string& port, std::unique_ptr<TComDevice>& device) override {
    std::string path;
    if (!PortPath(port, path)) return port.empty() ? ENOENT : EINVAL;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    auto fail = [fd](int err) {
      ::close(fd);
      return err;
    };
    termios original{};
    if (::tcgetattr(fd, &original) != 0) return fail(errno);  // not a terminal: ENOTTY
    // Exclusive: the lock keeps out every other opener (root included), the
    // terminal's own flag every unprivileged one.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno);
    if (::ioctl(fd, TIOCEXCL) != 0) return fail(errno);
    const bool pseudoTerminal = IsPseudoTerminal(fd);
    // USB adapters hold received bytes up to 16 ms unless asked not to.
    serial_struct ss{};
    if (!pseudoTerminal && ::ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
      ss.flags |= ASYNC_LOW_LATENCY;
      ::ioctl(fd, TIOCSSERIAL, &ss);
    }
    try {
      device = std::make_unique<TLinuxDevice>(fd, original, pseudoTerminal);
    } catch (const std::bad_alloc&) {
      ::ioctl(fd, TIOCNXCL);
      return fail(ENOMEM);
    }
    return 0;
  }

  int EnumPorts(std::vector<std::string>& names) override;
  int EnumPortInfo(std::vector<TComPortInfo>& ports) override { return EnumSerialPortInfo(ports); }

  std::unique_ptr<TSignal> CreateSignal() override { return std::make_unique<TLinuxSignal>(); }

  int InvalidHandleError() const override { return EBADF; }
};

}  // namespace

int TLinuxDriver::EnumPorts(std::vector<std::string>& names) { return EnumSerialDevices(names); }

}  // namespace cport::lnx

namespace cport {

TComDriver& DefaultComDriver() {
  static lnx::TLinuxDriver driver;
  return driver;
}

}  // namespace cport

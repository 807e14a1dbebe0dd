// SPDX-License-Identifier: MIT
// The Linux driver: termios and ioctls on a terminal device opened
// non-blocking.  This file opens devices and holds their line settings,
// status and control; transfers and events have files of their own (see
// ComDeviceLinux.h).
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <system_error>

#include "ComDeviceLinux.h"

namespace cport::lnx {

int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void SignalFd(int fd) {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t w = ::write(fd, &one, sizeof one);
}

void DrainFd(int fd) {
  uint64_t v;
  [[maybe_unused]] ssize_t r = ::read(fd, &v, sizeof v);
}

namespace {
std::atomic<uint64_t> gWakeups{0};
// The devices this process has open.  The record lock on a device belongs
// to the process, so it cannot tell two opens of one process apart.
std::mutex gOpenMutex;
std::set<dev_t> gOpenDevices;
}  // namespace

void CountWakeup() { gWakeups.fetch_add(1, std::memory_order_relaxed); }
uint64_t WakeupsForTesting() { return gWakeups.load(); }

// ---------------------------------------------------------------------------

namespace {
std::atomic<uint64_t> gNextSignalId{1};
}  // namespace

TLinuxSignal::TLinuxSignal() : FFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), FId(gNextSignalId.fetch_add(1)) {
  if (FFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

void TLinuxSignal::Set() {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FSet.load()) return;
  SignalFd(FFd);
  FSet.store(true);
}

void TLinuxSignal::Reset() {
  std::lock_guard<std::mutex> lock(FMutex);
  if (!FSet.load()) return;
  DrainFd(FFd);
  FSet.store(false);
}

// ---------------------------------------------------------------------------

TLinuxDevice::TLinuxDevice(int fd, dev_t deviceNumber, const termios& original, bool pseudoTerminal)
    : FFd(fd), FDeviceNumber(deviceNumber), FOriginal(original), FHasTxQueue(!pseudoTerminal), FTermios(original) {
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
  std::lock_guard<std::mutex> lock(FIoMutex);
  UpdatePlainReads();
}

TLinuxDevice::~TLinuxDevice() {
  {
    // End what still waits in the device, and wait until its threads left.
    TLock lock(FIoMutex);
    AbortLocked(FRx);
    AbortLocked(FTx);
    FDying = true;
    UpdatePlainReads();
    FWorkerStop = true;
    KickWorker();
    FIoDone.wait(lock, [this] { return FUsers == 0; });
  }
  if (FWorker.joinable()) FWorker.join();
  StopModemHelper();
  {
    // And the event wait: its waiter leaves with ECANCELED.
    std::unique_lock<std::mutex> lock(FEventMutex);
    FEventDying = true;
    Kick();
    FEventLeft.wait(lock, [this] { return FEventWaiters == 0; });
  }
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
  if (FWakeFd.load() >= 0) ::close(FWakeFd.load());
  CloseFd(FWorkerWake);
  CloseFd(FRx.WakeFd);
  CloseFd(FTx.WakeFd);
  ::close(FFd);  // releases the record lock
  std::lock_guard<std::mutex> lock(gOpenMutex);
  gOpenDevices.erase(FDeviceNumber);
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
  FDrainBaud.store(std::max<uint32_t>(x.Baud, 1));
  FDrainBits.store(x.BitsPerChar);
  {
    // The read path runs on whichever thread moves a read.
    std::lock_guard<std::mutex> lock(FIoMutex);
    if (x.Marked != FLine.Marked) FMark = TMarkState{};
    FLine = x;
    UpdatePlainReads();
    FEvtChar = dcb.EvtChar;
  }
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
  return 0;
}

int TLinuxDevice::SetCommTimeouts(const TCommTimeouts& timeouts) {
  std::lock_guard<std::mutex> lock(FIoMutex);
  FTimeouts = timeouts;
  const bool intervalOnly = timeouts.ReadIntervalTimeout == TIMEOUT_ALL_BITS;
  if (intervalOnly && timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0)
    FReadMode = TReadMode::Immediate;  // return at once with what has arrived
  else if (intervalOnly && timeouts.ReadTotalTimeoutMultiplier == TIMEOUT_ALL_BITS &&
           timeouts.ReadTotalTimeoutConstant > 0 && timeouts.ReadTotalTimeoutConstant < TIMEOUT_ALL_BITS)
    FReadMode = TReadMode::FirstByte;  // return with the first bytes, waiting up to the constant
  else
    FReadMode = TReadMode::Timed;
  UpdatePlainReads();
  return 0;
}

int TLinuxDevice::SetupComm(uint32_t inputSize, uint32_t /*outputSize*/) {
  // The kernel's queues have fixed sizes; the input size still sets where
  // the receive queue counts as 80 percent full.
  FInputSize.store(inputSize);
  return 0;
}

// ---------------------------------------------------------------------------
// Status and control

int TLinuxDevice::ClearCommError(uint32_t& errors, TComStat& stat) {
  errors = 0;
  stat = TComStat{};
  {
    // Bytes the driver has taken into its own queue count too, and none
    // twice: nothing moves from the terminal to the queue meanwhile.
    std::lock_guard<std::mutex> lock(FIoMutex);
    int in = 0;
    if (::ioctl(FFd, FIONREAD, &in) != 0) {
      const int err = errno;
      if (!(FHungUp.load() && err == EIO)) return err;
      in = 0;
    }
    stat.cbInQue = static_cast<uint32_t>(std::max(in, 0) + static_cast<int64_t>(FRxRing.Count));
  }
  int out = 0;
  if (!FHungUp.load())
    if (int err = OutQueue(out)) return err;
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

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  // Unix98 pseudo-terminal slaves: majors 136 to 143.
  const unsigned maj = major(st.st_rdev);
  return S_ISCHR(st.st_mode) && maj >= 136 && maj <= 143;
}

namespace {

class TLinuxDriver final : public TComDriver {
 public:
  int Open(const std::string& port, std::unique_ptr<TComDevice>& device) override {
    std::string path;
    if (!PortPath(port, path)) return port.empty() ? ENOENT : EINVAL;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    dev_t key = 0;
    auto fail = [fd, &key](int err) {
      if (key) {
        std::lock_guard<std::mutex> lock(gOpenMutex);
        gOpenDevices.erase(key);
      }
      ::close(fd);
      return err;
    };
    termios original{};
    if (::tcgetattr(fd, &original) != 0) return fail(errno);  // not a terminal: ENOTTY
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(errno);
    {
      std::lock_guard<std::mutex> lock(gOpenMutex);
      if (!gOpenDevices.insert(st.st_rdev).second) return fail(EBUSY);
      key = st.st_rdev;
    }
    // Exclusive: a record lock keeps out every other process (root
    // included), the terminal's own flag every unprivileged opener.  The
    // record lock belongs to this process, not to the open file: a child
    // forked meanwhile shares the descriptor but never the lock, so neither
    // a child that runs on nor one that has exec'd or ended keeps the port.
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &whole) != 0) return fail(errno == EACCES ? EAGAIN : errno);
    if (::ioctl(fd, TIOCEXCL) != 0) return fail(errno);
    const bool pseudoTerminal = IsPseudoTerminal(fd);
    // USB adapters hold received bytes up to 16 ms unless asked not to.
    serial_struct ss{};
    if (!pseudoTerminal && ::ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
      ss.flags |= ASYNC_LOW_LATENCY;
      ::ioctl(fd, TIOCSSERIAL, &ss);
    }
    try {
      device = std::make_unique<TLinuxDevice>(fd, key, original, pseudoTerminal);
    } catch (const std::bad_alloc&) {
      ::ioctl(fd, TIOCNXCL);
      return fail(ENOMEM);
    }
    return 0;
  }

  int EnumPorts(std::vector<std::string>& names) override { return EnumSerialDevices(names); }
  int EnumPortInfo(std::vector<TComPortInfo>& ports) override { return EnumSerialPortInfo(ports); }

  std::unique_ptr<TSignal> CreateSignal() override { return std::make_unique<TLinuxSignal>(); }

  int InvalidHandleError() const override { return EBADF; }
};

}  // namespace

}  // namespace cport::lnx

namespace cport {

TComDriver& DefaultComDriver() {
  static lnx::TLinuxDriver driver;
  return driver;
}

}  // namespace cport

// SPDX-License-Identifier: MIT
// The Windows driver: the communications functions on a handle opened for
// overlapped I/O.  The system queues each direction's transfers in order,
// applies the time-outs, aborts on purge and signals completion through the
// request's event, so the device only keeps the bookkeeping between the
// caller's requests and the system's records.
#include <cstddef>
#include <cstring>
#include <system_error>

#include "ComDeviceWindows.h"

namespace cport::win {

namespace {

static_assert(sizeof(DCB) == sizeof(TDCB), "the device control block is the system's");
static_assert(offsetof(DCB, BaudRate) == offsetof(TDCB, BaudRate));
static_assert(offsetof(DCB, XonLim) == offsetof(TDCB, XonLim));
static_assert(offsetof(DCB, ByteSize) == offsetof(TDCB, ByteSize));
static_assert(offsetof(DCB, XonChar) == offsetof(TDCB, XonChar));
static_assert(offsetof(DCB, EvtChar) == offsetof(TDCB, EvtChar));
static_assert(sizeof(COMMTIMEOUTS) == sizeof(TCommTimeouts), "the time-outs are the system's");

TIoResult Completed(uint32_t transferred) {
  TIoResult r;
  r.Status = TIoStatus::Completed;
  r.Transferred = transferred;
  return r;
}

TIoResult Failed(int error) {
  TIoResult r;
  r.Status = TIoStatus::Failed;
  r.Error = error;
  return r;
}

TIoResult ResultOf(const TIoRequest& r) { return r.Error ? Failed(r.Error) : Completed(r.Transferred); }

int LastError() { return static_cast<int>(::GetLastError()); }

}  // namespace

// ---------------------------------------------------------------------------
// Records and names

DCB ToSystemDcb(const TDCB& dcb) {
  DCB d;
  std::memcpy(&d, &dcb, sizeof d);
  d.DCBlength = sizeof d;
  return d;
}

TDCB FromSystemDcb(const DCB& dcb) {
  TDCB d;
  std::memcpy(static_cast<void*>(&d), &dcb, sizeof d);
  return d;
}

COMMTIMEOUTS ToSystemTimeouts(const TCommTimeouts& t) {
  COMMTIMEOUTS c;
  c.ReadIntervalTimeout = t.ReadIntervalTimeout;
  c.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
  c.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
  c.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
  c.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
  return c;
}

std::wstring Widen(const std::string& s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring DevicePath(const std::string& port) {
  const std::wstring name = Widen(port);
  if (name.rfind(L"\\\\", 0) == 0) return name;
  return L"\\\\.\\" + name;
}

TWindowsSignal::TWindowsSignal() : FEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!FEvent) throw std::system_error(LastError(), std::system_category(), "CreateEvent");
}

// ---------------------------------------------------------------------------
// The device

TWindowsDevice::TWindowsDevice(HANDLE handle, const DCB& original, const COMMTIMEOUTS& originalTimeouts)
    : FHandle(handle), FOriginal(original), FOriginalTimeouts(originalTimeouts) {
  FWaitEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!FWaitEvent) throw std::system_error(LastError(), std::system_category(), "CreateEvent");
}

TWindowsDevice::~TWindowsDevice() {
  {
    // End what still waits in the device: the purge aborts the transfers,
    // an empty mask ends the event wait, and anything else is cancelled.
    TLock lock(FMutex);
    FDying = true;
    ::PurgeComm(FHandle, PURGE_TXABORT | PURGE_RXABORT);
    ::SetCommMask(FHandle, 0);
    ::CancelIoEx(FHandle, nullptr);
    FLeft.wait(lock, [this] { return FUsers == 0; });
    // Requests nobody waited for keep how they ended.
    for (auto& [request, o] : FActive) {
      DWORD n = 0;
      const BOOL ok = ::GetOverlappedResult(FHandle, &o->Ov, &n, TRUE);
      request->Pending = false;
      request->Transferred = n;
      request->Error = ok ? 0 : LastError();
    }
    FActive.clear();
  }
  DCB original = FOriginal;
  ::SetCommState(FHandle, &original);
  COMMTIMEOUTS timeouts = FOriginalTimeouts;
  ::SetCommTimeouts(FHandle, &timeouts);
  ::CloseHandle(FHandle);
  for (auto& o : FRecords) ::CloseHandle(o->Event);
  ::CloseHandle(FWaitEvent);
}

int TWindowsDevice::SetCommState(const TDCB& dcb) {
  DCB d = ToSystemDcb(dcb);
  return ::SetCommState(FHandle, &d) ? 0 : LastError();
}

int TWindowsDevice::SetCommTimeouts(const TCommTimeouts& timeouts) {
  COMMTIMEOUTS t = ToSystemTimeouts(timeouts);
  return ::SetCommTimeouts(FHandle, &t) ? 0 : LastError();
}

int TWindowsDevice::SetupComm(uint32_t inputSize, uint32_t outputSize) {
  return ::SetupComm(FHandle, inputSize, outputSize) ? 0 : LastError();
}

// ---------------------------------------------------------------------------
// Transfers

TWindowsDevice::TOverlapped* TWindowsDevice::Take() {
  if (FFree.empty()) {
    auto o = std::make_unique<TOverlapped>();
    o->Event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!o->Event) return nullptr;
    FRecords.push_back(std::move(o));
    FFree.push_back(FRecords.back().get());
  }
  TOverlapped* o = FFree.back();
  FFree.pop_back();
  o->Ov = OVERLAPPED{};
  o->Ov.hEvent = o->Event;
  o->Waiters = 0;
  o->Done = false;
  return o;
}

void TWindowsDevice::Give(TOverlapped* o) { FFree.push_back(o); }

TIoResult TWindowsDevice::StartWrite(TIoRequest& request, const void* buffer, uint32_t count) {
  return Start(request, true, const_cast<void*>(buffer), count);
}

TIoResult TWindowsDevice::StartRead(TIoRequest& request, void* buffer, uint32_t count) {
  return Start(request, false, buffer, count);
}

// Started under the lock, so that the system queues the transfers of each
// direction in the order in which they were started here.
TIoResult TWindowsDevice::Start(TIoRequest& r, bool write, void* buffer, uint32_t count) {
  TLock lock(FMutex);
  if (r.Pending) {
    // Its transfer may be over without anybody having asked yet.
    const auto it = FActive.find(&r);
    if (it != FActive.end() && !Poll(r, it->second)) return Failed(ERROR_BUSY);
  }
  r = TIoRequest{};
  r.Write = write;
  r.Requested = count;
  if (write)
    r.WriteBuffer = static_cast<const uint8_t*>(buffer);
  else
    r.ReadBuffer = static_cast<uint8_t*>(buffer);
  if (FDying) return Failed(ERROR_OPERATION_ABORTED);
  if (count == 0) return Completed(0);
  TOverlapped* o = Take();
  if (!o) return Failed(LastError());
  const BOOL ok = write ? ::WriteFile(FHandle, buffer, count, nullptr, &o->Ov)
                        : ::ReadFile(FHandle, buffer, count, nullptr, &o->Ov);
  const int err = ok ? 0 : LastError();
  if (ok || err != ERROR_IO_PENDING) {
    DWORD n = 0;
    if (ok) ::GetOverlappedResult(FHandle, &o->Ov, &n, FALSE);
    Give(o);
    if (!ok) return Failed(err);  // never started: the request stays a fresh one
    r.Transferred = n;
    return Completed(n);
  }
  r.Pending = true;
  FActive[&r] = o;
  TIoResult res;
  res.Status = TIoStatus::Pending;
  return res;
}

bool TWindowsDevice::Poll(TIoRequest& r, TOverlapped* o) {
  DWORD n = 0;
  if (::GetOverlappedResult(FHandle, &o->Ov, &n, FALSE)) {
    Finish(r, o, 0, n);
    return true;
  }
  const int err = LastError();
  if (err == ERROR_IO_INCOMPLETE) return false;
  Finish(r, o, err, n);
  return true;
}

void TWindowsDevice::Finish(TIoRequest& r, TOverlapped* o, int error, DWORD transferred) {
  r.Pending = false;
  r.Transferred = transferred;
  r.Error = error;
  FActive.erase(&r);
  o->Done = true;
  if (o->Waiters == 0) Give(o);
}

void TWindowsDevice::Leave() {
  --FUsers;
  FLeft.notify_all();
}

TIoResult TWindowsDevice::GetResult(TIoRequest& r, bool wait) {
  TLock lock(FMutex);
  const auto it = FActive.find(&r);
  if (it == FActive.end()) return ResultOf(r);
  TOverlapped* o = it->second;
  for (;;) {
    if (Poll(r, o)) return ResultOf(r);
    if (!wait) {
      TIoResult res;
      res.Status = TIoStatus::Pending;
      return res;
    }
    ++o->Waiters;
    ++FUsers;
    lock.unlock();
    ::WaitForSingleObject(o->Event, INFINITE);
    lock.lock();
    --o->Waiters;
    Leave();
    if (o->Done) {
      // Another caller took the result meanwhile.
      if (o->Waiters == 0) Give(o);
      return ResultOf(r);
    }
  }
}

// An abort ends every transfer of its direction still pending.  Serial
// drivers do so in the purge; the transfers held here are cancelled first,
// so that this holds also where a purge only empties the queues (Wine's
// does, and so may a virtual port's), and none of them refills a queue
// just emptied.  Under the lock: a transfer started after the purge is not
// touched.
int TWindowsDevice::PurgeComm(uint32_t flags) {
  TLock lock(FMutex);
  const bool tx = flags & PURGE_TXABORT, rx = flags & PURGE_RXABORT;
  if (tx || rx)
    for (auto& [request, o] : FActive)
      if (request->Write ? tx : rx) ::CancelIoEx(FHandle, &o->Ov);
  return ::PurgeComm(FHandle, flags) ? 0 : LastError();
}

// ---------------------------------------------------------------------------
// Status and control

int TWindowsDevice::ClearCommError(uint32_t& errors, TComStat& stat) {
  DWORD e = 0;
  COMSTAT cs{};
  errors = 0;
  stat = TComStat{};
  if (!::ClearCommError(FHandle, &e, &cs)) return LastError();
  errors = e;
  // The hold states are the record's leading bit fields.
  uint32_t bits = 0;
  std::memcpy(&bits, &cs, sizeof bits);
  stat.Flags = bits & 0x7F;
  stat.cbInQue = cs.cbInQue;
  stat.cbOutQue = cs.cbOutQue;
  return 0;
}

int TWindowsDevice::GetCommModemStatus(uint32_t& status) {
  DWORD s = 0;
  status = 0;
  if (!::GetCommModemStatus(FHandle, &s)) {
    // A port without modem lines (a virtual one) says it has no such
    // function: its lines read as off, as with the other drivers.
    const int err = LastError();
    return err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_FUNCTION ? 0 : err;
  }
  status = s;
  return 0;
}

int TWindowsDevice::EscapeCommFunction(uint32_t function) {
  return ::EscapeCommFunction(FHandle, function) ? 0 : LastError();
}

int TWindowsDevice::TransmitCommChar(char c) { return ::TransmitCommChar(FHandle, c) ? 0 : LastError(); }

// ---------------------------------------------------------------------------
// Events

int TWindowsDevice::SetCommMask(uint32_t mask) {
  FMask.store(mask);
  return ::SetCommMask(FHandle, mask) ? 0 : LastError();
}

int TWindowsDevice::WaitCommEvent(uint32_t& events, TSignal* stop, int32_t timeoutMs) {
  events = 0;
  HANDLE stopEvent = nullptr;
  if (stop) {
    auto* s = dynamic_cast<TWindowsSignal*>(stop);
    if (!s) return ERROR_INVALID_PARAMETER;
    stopEvent = s->Handle();
  }
  {
    TLock lock(FMutex);
    if (FDying) return ERROR_OPERATION_ABORTED;
    ++FUsers;
  }
  struct TLeave {
    TWindowsDevice& D;
    ~TLeave() {
      TLock lock(D.FMutex);
      D.Leave();
    }
  } leave{*this};

  const ULONGLONG deadline = timeoutMs < 0 ? 0 : ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    if (stop && stop->IsSet()) return 0;
    OVERLAPPED ov{};
    ov.hEvent = FWaitEvent;
    DWORD occurred = 0;
    if (!::WaitCommEvent(FHandle, &occurred, &ov)) {
      const int err = LastError();
      if (err != ERROR_IO_PENDING) return err;
      const HANDLE handles[2] = {FWaitEvent, stopEvent};
      DWORD ms = INFINITE;
      if (timeoutMs >= 0) {
        const ULONGLONG now = ::GetTickCount64();
        ms = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
      }
      const DWORD w = ::WaitForMultipleObjects(stopEvent ? 2 : 1, handles, FALSE, ms);
      const int waitErr = w == WAIT_FAILED ? LastError() : 0;
      DWORD n = 0;
      if (w != WAIT_OBJECT_0) {
        // Stop, time-out or a failed wait: a new mask ends the system's
        // wait, which must be over before its record goes.
        ::SetCommMask(FHandle, FMask.load());
        ::GetOverlappedResult(FHandle, &ov, &n, TRUE);
        if (waitErr) return waitErr;
        events = occurred;  // what may have come in the meantime
        return 0;
      }
      if (!::GetOverlappedResult(FHandle, &ov, &n, FALSE)) return LastError();
    }
    {
      TLock lock(FMutex);
      if (FDying) return ERROR_OPERATION_ABORTED;
    }
    if (occurred) {
      events = occurred;
      return 0;
    }
    // Nothing occurred: the mask was set anew meanwhile.  Wait again.
    if (timeoutMs >= 0 && ::GetTickCount64() >= deadline) return 0;
  }
}

// ---------------------------------------------------------------------------

namespace {

class TWindowsDriver final : public TComDriver {
 public:
  int Open(const std::string& port, std::unique_ptr<TComDevice>& device) override {
    if (port.empty()) return ERROR_FILE_NOT_FOUND;
    const HANDLE h = ::CreateFileW(DevicePath(port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    auto fail = [h](int err) {
      ::CloseHandle(h);
      return err;
    };
    // Not a communications device: it has no control block.
    DCB original{};
    original.DCBlength = sizeof original;
    if (!::GetCommState(h, &original)) return fail(LastError());
    COMMTIMEOUTS timeouts{};
    if (!::GetCommTimeouts(h, &timeouts)) return fail(LastError());
    try {
      device = std::make_unique<TWindowsDevice>(h, original, timeouts);
    } catch (const std::system_error& e) {
      return fail(e.code().value());
    } catch (const std::bad_alloc&) {
      return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    return 0;
  }

  int EnumPorts(std::vector<std::string>& names) override {
    return EnumRegistryPorts(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", names);
  }

  int EnumPortInfo(std::vector<TComPortInfo>& ports) override {
    std::vector<std::string> names;
    ports.clear();
    if (int err = EnumPorts(names)) return err;
    for (auto& n : names) {
      TComPortInfo info;
      info.Name = std::move(n);
      ports.push_back(std::move(info));
    }
    AddDeviceDescriptions(ports);
    return 0;
  }

  std::unique_ptr<TSignal> CreateSignal() override { return std::make_unique<TWindowsSignal>(); }

  int InvalidHandleError() const override { return ERROR_INVALID_HANDLE; }
};

}  // namespace

}  // namespace cport::win

namespace cport {

TComDriver& DefaultComDriver() {
  static win::TWindowsDriver driver;
  return driver;
}

}  // namespace cport

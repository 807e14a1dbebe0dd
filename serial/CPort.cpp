// The port object: settings, batches and applying, lifecycle, transfers,
// line status and control, notifications and links.
#include "CPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace cport {

// ---------------------------------------------------------------------------
// Enumeration helpers

namespace {

struct TEventBit {
  TComEvent Event;
  uint32_t Bit;
};
constexpr TEventBit kEventBits[] = {
    {evRxChar, EV_RXCHAR_BIT}, {evTxEmpty, EV_TXEMPTY_BIT}, {evRxFlag, EV_RXFLAG_BIT},
    {evRing, EV_RING_BIT},     {evBreak, EV_BREAK_BIT},     {evCTS, EV_CTS_BIT},
    {evDSR, EV_DSR_BIT},       {evError, EV_ERR_BIT},       {evRLSD, EV_RLSD_BIT},
    {evRx80Full, EV_RX80FULL_BIT}};

uint32_t DtrCode(TDTRFlowControl v) {
  switch (v) {
    case dtrDisable: return DTR_CODE_DISABLE;
    case dtrEnable: return DTR_CODE_ENABLE;
    case dtrHandshake: return DTR_CODE_HANDSHAKE;
  }
  return DTR_CODE_DISABLE;
}

uint32_t RtsCode(TRTSFlowControl v) {
  switch (v) {
    case rtsDisable: return RTS_CODE_DISABLE;
    case rtsEnable: return RTS_CODE_ENABLE;
    case rtsHandshake: return RTS_CODE_HANDSHAKE;
    case rtsToggle: return RTS_CODE_TOGGLE;
  }
  return RTS_CODE_DISABLE;
}

int32_t StrSize(const std::string& str) {
  if (str.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) throw EComPort(CError_WriteFailed, EINVAL);
  return static_cast<int32_t>(str.size());
}

}  // namespace

uint32_t EventsToMask(TComEvents events) {
  uint32_t mask = 0;
  for (const auto& e : kEventBits)
    if (events.Contains(e.Event)) mask |= e.Bit;
  return mask;
}

TComEvents MaskToEvents(uint32_t mask) {
  TComEvents events;
  for (const auto& e : kEventBits)
    if (mask & e.Bit) events.Include(e.Event);
  return events;
}

uint32_t BaudRateValue(TBaudRate rate) {
  switch (rate) {
    case brCustom: return 0;
    case br110: return 110;
    case br300: return 300;
    case br600: return 600;
    case br1200: return 1200;
    case br2400: return 2400;
    case br4800: return 4800;
    case br9600: return 9600;
    case br14400: return 14400;
    case br19200: return 19200;
    case br38400: return 38400;
    case br56000: return 56000;
    case br57600: return 57600;
    case br115200: return 115200;
    case br128000: return 128000;
    case br256000: return 256000;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Transfer records

void InitAsync(PAsync& async) { async = new TAsync; }

void DoneAsync(PAsync& async) {
  delete async;
  async = nullptr;
}

// ---------------------------------------------------------------------------
// Construction

TCustomComPort::TCustomComPort(TComponent* owner, TComDriver* driver)
    : TComponent(owner), FDriver(driver ? driver : &DefaultComDriver()) {
  FParity.SetComPort(this);
  FBuffer.SetComPort(this);
  FFlowControl.SetComPort(this);
  FTimeouts.SetComPort(this);
}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; end the thread and the device regardless.
    StopEventThread();
    DestroyHandle();
    FConnected = false;
  }
  NotifyDestruction();
}

// ---------------------------------------------------------------------------
// Settings

void TCustomComPort::SetConnected(bool value) {
  if (Loading()) {
    FConnected = value;
    return;
  }
  if (value == FConnected) return;
  if (value)
    Open();
  else
    Close();
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (value == FBaudRate) return;
  FBaudRate = value;
  ApplyDCB();
}

void TCustomComPort::SetCustomBaudRate(int32_t value) {
  if (value == FCustomBaudRate) return;
  FCustomBaudRate = value;
  ApplyDCB();
}

void TCustomComPort::SetPort(const std::string& value) {
  if (value == FPort) return;
  FPort = value;
  if (FConnected && !Loading()) {
    Close();
    Open();
  }
}

void TCustomComPort::SetParity(const TComParity& value) {
  FParity = value;
  ApplyDCB();
}

void TCustomComPort::SetStopBits(TStopBits value) {
  if (value == FStopBits) return;
  FStopBits = value;
  ApplyDCB();
}

void TCustomComPort::SetDataBits(TDataBits value) {
  if (value == FDataBits) return;
  FDataBits = value;
  ApplyDCB();
}

void TCustomComPort::SetDiscardNull(bool value) {
  if (value == FDiscardNull) return;
  FDiscardNull = value;
  ApplyDCB();
}

void TCustomComPort::SetEventChar(char value) {
  if (value == FEventChar) return;
  FEventChar = value;
  ApplyDCB();
}

void TCustomComPort::SetBuffer(const TComBuffer& value) {
  FBuffer = value;
  ApplyBuffer();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
  FFlowControl = value;
  ApplyDCB();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
  FTimeouts = value;
  ApplyTimeouts();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == FSyncMethod) return;
  if (FConnected && !Loading()) throw EComPort(CError_ConnChangeProp);
  FSyncMethod = value;
}

void TCustomComPort::SetEventThreadPriority(TThreadPriority value) {
  if (value == FEventThreadPriority) return;
  if (FConnected && !Loading()) throw EComPort(CError_ConnChangeProp);
  FEventThreadPriority = value;
}

bool TCustomComPort::GetTriggersOnRxChar() const { return FTriggersOnRxChar && !FHasLink; }

void TCustomComPort::SetTriggersOnRxChar(bool value) {
  if (FHasLink) throw EComPort(CError_HasLink);
  FTriggersOnRxChar = value;
}

// ---------------------------------------------------------------------------
// Batches and applying

void TCustomComPort::BeginUpdate() { ++FUpdateCount; }

void TCustomComPort::EndUpdate() {
  if (FUpdateCount <= 0) return;
  if (--FUpdateCount == 0) SetupComPort();
}

void TCustomComPort::SetupComPort() {
  ApplyBuffer();
  ApplyDCB();
  ApplyTimeouts();
}

bool TCustomComPort::CanApply() const { return FConnected && FDevice && FUpdateCount == 0 && !Loading(); }

TDCB TCustomComPort::BuildDCB() const {
  TDCB dcb;
  dcb.DCBlength = sizeof(TDCB);
  dcb.BaudRate = FBaudRate == brCustom ? static_cast<uint32_t>(FCustomBaudRate) : BaudRateValue(FBaudRate);
  uint32_t f = TDCB::DCB_Binary;
  if (FParity.Check()) f |= TDCB::DCB_Parity;
  if (FFlowControl.OutCTSFlow()) f |= TDCB::DCB_OutxCtsFlow;
  if (FFlowControl.OutDSRFlow()) f |= TDCB::DCB_OutxDsrFlow;
  f |= DtrCode(FFlowControl.ControlDTR()) << TDCB::DCB_DtrControlShift;
  if (FFlowControl.DSRSensitivity()) f |= TDCB::DCB_DsrSensitivity;
  if (FFlowControl.TxContinueOnXoff()) f |= TDCB::DCB_TXContinueOnXoff;
  if (FFlowControl.XonXoffOut()) f |= TDCB::DCB_OutX;
  if (FFlowControl.XonXoffIn()) f |= TDCB::DCB_InX;
  const bool replace = FParity.Check() && FParity.Replace();
  if (replace) f |= TDCB::DCB_ErrorChar;
  if (FDiscardNull) f |= TDCB::DCB_Null;
  f |= RtsCode(FFlowControl.ControlRTS()) << TDCB::DCB_RtsControlShift;
  dcb.Flags = f;
  // The limits are 16-bit: a larger queue must not wrap them round to a
  // small number (which would make the receiver send XOFF far too early).
  const int32_t lim = std::clamp<int32_t>(FBuffer.InputSize() / 4, 0, std::numeric_limits<uint16_t>::max());
  dcb.XonLim = static_cast<uint16_t>(lim);
  dcb.XoffLim = static_cast<uint16_t>(lim);
  dcb.ByteSize = static_cast<uint8_t>(5 + FDataBits);
  dcb.Parity = static_cast<uint8_t>(FParity.Bits());
  dcb.StopBits = static_cast<uint8_t>(FStopBits);
  dcb.XonChar = FFlowControl.XonChar();
  dcb.XoffChar = FFlowControl.XoffChar();
  dcb.ErrorChar = replace ? FParity.ReplaceChar() : 0;
  dcb.EofChar = 0;
  dcb.EvtChar = FEventChar;
  return dcb;
}

TCommTimeouts TCustomComPort::BuildTimeouts() const {
  TCommTimeouts t;
  t.ReadIntervalTimeout = static_cast<uint32_t>(FTimeouts.ReadInterval());
  t.ReadTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts.ReadTotalMultiplier());
  t.ReadTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts.ReadTotalConstant());
  t.WriteTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts.WriteTotalMultiplier());
  t.WriteTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts.WriteTotalConstant());
  return t;
}

void TCustomComPort::ApplyDCB() {
  if (!CanApply()) return;
  if (int err = FDevice->SetCommState(BuildDCB())) throw EComPort(CError_SetStateFailed, err);
}

void TCustomComPort::ApplyTimeouts() {
  if (!CanApply()) return;
  if (int err = FDevice->SetCommTimeouts(BuildTimeouts())) throw EComPort(CError_TimeoutsFailed, err);
}

void TCustomComPort::ApplyBuffer() {
  if (!CanApply()) return;
  if (int err = FDevice->SetupComm(static_cast<uint32_t>(FBuffer.InputSize()),
                                   static_cast<uint32_t>(FBuffer.OutputSize())))
    throw EComPort(CError_SetupComFailed, err);
}

// ---------------------------------------------------------------------------
// Lifecycle

void TCustomComPort::CreateHandle() {
  std::unique_ptr<TComDevice> device;
  if (int err = FDriver->Open(FPort, device)) throw EComPort(CError_OpenFailed, err);
  FDevice = std::move(device);
}

void TCustomComPort::DestroyHandle() { FDevice.reset(); }

void TCustomComPort::Open() {
  if (FConnected) return;
  CallBeforeOpen();
  CreateHandle();
  FConnected = true;
  try {
    SetupComPort();
    StartEventThread();
  } catch (...) {
    DestroyHandle();
    FConnected = false;
    throw;
  }
  CallAfterOpen();
}

void TCustomComPort::Close() {
  if (!FConnected) return;
  CallBeforeClose();
  AbortAllAsync();
  StopEventThread();
  DestroyHandle();
  FConnected = false;
  CallAfterClose();
}

void TCustomComPort::Loaded() {
  TComponent::Loaded();
  if (!FConnected) return;
  FConnected = false;
  try {
    Open();
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}

void TCustomComPort::StartEventThread() {
  if (FEvents.Empty()) {
    FThreadCreated = false;
    return;
  }
  if (FSyncMethod == smWindowSync)
    FWindow = std::make_unique<TMessageWindow>(
        [this](uint32_t msg, uintptr_t wParam, intptr_t lParam) { WindowMethod(msg, wParam, lParam); });
  try {
    FEventThread = std::make_unique<TComThread>(this);
  } catch (...) {
    FWindow.reset();
    throw;
  }
  FThreadCreated = true;
}

void TCustomComPort::StopEventThread() {
  if (FEventThread) {
    FEventThread->Stop();
    if (FEventThread->IsCurrentThread() || FEventThread->DispatchingHere()) {
      // Closed from one of this thread's own handlers: the thread cannot be
      // waited for here.  It keeps the device until it has ended.
      FEventThread->AdoptDevice(std::move(FDevice));
      TThread::ReleaseWhenFinished(std::move(FEventThread));
    } else {
      FEventThread.reset();
    }
  }
  FThreadCreated = false;
  FWindow.reset();
}

TComDevice& TCustomComPort::Device() const { return *FDevice; }

// ---------------------------------------------------------------------------
// Transfers

// Starting and completing a transfer, shared by the overlapped forms and the
// blocking ones.  The blocking forms use a request of their own on the
// stack: no record, no copy of the bytes, nothing for anyone else to see.

void TCustomComPort::BeginWrite(TIoRequest& req, const void* buffer, int32_t count) {
  if (!FDevice) throw EComPort(CError_WriteFailed, FDriver->InvalidHandleError());
  if (count < 0 || (count > 0 && !buffer)) throw EComPort(CError_WriteFailed, EINVAL);
  const TIoResult r = FDevice->StartWrite(req, buffer, static_cast<uint32_t>(count));
  if (r.Status == TIoStatus::Failed) throw EComPort(CError_WriteFailed, r.Error);
  SendSignalToLink(leTx, true);
}

void TCustomComPort::BeginRead(TIoRequest& req, void* buffer, int32_t count) {
  if (!FDevice) throw EComPort(CError_ReadFailed, FDriver->InvalidHandleError());
  if (count < 0 || (count > 0 && !buffer)) throw EComPort(CError_ReadFailed, EINVAL);
  const TIoResult r = FDevice->StartRead(req, buffer, static_cast<uint32_t>(count));
  if (r.Status == TIoStatus::Failed) throw EComPort(CError_ReadFailed, r.Error);
}

uint32_t TCustomComPort::Complete(TIoRequest& req, TOperationKind op) {
  // Nothing in flight: a fresh record, or a transfer that completed at once.
  if (!req.Pending && req.Error == 0) return req.Transferred;
  const int code = op == okWrite ? CError_WriteFailed : CError_ReadFailed;
  if (!FDevice) throw EComPort(code, FDriver->InvalidHandleError());
  const TIoResult r = FDevice->GetResult(req, true);
  if (r.Status != TIoStatus::Completed) throw EComPort(code, r.Status == TIoStatus::Failed ? r.Error : EIO);
  return r.Transferred;
}

// The queue is asked only when a link can hear the answer: the query costs
// system calls on every read of a program that has no links.
void TCustomComPort::ReadDone() {
  if (AnyLink() && InputCount() == 0) SendSignalToLink(leRx, false);
}

int32_t TCustomComPort::WriteAsync(const void* buffer, int32_t count, PAsync& async) {
  if (!async) throw EComPort(CError_InvalidAsync);
  async->Operation = okWrite;
  async->DataCopy.reset();
  async->DataSize = 0;
  if (count > 0 && buffer) {
    async->DataCopy = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(count));
    std::memcpy(async->DataCopy.get(), buffer, static_cast<size_t>(count));
    async->DataSize = count;
  }
  BeginWrite(async->IoRequest, buffer, count);
  return async->IoRequest.Pending ? 0 : static_cast<int32_t>(async->IoRequest.Transferred);
}

int32_t TCustomComPort::WriteStrAsync(const std::string& str, PAsync& async) {
  if (str.empty()) return 0;
  return WriteAsync(str.data(), StrSize(str), async);
}

int32_t TCustomComPort::ReadAsync(void* buffer, int32_t count, PAsync& async) {
  if (!async) throw EComPort(CError_InvalidAsync);
  async->Operation = okRead;
  BeginRead(async->IoRequest, buffer, count);
  return async->IoRequest.Pending ? 0 : static_cast<int32_t>(async->IoRequest.Transferred);
}

int32_t TCustomComPort::ReadStrAsync(std::string& str, int32_t count, PAsync& async) {
  str.assign(count > 0 ? static_cast<size_t>(count) : 0, '\0');
  if (count <= 0) return 0;
  return ReadAsync(str.data(), count, async);
}

int32_t TCustomComPort::WaitForAsync(PAsync& async) {
  if (!async) throw EComPort(CError_InvalidAsync);
  const uint32_t transferred = Complete(async->IoRequest, async->Operation);
  if (async->Operation == okRead)
    ReadDone();
  else if (AnyLink() && async->DataCopy)  // never after a read: its bytes were not sent now
    TxNotifyLink(async->DataCopy.get(), async->DataSize);
  return static_cast<int32_t>(transferred);
}

bool TCustomComPort::IsAsyncCompleted(PAsync async) {
  if (!async) throw EComPort(CError_InvalidAsync);
  TIoRequest& req = async->IoRequest;
  if (!req.Pending && req.Error == 0) return true;
  if (!FDevice) throw EComPort(CError_AsyncCheck, FDriver->InvalidHandleError());
  const TIoResult r = FDevice->GetResult(req, false);
  if (r.Status == TIoStatus::Failed) throw EComPort(CError_AsyncCheck, r.Error);
  return r.Status == TIoStatus::Completed;
}

void TCustomComPort::AbortAllAsync() {
  if (!FDevice) throw EComPort(CError_PurgeFailed, FDriver->InvalidHandleError());
  if (int err = FDevice->PurgeComm(PURGE_TXABORT_FLAG | PURGE_RXABORT_FLAG)) throw EComPort(CError_PurgeFailed, err);
}

int32_t TCustomComPort::Write(const void* buffer, int32_t count) {
  TIoRequest req;
  BeginWrite(req, buffer, count);
  const uint32_t n = Complete(req, okWrite);
  if (AnyLink() && count > 0) TxNotifyLink(buffer, count);
  return static_cast<int32_t>(n);
}

int32_t TCustomComPort::WriteStr(const std::string& str) {
  if (str.empty()) return 0;
  return Write(str.data(), StrSize(str));
}

int32_t TCustomComPort::Read(void* buffer, int32_t count) {
  TIoRequest req;
  BeginRead(req, buffer, count);
  const uint32_t n = Complete(req, okRead);
  ReadDone();
  return static_cast<int32_t>(n);
}

int32_t TCustomComPort::ReadStr(std::string& str, int32_t count) {
  str.assign(count > 0 ? static_cast<size_t>(count) : 0, '\0');
  const int32_t n = count > 0 ? Read(str.data(), count) : 0;
  str.resize(static_cast<size_t>(n));
  return n;
}

// ---------------------------------------------------------------------------
// Line status and control

void TCustomComPort::ReadStatus(uint32_t& errors, TComStat& stat) {
  if (!FDevice) throw EComPort(CError_ClearComFailed, FDriver->InvalidHandleError());
  if (int err = FDevice->ClearCommError(errors, stat)) throw EComPort(CError_ClearComFailed, err);
}

int32_t TCustomComPort::InputCount() {
  uint32_t errors;
  TComStat stat;
  ReadStatus(errors, stat);
  return static_cast<int32_t>(stat.cbInQue);
}

int32_t TCustomComPort::OutputCount() {
  uint32_t errors;
  TComStat stat;
  ReadStatus(errors, stat);
  return static_cast<int32_t>(stat.cbOutQue);
}

uint8_t TCustomComPort::StateFlags() {
  uint32_t errors;
  TComStat stat;
  ReadStatus(errors, stat);
  return static_cast<uint8_t>(stat.Flags & 0x7F);
}

TComErrors TCustomComPort::LastErrors() {
  uint32_t errors = 0;
  TComStat stat;
  ReadStatus(errors, stat);
  TComErrors r;
  if (errors & CE_FRAME_BIT) r.Include(ceFrame);
  if ((errors & CE_RXPARITY_BIT) && FParity.Check()) r.Include(ceRxParity);
  if (errors & CE_OVERRUN_BIT) r.Include(ceOverrun);
  if (errors & CE_RXOVER_BIT) r.Include(ceRxOver);
  if (errors & CE_TXFULL_BIT) r.Include(ceTxFull);
  if (errors & CE_BREAK_BIT) r.Include(ceBreak);
  if (errors & CE_IOE_BIT) r.Include(ceIO);
  if (errors & CE_MODE_BIT) r.Include(ceMode);
  return r;
}

TComSignals TCustomComPort::Signals() {
  if (!FDevice) throw EComPort(CError_ModemStatFailed, FDriver->InvalidHandleError());
  uint32_t status = 0;
  if (int err = FDevice->GetCommModemStatus(status)) throw EComPort(CError_ModemStatFailed, err);
  TComSignals r;
  if (status & MS_CTS_BIT) r.Include(csCTS);
  if (status & MS_DSR_BIT) r.Include(csDSR);
  if (status & MS_RING_BIT) r.Include(csRing);
  if (status & MS_RLSD_BIT) r.Include(csRLSD);
  return r;
}

namespace {
void Escape(TComDevice* device, TComDriver& driver, uint32_t function) {
  if (!device) throw EComPort(CError_EscapeComFailed, driver.InvalidHandleError());
  if (int err = device->EscapeCommFunction(function)) throw EComPort(CError_EscapeComFailed, err);
}
}  // namespace

void TCustomComPort::SetBreak(bool on) { Escape(FDevice.get(), *FDriver, on ? ESC_SETBREAK : ESC_CLRBREAK); }
void TCustomComPort::SetDTR(bool on) { Escape(FDevice.get(), *FDriver, on ? ESC_SETDTR : ESC_CLRDTR); }
void TCustomComPort::SetRTS(bool on) { Escape(FDevice.get(), *FDriver, on ? ESC_SETRTS : ESC_CLRRTS); }
void TCustomComPort::SetXonXoff(bool on) { Escape(FDevice.get(), *FDriver, on ? ESC_SETXON : ESC_SETXOFF); }

void TCustomComPort::ClearBuffer(bool input, bool output) {
  if (!FDevice) throw EComPort(CError_PurgeFailed, FDriver->InvalidHandleError());
  uint32_t flags = 0;
  if (input) flags |= PURGE_RXCLEAR_FLAG;
  if (output) flags |= PURGE_TXCLEAR_FLAG;
  if (int err = FDevice->PurgeComm(flags)) throw EComPort(CError_PurgeFailed, err);
}

void TCustomComPort::TransmitChar(char c) {
  if (!FDevice) throw EComPort(CError_TransmitFailed, FDriver->InvalidHandleError());
  if (int err = FDevice->TransmitCommChar(c)) throw EComPort(CError_TransmitFailed, err);
}

void TCustomComPort::WaitForEvent(TComEvents& events, TSignal* stop, int32_t timeout) {
  if (FThreadCreated) throw EComPort(CError_ThreadCreated);
  if (!FDevice) throw EComPort(CError_WaitFailed, FDriver->InvalidHandleError());
  if (int err = FDevice->SetCommMask(EventsToMask(events))) throw EComPort(CError_WaitFailed, err);
  uint32_t occurred = 0;
  const int err = FDevice->WaitCommEvent(occurred, stop, timeout);
  FDevice->SetCommMask(0);
  if (err) throw EComPort(CError_WaitFailed, err);
  events = MaskToEvents(occurred);
}

// ---------------------------------------------------------------------------
// Notifications

void TCustomComPort::CallBeforeOpen() { DoBeforeOpen(); }

void TCustomComPort::CallAfterOpen() {
  SendSignalToLink(leConn, true);
  DoAfterOpen();
  CheckSignals(true);
}

void TCustomComPort::CallBeforeClose() {
  CheckSignals(false);
  DoBeforeClose();
}

void TCustomComPort::CallAfterClose() {
  SendSignalToLink(leConn, false);
  DoAfterClose();
}

void TCustomComPort::CheckSignals(bool open) {
  if (open) {
    CallCTSChange();
    CallDSRChange();
    CallRLSDChange();
  } else {
    SendSignalToLink(leCTS, false);
    SendSignalToLink(leDSR, false);
    SendSignalToLink(leRLSD, false);
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
  }
}

void TCustomComPort::CallRxChar() {
  int32_t count = InputCount();
  if (count > 0) SendSignalToLink(leRx, true);
  if (count > 0 && !GetTriggersOnRxChar()) {
    std::unique_ptr<uint8_t[]> buffer;
    int32_t got = 0;
    auto readOnce = [&] {
      buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(count));
      // The bytes actually read are passed on: a driver that drops bytes
      // (DiscardNull) must not make handlers see unread memory.
      got = Read(buffer.get(), count);
      DoRxBuf(buffer.get(), got);
    };
    for (TComLink* link : std::vector<TComLink*>(FLinks)) {
      if (!link->OnRxBuf) continue;
      if (!buffer) readOnce();
      link->OnRxBuf(this, buffer.get(), got);
    }
    if (!buffer && !FTriggersOnRxChar) readOnce();
    if (buffer) count = 0;
  }
  if (count > 0) DoRxChar(count);
}

void TCustomComPort::CallTxEmpty() {
  SendSignalToLink(leTx, false);
  NotifyLink(leTxEmpty);
  DoTxEmpty();
}

void TCustomComPort::CallBreak() { DoBreak(); }

void TCustomComPort::CallRing() {
  NotifyLink(leRing);
  DoRing();
}

void TCustomComPort::CallRxFlag() {
  NotifyLink(leRxFlag);
  DoRxFlag();
}

void TCustomComPort::CallRx80Full() { DoRx80Full(); }

void TCustomComPort::CallCTSChange() {
  const bool on = Signals().Contains(csCTS);
  SendSignalToLink(leCTS, on);
  DoCTSChange(on);
}

void TCustomComPort::CallDSRChange() {
  const bool on = Signals().Contains(csDSR);
  SendSignalToLink(leDSR, on);
  DoDSRChange(on);
}

void TCustomComPort::CallRLSDChange() {
  const bool on = Signals().Contains(csRLSD);
  SendSignalToLink(leRLSD, on);
  DoRLSDChange(on);
}

void TCustomComPort::CallError() {
  const TComErrors errors = LastErrors();
  if (!errors.Empty()) DoError(errors);
}

void TCustomComPort::WindowMethod(uint32_t msg, uintptr_t wParam, intptr_t /*lParam*/) {
  if (msg != CM_COMPORT) return;
  try {
    if (!FConnected) return;
    switch (wParam) {
      case EV_RXCHAR_BIT: CallRxChar(); break;
      case EV_RXFLAG_BIT: CallRxFlag(); break;
      case EV_TXEMPTY_BIT: CallTxEmpty(); break;
      case EV_CTS_BIT: CallCTSChange(); break;
      case EV_DSR_BIT: CallDSRChange(); break;
      case EV_RLSD_BIT: CallRLSDChange(); break;
      case EV_BREAK_BIT: CallBreak(); break;
      case EV_ERR_BIT: CallError(); break;
      case EV_RING_BIT: CallRing(); break;
      case EV_RX80FULL_BIT: CallRx80Full(); break;
      default: break;
    }
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}

void TCustomComPort::DoAfterClose() {
  if (OnAfterClose) OnAfterClose(this);
}
void TCustomComPort::DoAfterOpen() {
  if (OnAfterOpen) OnAfterOpen(this);
}
void TCustomComPort::DoBeforeClose() {
  if (OnBeforeClose) OnBeforeClose(this);
}
void TCustomComPort::DoBeforeOpen() {
  if (OnBeforeOpen) OnBeforeOpen(this);
}
void TCustomComPort::DoRxChar(int32_t count) {
  if (OnRxChar) OnRxChar(this, count);
}
void TCustomComPort::DoRxBuf(const void* buffer, int32_t count) {
  if (OnRxBuf) OnRxBuf(this, buffer, count);
}
void TCustomComPort::DoTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(this);
}
void TCustomComPort::DoBreak() {
  if (OnBreak) OnBreak(this);
}
void TCustomComPort::DoRing() {
  if (OnRing) OnRing(this);
}
void TCustomComPort::DoRxFlag() {
  if (OnRxFlag) OnRxFlag(this);
}
void TCustomComPort::DoCTSChange(bool onOff) {
  if (OnCTSChange) OnCTSChange(this, onOff);
}
void TCustomComPort::DoDSRChange(bool onOff) {
  if (OnDSRChange) OnDSRChange(this, onOff);
}
void TCustomComPort::DoError(TComErrors errors) {
  if (OnError) OnError(this, errors);
}
void TCustomComPort::DoRLSDChange(bool onOff) {
  if (OnRLSDChange) OnRLSDChange(this, onOff);
}
void TCustomComPort::DoRx80Full() {
  if (OnRx80Full) OnRx80Full(this);
}

// ---------------------------------------------------------------------------
// Links

void TCustomComPort::RegisterLink(TComLink* link) {
  if (!link || std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end()) throw EComPort(CError_RegFailed);
  FLinks.push_back(link);
  FHasLink = HasLink();
}

void TCustomComPort::UnRegisterLink(TComLink* link) {
  auto it = std::find(FLinks.begin(), FLinks.end(), link);
  if (!link || it == FLinks.end()) throw EComPort(CError_RegFailed);
  FLinks.erase(it);
  FHasLink = HasLink();
}

bool TCustomComPort::HasLink() const {
  return std::any_of(FLinks.begin(), FLinks.end(), [](const TComLink* l) { return static_cast<bool>(l->OnRxBuf); });
}

// Links may register or unregister others from inside a callback, so each
// fan-out walks a copy of the list.
void TCustomComPort::NotifyLink(TComLinkEvent kind) {
  if (FLinks.empty()) return;
  for (TComLink* link : std::vector<TComLink*>(FLinks)) {
    switch (kind) {
      case leRing:
        if (link->OnRing) link->OnRing(this);
        break;
      case leTxEmpty:
        if (link->OnTxEmpty) link->OnTxEmpty(this);
        break;
      case leRxFlag:
        if (link->OnRxFlag) link->OnRxFlag(this);
        break;
      case leConn: case leCTS: case leDSR: case leRLSD: case leRx: case leTx:
        break;
    }
  }
}

void TCustomComPort::SendSignalToLink(TComLinkEvent kind, bool on) {
  if (FLinks.empty()) return;
  for (TComLink* link : std::vector<TComLink*>(FLinks)) {
    const TComSignalEvent* cb = nullptr;
    switch (kind) {
      case leConn: cb = &link->OnConn; break;
      case leCTS: cb = &link->OnCTSChange; break;
      case leDSR: cb = &link->OnDSRChange; break;
      case leRLSD: cb = &link->OnRLSDChange; break;
      case leRx: cb = &link->OnRx; break;
      case leTx: cb = &link->OnTx; break;
      case leRing: case leTxEmpty: case leRxFlag: break;
    }
    if (cb && *cb) (*cb)(this, on);
  }
}

void TCustomComPort::TxNotifyLink(const void* buffer, int32_t count) {
  if (FLinks.empty()) return;
  for (TComLink* link : std::vector<TComLink*>(FLinks))
    if (link->OnTxBuf) link->OnTxBuf(this, buffer, count);
}

}  // namespace cport

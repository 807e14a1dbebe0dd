// SPDX-License-Identifier: MIT
// The port object: settings, batches and applying, and its lifecycle.
#include "CPort.h"

#include <algorithm>
#include <limits>

#include "DeviceSlot.h"

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
// Construction

TCustomComPort::TCustomComPort(TComponent* owner, TComDriver* driver)
    : TComponent(owner), FDriver(driver ? driver : &DefaultComDriver()), FSlot(std::make_shared<TDeviceSlot>()) {
  FParity.SetComPort(this);
  FBuffer.SetComPort(this);
  FFlowControl.SetComPort(this);
  FTimeouts.SetComPort(this);
}

TCustomComPort::~TCustomComPort() {
  try {
    // A handler run inside Close may have opened the port again: that open
    // is closed too, with its reports (a handler that always reopens does
    // not keep the port alive for ever).
    for (int round = 0; FConnected && round < 8; ++round) Close();
  } catch (...) {
  }
  if (FConnected) {
    // A destructor cannot report; end the thread and the device regardless.
    StopEventThread();
    DestroyHandle();
    FConnected = false;
  }
  *FAlive = false;  // a Close that ran this destructor's handler must not go on
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
  FSlot->Attach(FDevice.get());
}

// Other threads may be inside the device: they are woken and waited for
// before it goes.
void TCustomComPort::DestroyHandle() {
  if (!FDevice) return;
  FSlot->Detach();
  FDevice.reset();
  FSlot->Released();
}

void TCustomComPort::Open() {
  if (FConnected) return;
  CallBeforeOpen();
  CreateHandle();
  FConnected = true;
  FClosing = false;
  ++FOpenSerial;
  FRxPaused.store(false);  // the new device watches arrivals
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

// Handlers run inside Close (the before-close report, a batch the event
// thread still hands over) may close the port themselves, reopen it or
// destroy it.  A Close inside another one finishes the close at once, so the
// handler can reopen; the outer one then sees that its open is over and
// stops.  Each open gets exactly one before-close and one after-close report.
void TCustomComPort::Close() {
  if (!FConnected) return;
  if (FClosing) {
    FinishClose();
    return;
  }
  const auto alive = FAlive;
  const uint64_t serial = FOpenSerial;
  auto mine = [&] { return *alive && FOpenSerial == serial && FConnected; };
  FClosing = true;
  try {
    CallBeforeClose();
    if (!mine()) return;
    AbortAllAsync();
  } catch (...) {
    if (mine()) FClosing = false;  // a failed close leaves the port open
    throw;
  }
  if (mine()) FinishClose();
}

void TCustomComPort::FinishClose() {
  const auto alive = FAlive;
  const uint64_t serial = FOpenSerial;
  StopEventThread();
  if (!*alive || FOpenSerial != serial || !FConnected) return;
  if (FQuietOnClose && FDevice) {
    // What the event thread did on its way out: stop watching, and drop
    // whatever is still queued both ways.
    FDevice->SetCommMask(0);
    FDevice->PurgeComm(PURGE_TXCLEAR_FLAG | PURGE_RXCLEAR_FLAG);
  }
  FQuietOnClose = false;
  DestroyHandle();
  FConnected = false;
  FClosing = false;
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
    FThreadCreated = true;
    FQuietOnClose = true;
    FEventThread->Start();
  } catch (...) {
    FEventThread.reset();
    FThreadCreated = false;
    FQuietOnClose = false;
    FWindow.reset();
    throw;
  }
}

// Stops the current open's thread.  Identity is the thread object and the
// open it belongs to, never a value left from an earlier call: a handler
// run inside the wait below may close, reopen and close again.
void TCustomComPort::StopEventThread() {
  FThreadCreated = false;
  const uint64_t serial = FOpenSerial;
  std::unique_ptr<TComThread> thread = std::move(FEventThread);
  if (!thread) {
    // Inside the wait of an outer Close for this open's thread, from one of
    // its handlers: that Close waits for it; this one only lets go of it.
    if (FStoppingThread && FStoppingThread->OpenSerial() == serial) FStoppingThread->Detach();
    FWindow.reset();
    return;
  }
  thread->Stop();
  if (thread->IsCurrentThread() || thread->DispatchingHere()) {
    // Closed from one of this thread's own handlers: it cannot be waited
    // for here.  It ends by itself and touches neither port nor device.
    thread->Detach();
    TThread::ReleaseWhenFinished(std::move(thread));
  } else {
    const auto alive = FAlive;
    TComThread* const outer = FStoppingThread;
    FStoppingThread = thread.get();
    thread.reset();  // a batch waiting for this thread runs here
    if (!*alive) return;
    FStoppingThread = outer;
    if (FOpenSerial != serial) return;  // a handler reopened: that open has its own window
  }
  FWindow.reset();
}

TComDevice& TCustomComPort::Device() const { return *FDevice; }

}  // namespace cport

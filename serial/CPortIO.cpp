// SPDX-License-Identifier: MIT
// The port object's transfers (blocking and overlapped) and its line status
// and control.
#include <cerrno>
#include <cstring>
#include <limits>

#include "CPort.h"
#include "DeviceSlot.h"

namespace cport {

namespace {

int32_t StrSize(const std::string& str) {
  if (str.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) throw EComPort(CError_WriteFailed, EINVAL);
  return static_cast<int32_t>(str.size());
}

}  // namespace

// ---------------------------------------------------------------------------
// Transfer records

void InitAsync(PAsync& async) { async = new TAsync; }

void DoneAsync(PAsync& async) {
  if (async && async->Slot) {
    TDeviceUse device(*async->Slot);
    if (device) device->CancelTransfer(async->IoRequest, async->Operation == okWrite);
  }
  delete async;
  async = nullptr;
}

// ---------------------------------------------------------------------------
// Transfers

// Starting and completing an overlapped transfer.  The result of a start is
// what the driver answered: the request may already be moving on another
// thread.

uint32_t TCustomComPort::BeginWrite(TAsync& async, const void* buffer, int32_t count) {
  TIoResult r;
  {
    TDeviceUse device(*FSlot);
    if (!device) throw EComPort(CError_WriteFailed, FDriver->InvalidHandleError());
    if (count < 0 || (count > 0 && !buffer)) throw EComPort(CError_WriteFailed, EINVAL);
    if (async.Slot != FSlot) async.Slot = FSlot;
    r = device->StartWrite(async.IoRequest, buffer, static_cast<uint32_t>(count));
  }
  if (r.Status == TIoStatus::Failed) throw EComPort(CError_WriteFailed, r.Error);
  SendSignalToLink(leTx, true);
  return r.Status == TIoStatus::Completed ? r.Transferred : 0;
}

uint32_t TCustomComPort::BeginRead(TAsync& async, void* buffer, int32_t count) {
  TIoResult r;
  {
    TDeviceUse device(*FSlot);
    if (!device) throw EComPort(CError_ReadFailed, FDriver->InvalidHandleError());
    if (count < 0 || (count > 0 && !buffer)) throw EComPort(CError_ReadFailed, EINVAL);
    if (async.Slot != FSlot) async.Slot = FSlot;
    r = device->StartRead(async.IoRequest, buffer, static_cast<uint32_t>(count));
  }
  if (r.Status == TIoStatus::Failed) throw EComPort(CError_ReadFailed, r.Error);
  return r.Status == TIoStatus::Completed ? r.Transferred : 0;
}

uint32_t TCustomComPort::Complete(TIoRequest& req, TOperationKind op) {
  const int code = op == okWrite ? CError_WriteFailed : CError_ReadFailed;
  // While a device is open the driver may still be moving the request: ask
  // it.  Without one, the request's transfer ended with its device (as
  // completed, failed or aborted) and keeps that result.
  TIoResult r;
  if (TDeviceUse device(*FSlot); device) {
    r = device->GetResult(req, true);
  } else {
    r.Status = req.Pending ? TIoStatus::Failed : (req.Error ? TIoStatus::Failed : TIoStatus::Completed);
    r.Error = req.Pending ? FDriver->InvalidHandleError() : req.Error;
    r.Transferred = req.Transferred;
  }
  if (r.Status != TIoStatus::Completed) throw EComPort(code, r.Status == TIoStatus::Failed ? r.Error : EIO);
  return r.Transferred;
}

// The queue is asked only when a link can hear the answer (callers check):
// the query costs system calls on every read of a program that has no links.
void TCustomComPort::ReadDone(int32_t got) {
  // Paused, no report says that bytes came: the read that got them does.
  if (got > 0 && FRxPaused.load()) SendSignalToLink(leRx, true);
  if (InputCount() == 0) SendSignalToLink(leRx, false);
}

namespace {

void CopyForRecord(TAsync& async, const void* buffer, int32_t count) {
  async.Operation = okWrite;
  async.DataCopy.reset();
  async.DataSize = 0;
  if (count > 0 && buffer) {
    async.DataCopy = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(count));
    std::memcpy(async.DataCopy.get(), buffer, static_cast<size_t>(count));
    async.DataSize = count;
  }
}

}  // namespace

int32_t TCustomComPort::WriteAsync(const void* buffer, int32_t count, PAsync& async) {
  if (!async) throw EComPort(CError_InvalidAsync);
  CopyForRecord(*async, buffer, count);
  return static_cast<int32_t>(BeginWrite(*async, buffer, count));
}

// The string may be a temporary: the driver is handed the record's own copy.
int32_t TCustomComPort::WriteStrAsync(const std::string& str, PAsync& async) {
  if (str.empty()) return 0;
  if (!async) throw EComPort(CError_InvalidAsync);
  const int32_t count = StrSize(str);
  CopyForRecord(*async, str.data(), count);
  return static_cast<int32_t>(BeginWrite(*async, async->DataCopy.get(), count));
}

int32_t TCustomComPort::ReadAsync(void* buffer, int32_t count, PAsync& async) {
  if (!async) throw EComPort(CError_InvalidAsync);
  async->Operation = okRead;
  return static_cast<int32_t>(BeginRead(*async, buffer, count));
}

int32_t TCustomComPort::ReadStrAsync(std::string& str, int32_t count, PAsync& async) {
  str.assign(count > 0 ? static_cast<size_t>(count) : 0, '\0');
  if (count <= 0) return 0;
  return ReadAsync(str.data(), count, async);
}

int32_t TCustomComPort::WaitForAsync(PAsync& async) {
  if (!async) throw EComPort(CError_InvalidAsync);
  const uint32_t transferred = Complete(async->IoRequest, async->Operation);
  if (async->Operation == okRead) {
    if (AnyLink()) ReadDone(static_cast<int32_t>(transferred));
  }
  else if (AnyLink() && async->DataCopy)  // never after a read: its bytes were not sent now
    TxNotifyLink(async->DataCopy.get(), async->DataSize);
  return static_cast<int32_t>(transferred);
}

bool TCustomComPort::IsAsyncCompleted(PAsync async) {
  if (!async) throw EComPort(CError_InvalidAsync);
  TIoRequest& req = async->IoRequest;
  TDeviceUse device(*FSlot);
  if (!device) {
    if (req.Pending) throw EComPort(CError_AsyncCheck, FDriver->InvalidHandleError());
    if (req.Error) throw EComPort(CError_AsyncCheck, req.Error);
    return true;
  }
  const TIoResult r = device->GetResult(req, false);
  if (r.Status == TIoStatus::Failed) throw EComPort(CError_AsyncCheck, r.Error);
  return r.Status == TIoStatus::Completed;
}

void TCustomComPort::AbortAllAsync() {
  TDeviceUse device(*FSlot);
  if (!device) throw EComPort(CError_PurgeFailed, FDriver->InvalidHandleError());
  if (int err = device->PurgeComm(PURGE_TXABORT_FLAG | PURGE_RXABORT_FLAG)) throw EComPort(CError_PurgeFailed, err);
}

// The blocking forms start and complete in one call of the driver, which
// lets the calling thread move its own transfer.
int32_t TCustomComPort::Write(const void* buffer, int32_t count) {
  TIoResult r;
  {
    TDeviceUse device(*FSlot);
    if (!device) throw EComPort(CError_WriteFailed, FDriver->InvalidHandleError());
    if (count < 0 || (count > 0 && !buffer)) throw EComPort(CError_WriteFailed, EINVAL);
    TIoRequest req;
    r = device->Transfer(req, true, const_cast<void*>(buffer), static_cast<uint32_t>(count));
  }
  if (r.Status != TIoStatus::Completed) throw EComPort(CError_WriteFailed, r.Status == TIoStatus::Failed ? r.Error : EIO);
  SendSignalToLink(leTx, true);
  if (AnyLink() && count > 0) TxNotifyLink(buffer, count);
  return static_cast<int32_t>(r.Transferred);
}

int32_t TCustomComPort::WriteStr(const std::string& str) {
  if (str.empty()) return 0;
  return Write(str.data(), StrSize(str));
}

// Polled in loops: kept with the driver's read path (see ComTransferLinux.cpp).
[[gnu::hot]] int32_t TCustomComPort::Read(void* buffer, int32_t count) {
  TIoResult r;
  {
    TDeviceUse device(*FSlot);
    if (!device) throw EComPort(CError_ReadFailed, FDriver->InvalidHandleError());
    if (count < 0 || (count > 0 && !buffer)) throw EComPort(CError_ReadFailed, EINVAL);
    TIoRequest req;
    r = device->Transfer(req, false, buffer, static_cast<uint32_t>(count));
  }
  if (r.Status != TIoStatus::Completed) throw EComPort(CError_ReadFailed, r.Status == TIoStatus::Failed ? r.Error : EIO);
  if (AnyLink()) ReadDone(static_cast<int32_t>(r.Transferred));
  return static_cast<int32_t>(r.Transferred);
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
  TDeviceUse device(*FSlot);
  if (!device) throw EComPort(CError_ClearComFailed, FDriver->InvalidHandleError());
  if (int err = device->ClearCommError(errors, stat)) throw EComPort(CError_ClearComFailed, err);
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
  uint32_t status = 0;
  {
    TDeviceUse device(*FSlot);
    if (!device) throw EComPort(CError_ModemStatFailed, FDriver->InvalidHandleError());
    if (int err = device->GetCommModemStatus(status)) throw EComPort(CError_ModemStatFailed, err);
  }
  TComSignals r;
  if (status & MS_CTS_BIT) r.Include(csCTS);
  if (status & MS_DSR_BIT) r.Include(csDSR);
  if (status & MS_RING_BIT) r.Include(csRing);
  if (status & MS_RLSD_BIT) r.Include(csRLSD);
  return r;
}

namespace {
void Escape(TDeviceSlot& slot, TComDriver& driver, uint32_t function) {
  TDeviceUse device(slot);
  if (!device) throw EComPort(CError_EscapeComFailed, driver.InvalidHandleError());
  if (int err = device->EscapeCommFunction(function)) throw EComPort(CError_EscapeComFailed, err);
}
}  // namespace

void TCustomComPort::SetBreak(bool on) { Escape(*FSlot, *FDriver, on ? ESC_SETBREAK : ESC_CLRBREAK); }
void TCustomComPort::SetDTR(bool on) { Escape(*FSlot, *FDriver, on ? ESC_SETDTR : ESC_CLRDTR); }
void TCustomComPort::SetRTS(bool on) { Escape(*FSlot, *FDriver, on ? ESC_SETRTS : ESC_CLRRTS); }
void TCustomComPort::SetXonXoff(bool on) { Escape(*FSlot, *FDriver, on ? ESC_SETXON : ESC_SETXOFF); }

void TCustomComPort::ClearBuffer(bool input, bool output) {
  TDeviceUse device(*FSlot);
  if (!device) throw EComPort(CError_PurgeFailed, FDriver->InvalidHandleError());
  uint32_t flags = 0;
  if (input) flags |= PURGE_RXCLEAR_FLAG;
  if (output) flags |= PURGE_TXCLEAR_FLAG;
  if (int err = device->PurgeComm(flags)) throw EComPort(CError_PurgeFailed, err);
}

void TCustomComPort::TransmitChar(char c) {
  TDeviceUse device(*FSlot);
  if (!device) throw EComPort(CError_TransmitFailed, FDriver->InvalidHandleError());
  if (int err = device->TransmitCommChar(c)) throw EComPort(CError_TransmitFailed, err);
}

void TCustomComPort::WaitForEvent(TComEvents& events, TSignal* stop, int32_t timeout) {
  if (FThreadCreated) throw EComPort(CError_ThreadCreated);
  uint32_t occurred = 0;
  {
    TDeviceUse device(*FSlot);
    if (!device) throw EComPort(CError_WaitFailed, FDriver->InvalidHandleError());
    if (int err = device->SetCommMask(EventsToMask(events))) throw EComPort(CError_WaitFailed, err);
    const int err = device->WaitCommEvent(occurred, stop, timeout);
    device->SetCommMask(0);
    if (err) throw EComPort(CError_WaitFailed, err);
    // Ended by Close on another thread: the port is gone, not merely quiet.
    if (occurred == 0 && FSlot->Closed()) throw EComPort(CError_WaitFailed, FDriver->InvalidHandleError());
  }
  events = MaskToEvents(occurred);
}

void TCustomComPort::PauseRxChar() {
  TDeviceUse device(*FSlot);
  if (!device) return;
  if (int err = device->HoldArrivals(true)) throw EComPort(CError_WaitFailed, err);
  FRxPaused.store(true);
}

void TCustomComPort::ResumeRxChar() {
  TDeviceUse device(*FSlot);
  if (!device) return;
  if (int err = device->HoldArrivals(false)) throw EComPort(CError_WaitFailed, err);
  FRxPaused.store(false);
}

}  // namespace cport

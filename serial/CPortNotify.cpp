// SPDX-License-Identifier: MIT
// The port object's notifications: opening and closing reports, the
// per-event operations, the window method and the links.
#include <algorithm>

#include "CPort.h"

namespace cport {

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
      if (!link->OnRxBuf || !Listed(link)) continue;
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
  if (errors.Empty()) return;
  for (TComLink* link : std::vector<TComLink*>(FLinks))
    if (link->OnError && Listed(link)) link->OnError(this, errors);
  DoError(errors);
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

bool TCustomComPort::Listed(const TComLink* link) const {
  return std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end();
}

bool TCustomComPort::HasLink() const {
  return std::any_of(FLinks.begin(), FLinks.end(), [](const TComLink* l) { return static_cast<bool>(l->OnRxBuf); });
}

// Links may register or unregister others from inside a callback, so each
// fan-out walks a copy of the list, skipping links taken off meanwhile.
void TCustomComPort::NotifyLink(TComLinkEvent kind) {
  if (FLinks.empty()) return;
  for (TComLink* link : std::vector<TComLink*>(FLinks)) {
    if (!Listed(link)) continue;
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
    if (!Listed(link)) continue;
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
    if (link->OnTxBuf && Listed(link)) link->OnTxBuf(this, buffer, count);
}

}  // namespace cport

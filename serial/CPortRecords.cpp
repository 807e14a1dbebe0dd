// SPDX-License-Identifier: MIT
// The four setting records.  Each setter compares, stores and, when the
// record belongs to a port, lets the port re-apply its group.
#include "CPort.h"

namespace cport {

namespace {

template <class T>
bool Store(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// TComTimeouts

void TComTimeouts::Changed() {
  if (ComPort()) ComPort()->ApplyTimeouts();
}
void TComTimeouts::SetReadInterval(int32_t v) {
  if (Store(FReadInterval, v)) Changed();
}
void TComTimeouts::SetReadTotalM(int32_t v) {
  if (Store(FReadTotalM, v)) Changed();
}
void TComTimeouts::SetReadTotalC(int32_t v) {
  if (Store(FReadTotalC, v)) Changed();
}
void TComTimeouts::SetWriteTotalM(int32_t v) {
  if (Store(FWriteTotalM, v)) Changed();
}
void TComTimeouts::SetWriteTotalC(int32_t v) {
  if (Store(FWriteTotalC, v)) Changed();
}
void TComTimeouts::CopyFields(const TComTimeouts& o) {
  FReadInterval = o.FReadInterval;
  FReadTotalM = o.FReadTotalM;
  FReadTotalC = o.FReadTotalC;
  FWriteTotalM = o.FWriteTotalM;
  FWriteTotalC = o.FWriteTotalC;
}
void TComTimeouts::AssignTo(TPersistent& dest) const {
  if (auto* d = dynamic_cast<TComTimeouts*>(&dest))
    d->CopyFields(*this);
  else
    TPersistent::AssignTo(dest);
}

// ---------------------------------------------------------------------------
// TComFlowControl

void TComFlowControl::Changed() {
  if (ComPort()) ComPort()->ApplyDCB();
}
void TComFlowControl::SetOutCTSFlow(bool v) {
  if (Store(FOutCTSFlow, v)) Changed();
}
void TComFlowControl::SetOutDSRFlow(bool v) {
  if (Store(FOutDSRFlow, v)) Changed();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl v) {
  if (Store(FControlDTR, v)) Changed();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl v) {
  if (Store(FControlRTS, v)) Changed();
}
void TComFlowControl::SetXonXoffOut(bool v) {
  if (Store(FXonXoffOut, v)) Changed();
}
void TComFlowControl::SetXonXoffIn(bool v) {
  if (Store(FXonXoffIn, v)) Changed();
}
void TComFlowControl::SetDSRSensitivity(bool v) {
  if (Store(FDSRSensitivity, v)) Changed();
}
void TComFlowControl::SetTxContinueOnXoff(bool v) {
  if (Store(FTxContinueOnXoff, v)) Changed();
}
void TComFlowControl::SetXonChar(char v) {
  if (Store(FXonChar, v)) Changed();
}
void TComFlowControl::SetXoffChar(char v) {
  if (Store(FXoffChar, v)) Changed();
}

TFlowControl TComFlowControl::GetFlowControl() const {
  const bool xonXoffOff = !FXonXoffIn && !FXonXoffOut;
  const bool xonXoffOn = FXonXoffIn && FXonXoffOut;
  if (FControlRTS == rtsHandshake && FOutCTSFlow && xonXoffOff) return fcHardware;
  if (FControlRTS == rtsDisable && !FOutCTSFlow && xonXoffOn) return fcSoftware;
  if (FControlRTS == rtsDisable && !FOutCTSFlow && xonXoffOff) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  if (value != fcCustom) {
    FControlRTS = rtsDisable;
    FOutCTSFlow = false;
    FXonXoffIn = false;
    FXonXoffOut = false;
    switch (value) {
      case fcHardware:
        FControlRTS = rtsHandshake;
        FOutCTSFlow = true;
        break;
      case fcSoftware:
        FXonXoffIn = true;
        FXonXoffOut = true;
        break;
      case fcNone:
      case fcCustom:
        break;
    }
  }
  // Also for fcCustom: callers rely on one re-apply per call.
  Changed();
}

void TComFlowControl::CopyFields(const TComFlowControl& o) {
  FOutCTSFlow = o.FOutCTSFlow;
  FOutDSRFlow = o.FOutDSRFlow;
  FControlDTR = o.FControlDTR;
  FControlRTS = o.FControlRTS;
  FXonXoffOut = o.FXonXoffOut;
  FXonXoffIn = o.FXonXoffIn;
  FDSRSensitivity = o.FDSRSensitivity;
  FTxContinueOnXoff = o.FTxContinueOnXoff;
  FXonChar = o.FXonChar;
  FXoffChar = o.FXoffChar;
}
void TComFlowControl::AssignTo(TPersistent& dest) const {
  if (auto* d = dynamic_cast<TComFlowControl*>(&dest))
    d->CopyFields(*this);
  else
    TPersistent::AssignTo(dest);
}

// ---------------------------------------------------------------------------
// TComParity

void TComParity::Changed() {
  if (ComPort()) ComPort()->ApplyDCB();
}
void TComParity::SetBits(TParityBits v) {
  if (Store(FBits, v)) Changed();
}
void TComParity::SetCheck(bool v) {
  if (FCheck.load(std::memory_order_relaxed) == v) return;
  FCheck.store(v, std::memory_order_relaxed);
  Changed();
}
void TComParity::SetReplace(bool v) {
  if (Store(FReplace, v)) Changed();
}
void TComParity::SetReplaceChar(char v) {
  if (Store(FReplaceChar, v)) Changed();
}
void TComParity::CopyFields(const TComParity& o) {
  FBits = o.FBits;
  FCheck.store(o.Check(), std::memory_order_relaxed);
  FReplace = o.FReplace;
  FReplaceChar = o.FReplaceChar;
}
void TComParity::AssignTo(TPersistent& dest) const {
  if (auto* d = dynamic_cast<TComParity*>(&dest))
    d->CopyFields(*this);
  else
    TPersistent::AssignTo(dest);
}

// ---------------------------------------------------------------------------
// TComBuffer

void TComBuffer::Changed() {
  if (ComPort()) ComPort()->ApplyBuffer();
}
namespace {
int32_t EvenSize(int32_t v) { return (v > 0 && v % 2 != 0) ? v - 1 : v; }
}  // namespace
void TComBuffer::SetInputSize(int32_t v) {
  if (v == FInputSize) return;
  FInputSize = EvenSize(v);
  Changed();
}
void TComBuffer::SetOutputSize(int32_t v) {
  if (v == FOutputSize) return;
  FOutputSize = EvenSize(v);
  Changed();
}
void TComBuffer::CopyFields(const TComBuffer& o) {
  FInputSize = o.FInputSize;
  FOutputSize = o.FOutputSize;
}
void TComBuffer::AssignTo(TPersistent& dest) const {
  if (auto* d = dynamic_cast<TComBuffer*>(&dest))
    d->CopyFields(*this);
  else
    TPersistent::AssignTo(dest);
}

}  // namespace cport

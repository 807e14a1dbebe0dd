// SPDX-License-Identifier: MIT
// The event thread: one per open port with a non-empty Events set.  It
// sleeps in the device's event wait and hands each batch of events to the
// port by the port's SyncMethod.
#include "CPort.h"

namespace cport {

namespace {

// The order in which one batch is reported.
constexpr TComEvent kDispatchOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                        evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

}  // namespace

TComThread::TComThread(TCustomComPort* port)
    : FComPort(port),
      FOpenSerial(port->FOpenSerial),
      FDevice(port->Device()),
      FStopEvent(port->Driver().CreateSignal()) {
  SetPriority(port->EventThreadPriority());
  FDevice.SetCommMask(EventsToMask(port->Events()));
  // Started by the port once it holds this object: a handler on this thread
  // may close the port at once.
}

TComThread::~TComThread() {
  Stop();
  Terminate();
  WaitFor();
}

void TComThread::Stop() {
  // Once only: a thread the port let go of stops itself at its end, when
  // the signal's driver may be gone.
  if (FStopped.exchange(true)) return;
  FStopEvent->Set();
  std::this_thread::yield();
}

bool TComThread::DispatchingHere() const {
  return FDispatching.load() && FDispatchThread.load() == std::this_thread::get_id();
}

void TComThread::Execute() {
  try {
    for (;;) {
      uint32_t mask = 0;
      if (FDevice.WaitCommEvent(mask, FStopEvent.get(), -1) != 0) break;
      if (FStopEvent->IsSet()) break;
      if (mask == 0) continue;
      FEvents = MaskToEvents(mask);
      DispatchComMsg();
      if (FOrphaned.load() || FStopEvent->IsSet()) break;
    }
  } catch (...) {
    // A failed batch ends the thread without a word; the device stops
    // collecting events but keeps its queued bytes for the readers.  A port
    // that let go of the thread has closed the device already.
    if (!FOrphaned.load()) FDevice.SetCommMask(0);
    throw;
  }
  // Nothing more on the device: Close silences and purges it itself, also
  // when it could not wait for this thread.
}

void TComThread::DispatchComMsg() {
  switch (FComPort->SyncMethod()) {
    case smThreadSync:
      Synchronize([this] { DoEvents(); });
      break;
    case smWindowSync:
      SendEvents();
      break;
    case smNone:
      DoEvents();
      break;
  }
}

void TComThread::DoEvents() {
  struct TDispatchMark {
    TComThread& T;
    explicit TDispatchMark(TComThread& t) : T(t) {
      T.FDispatchThread.store(std::this_thread::get_id());
      T.FDispatching.store(true);
    }
    ~TDispatchMark() { T.FDispatching.store(false); }
  } mark(*this);
  TCustomComPort* port = FComPort;
  for (TComEvent e : kDispatchOrder) {
    if (!FEvents.Contains(e)) continue;
    // A handler closed (or destroyed) the port: report no more to it.
    if (FOrphaned.load()) return;
    switch (e) {
      case evError: port->CallError(); break;
      case evRxChar: port->CallRxChar(); break;
      case evTxEmpty: port->CallTxEmpty(); break;
      case evBreak: port->CallBreak(); break;
      case evRing: port->CallRing(); break;
      case evCTS: port->CallCTSChange(); break;
      case evDSR: port->CallDSRChange(); break;
      case evRxFlag: port->CallRxFlag(); break;
      case evRLSD: port->CallRLSDChange(); break;
      case evRx80Full: port->CallRx80Full(); break;
    }
  }
}

void TComThread::SendEvents() {
  for (TComEvent e : kDispatchOrder)
    if (FEvents.Contains(e)) FComPort->FWindow->PostMessage(CM_COMPORT, EventsToMask(TComEvents{e}), 0);
}

}  // namespace cport

// SPDX-License-Identifier: MIT
// Serial port component: the port object with its settings, its device
// lifecycle and transfers, line status and control, the event thread and its
// notifications, the failure type and the texts of the settings.
//
// Contract in brief:
//  - A setter stores its value at once.  While the port is open and no
//    BeginUpdate batch is pending it also hands its group of settings to the
//    driver (ApplyDCB, ApplyTimeouts or ApplyBuffer).  Opening applies all.
//  - Every failure is an EComPort with a component code (1 to 23) and the
//    operating system's error number (-1 for the component's own).
//  - Threads: the port is opened, closed and set up from one thread (the one
//    that opens it, in a GUI the main thread).  While it is open with a
//    non-empty Events set, an event thread waits for line events; its
//    notifications run on the main thread (smThreadSync, the default: the
//    main thread must run CheckSynchronize, see Classes.h), on the opening
//    thread through posted messages (smWindowSync) or on the event thread
//    itself (smNone, handlers then synchronise themselves).  Transfers,
//    status queries, line control and WaitForEvent may come from any thread.
//  - Close (and the destructor) may be called from anywhere: from a handler
//    in any SyncMethod, inside another Close's wait, on a port a handler has
//    closed already.  Each open gets one before-close and one after-close
//    report.  Close wakes every thread inside the device (a pending transfer
//    ends as aborted, WaitForEvent with code 21) and waits until each has
//    left; a call that comes later fails as on a closed port.  When Close
//    returns the device is released (an Open may follow at once, also from
//    the handler).
//  - Transfers follow the overlapped contract (see ComDriver.h): started
//    transfers go on by themselves, in order per direction; a record keeps
//    its result (an aborted one stays aborted) until its next transfer, and
//    DoneAsync on a record whose transfer is pending ends it (as aborted).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "ComDriver.h"

namespace cport {

// ---------------------------------------------------------------------------
// Enumerations (ordinals are stored by programs: never reorder)

enum TBaudRate : uint8_t {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
  br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent : uint8_t {
  evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };
enum TComSignal : uint8_t { csCTS, csDSR, csRing, csRLSD };
enum TComError : uint8_t { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
enum TOperationKind : uint8_t { okWrite, okRead };
enum TStoreType : uint8_t { stRegistry, stIniFile };
enum TStoredProp : uint8_t { spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers };
enum TComLinkEvent : uint8_t { leConn, leCTS, leDSR, leRLSD, leRing, leRx, leTx, leTxEmpty, leRxFlag };

// Number of values of each enumeration, for range checks of stored ordinals.
constexpr int BaudRateCount = 16, StopBitsCount = 3, DataBitsCount = 4, ParityBitsCount = 5,
              FlowControlCount = 4;

using TComEvents = TSet<TComEvent, uint16_t>;
using TComSignals = TSet<TComSignal, uint8_t>;
using TComErrors = TSet<TComError, uint8_t>;
using TStoredProps = TSet<TStoredProp, uint8_t>;

const TComEvents AllComEvents{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                              evCTS,    evDSR,     evError,  evRLSD, evRx80Full};

// Event sets and the driver's event mask.
uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(uint32_t mask);

// The number of bits per second a named rate stands for (0 for brCustom).
uint32_t BaudRateValue(TBaudRate rate);

// ---------------------------------------------------------------------------
// Failures

enum : int32_t {
  CError_OpenFailed = 1, CError_WriteFailed, CError_ReadFailed, CError_InvalidAsync, CError_PurgeFailed,
  CError_AsyncCheck, CError_SetStateFailed, CError_TimeoutsFailed, CError_SetupComFailed,
  CError_ClearComFailed, CError_ModemStatFailed, CError_EscapeComFailed, CError_TransmitFailed,
  CError_ConnChangeProp, CError_EnumPortsFailed, CError_StoreFailed, CError_LoadFailed,
  CError_RegFailed, CError_LedStateFailed, CError_ThreadCreated, CError_WaitFailed,
  CError_HasLink, CError_RegError
};
constexpr int32_t PortErrorCount = 23;

class EComPort : public Exception {
 public:
  // The message is the code's text followed by the system error suffix.
  EComPort(int32_t code, int32_t systemError);
  // The component's own failure: the text alone, SystemErrorCode -1.
  explicit EComPort(int32_t code);

  int32_t ComErrorCode() const { return FComErrorCode; }
  int32_t SystemErrorCode() const { return FSystemErrorCode; }

 private:
  int32_t FComErrorCode;
  int32_t FSystemErrorCode;
};

// The 23 texts in the user's language, indexed by code (entry 0 unused).
// Looked up through the "cport" message catalog once, at the first call of
// either function: call InitPortErrorTexts() after the program has set its
// locale.
void InitPortErrorTexts();
const std::array<std::string, PortErrorCount + 1>& PortErrorTexts();

// ---------------------------------------------------------------------------
// Setting records

class TCustomComPort;

// Common part of the four records: the back-link to the port, set once by
// the port and never owned.  Copying a record copies its fields, never the
// back-link, and re-applies nothing by itself.
class TComRecord : public TPersistent {
 public:
  TCustomComPort* ComPort() const { return FComPort; }
  void SetComPort(TCustomComPort* port) { FComPort = port; }

 protected:
  TComRecord() = default;
  TComRecord(const TComRecord&) : TPersistent() {}
  TComRecord& operator=(const TComRecord&) { return *this; }

 private:
  TCustomComPort* FComPort = nullptr;
};

class TComTimeouts : public TComRecord {
 public:
  TComTimeouts() = default;
  TComTimeouts(const TComTimeouts& other) : TComRecord(other) { CopyFields(other); }
  TComTimeouts& operator=(const TComTimeouts& other) {
    CopyFields(other);
    return *this;
  }
  const char* ClassName() const override { return "TComTimeouts"; }

  int32_t ReadInterval() const { return FReadInterval; }
  int32_t ReadTotalMultiplier() const { return FReadTotalM; }
  int32_t ReadTotalConstant() const { return FReadTotalC; }
  int32_t WriteTotalMultiplier() const { return FWriteTotalM; }
  int32_t WriteTotalConstant() const { return FWriteTotalC; }
  void SetReadInterval(int32_t value);
  void SetReadTotalM(int32_t value);
  void SetReadTotalC(int32_t value);
  void SetWriteTotalM(int32_t value);
  void SetWriteTotalC(int32_t value);

 protected:
  void AssignTo(TPersistent& dest) const override;

 private:
  void CopyFields(const TComTimeouts& o);
  void Changed();
  int32_t FReadInterval = -1;
  int32_t FReadTotalM = 0;
  int32_t FReadTotalC = 0;
  int32_t FWriteTotalM = 100;
  int32_t FWriteTotalC = 1000;
};

class TComFlowControl : public TComRecord {
 public:
  TComFlowControl() = default;
  TComFlowControl(const TComFlowControl& other) : TComRecord(other) { CopyFields(other); }
  TComFlowControl& operator=(const TComFlowControl& other) {
    CopyFields(other);
    return *this;
  }
  const char* ClassName() const override { return "TComFlowControl"; }

  bool OutCTSFlow() const { return FOutCTSFlow; }
  bool OutDSRFlow() const { return FOutDSRFlow; }
  TDTRFlowControl ControlDTR() const { return FControlDTR; }
  TRTSFlowControl ControlRTS() const { return FControlRTS; }
  bool XonXoffOut() const { return FXonXoffOut; }
  bool XonXoffIn() const { return FXonXoffIn; }
  bool DSRSensitivity() const { return FDSRSensitivity; }
  bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
  char XonChar() const { return FXonChar; }
  char XoffChar() const { return FXoffChar; }
  void SetOutCTSFlow(bool value);
  void SetOutDSRFlow(bool value);
  void SetControlDTR(TDTRFlowControl value);
  void SetControlRTS(TRTSFlowControl value);
  void SetXonXoffOut(bool value);
  void SetXonXoffIn(bool value);
  void SetDSRSensitivity(bool value);
  void SetTxContinueOnXoff(bool value);
  void SetXonChar(char value);
  void SetXoffChar(char value);

  // The summary of RTS, CTS and XON/XOFF settings, and its expansion.
  TFlowControl GetFlowControl() const;
  void SetFlowControl(TFlowControl value);

 protected:
  void AssignTo(TPersistent& dest) const override;

 private:
  void CopyFields(const TComFlowControl& o);
  void Changed();
  bool FOutCTSFlow = false;
  bool FOutDSRFlow = false;
  TDTRFlowControl FControlDTR = dtrDisable;
  TRTSFlowControl FControlRTS = rtsDisable;
  bool FXonXoffOut = false;
  bool FXonXoffIn = false;
  bool FDSRSensitivity = false;
  bool FTxContinueOnXoff = false;
  char FXonChar = 17;
  char FXoffChar = 19;
};

class TComParity : public TComRecord {
 public:
  TComParity() = default;
  TComParity(const TComParity& other) : TComRecord(other) { CopyFields(other); }
  TComParity& operator=(const TComParity& other) {
    CopyFields(other);
    return *this;
  }
  const char* ClassName() const override { return "TComParity"; }

  TParityBits Bits() const { return FBits; }
  // Read by the event thread (the error flags) while the main thread may set it.
  bool Check() const { return FCheck.load(std::memory_order_relaxed); }
  bool Replace() const { return FReplace; }
  char ReplaceChar() const { return FReplaceChar; }
  void SetBits(TParityBits value);
  void SetCheck(bool value);
  void SetReplace(bool value);
  void SetReplaceChar(char value);

 protected:
  void AssignTo(TPersistent& dest) const override;

 private:
  void CopyFields(const TComParity& o);
  void Changed();
  TParityBits FBits = prNone;
  std::atomic<bool> FCheck{false};
  bool FReplace = false;
  char FReplaceChar = 0;
};

class TComBuffer : public TComRecord {
 public:
  TComBuffer() = default;
  TComBuffer(const TComBuffer& other) : TComRecord(other) { CopyFields(other); }
  TComBuffer& operator=(const TComBuffer& other) {
    CopyFields(other);
    return *this;
  }
  const char* ClassName() const override { return "TComBuffer"; }

  int32_t InputSize() const { return FInputSize; }
  int32_t OutputSize() const { return FOutputSize; }
  // An odd positive size is stored as the even number below it.
  void SetInputSize(int32_t value);
  void SetOutputSize(int32_t value);

 protected:
  void AssignTo(TPersistent& dest) const override;

 private:
  void CopyFields(const TComBuffer& o);
  void Changed();
  int32_t FInputSize = 1024;
  int32_t FOutputSize = 1024;
};

// ---------------------------------------------------------------------------
// Overlapped transfers

class TDeviceSlot;

struct TAsync {
  TIoRequest IoRequest;
  TOperationKind Operation = okWrite;
  std::unique_ptr<uint8_t[]> DataCopy;  // bytes of the last write: what WriteStrAsync writes, and links hear of
  int32_t DataSize = 0;
  // Where the last transfer was started (the port's device, as it is then):
  // releasing the record ends that transfer there first.
  std::shared_ptr<TDeviceSlot> Slot;
};
using PAsync = TAsync*;

void InitAsync(PAsync& async);
void DoneAsync(PAsync& async);

// ---------------------------------------------------------------------------
// Notifications

using TNotifyEvent = std::function<void(TCustomComPort* sender)>;
using TRxCharEvent = std::function<void(TCustomComPort* sender, int32_t count)>;
using TRxBufEvent = std::function<void(TCustomComPort* sender, const void* buffer, int32_t count)>;
using TComErrorEvent = std::function<void(TCustomComPort* sender, TComErrors errors)>;
using TComSignalEvent = std::function<void(TCustomComPort* sender, bool onOff)>;

// A companion component's listener on a port.  The port keeps registered
// links in registration order and does not own them; a link taken off the
// list while the port tells its links of something hears no more of it.
class TComLink {
 public:
  TComSignalEvent OnConn;
  TRxBufEvent OnRxBuf;
  TRxBufEvent OnTxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnRxFlag;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TNotifyEvent OnRing;
  TComSignalEvent OnTx;
  TComSignalEvent OnRx;
  // Line errors, before the port's OnError (ceIO: the line is gone).
  TComErrorEvent OnError;
};

class TComThread;

// Message number of an event handed over to the opening thread.
constexpr uint32_t CM_COMPORT = 0x0401;

// ---------------------------------------------------------------------------
// The port

class TCustomComPort : public TComponent {
 public:
  // driver: the system interface to use; nullptr for the platform's own.
  explicit TCustomComPort(TComponent* owner = nullptr, TComDriver* driver = nullptr);
  ~TCustomComPort() override;

  TComDriver& Driver() const { return *FDriver; }

  // -- settings --------------------------------------------------------------
  bool Connected() const { return FConnected; }
  void SetConnected(bool value);
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate value);
  int32_t CustomBaudRate() const { return FCustomBaudRate; }
  void SetCustomBaudRate(int32_t value);
  const std::string& Port() const { return FPort; }
  void SetPort(const std::string& value);
  TComParity& Parity() { return FParity; }
  const TComParity& Parity() const { return FParity; }
  void SetParity(const TComParity& value);
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits value);
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits value);
  bool DiscardNull() const { return FDiscardNull; }
  void SetDiscardNull(bool value);
  char EventChar() const { return FEventChar; }
  void SetEventChar(char value);
  // Stored only; handed to the driver when the event thread starts.
  TComEvents Events() const { return FEvents; }
  void SetEvents(TComEvents value) { FEvents = value; }
  TComBuffer& Buffer() { return FBuffer; }
  const TComBuffer& Buffer() const { return FBuffer; }
  void SetBuffer(const TComBuffer& value);
  TComFlowControl& FlowControl() { return FFlowControl; }
  const TComFlowControl& FlowControl() const { return FFlowControl; }
  void SetFlowControl(const TComFlowControl& value);
  TComTimeouts& Timeouts() { return FTimeouts; }
  const TComTimeouts& Timeouts() const { return FTimeouts; }
  void SetTimeouts(const TComTimeouts& value);
  TSyncMethod SyncMethod() const { return FSyncMethod; }
  void SetSyncMethod(TSyncMethod value);
  TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
  void SetEventThreadPriority(TThreadPriority value);
  bool TriggersOnRxChar() const { return GetTriggersOnRxChar(); }
  bool GetTriggersOnRxChar() const;
  void SetTriggersOnRxChar(bool value);

  // -- batches and applying ----------------------------------------------------
  void BeginUpdate();
  void EndUpdate();
  int32_t UpdateDepth() const { return FUpdateCount; }
  virtual void SetupComPort();
  virtual void ApplyDCB();
  virtual void ApplyTimeouts();
  virtual void ApplyBuffer();
  // What ApplyDCB and ApplyTimeouts hand to the driver.
  TDCB BuildDCB() const;
  TCommTimeouts BuildTimeouts() const;

  // -- lifecycle -------------------------------------------------------------
  void Open();
  void Close();
  // Runs the setup dialog on this port (provided by the dialog library).
  void ShowSetupDialog();

  // -- transfers -------------------------------------------------------------
  int32_t Write(const void* buffer, int32_t count);
  int32_t WriteStr(const std::string& str);
  int32_t Read(void* buffer, int32_t count);
  int32_t ReadStr(std::string& str, int32_t count);
  int32_t WriteAsync(const void* buffer, int32_t count, PAsync& async);
  int32_t WriteStrAsync(const std::string& str, PAsync& async);
  int32_t ReadAsync(void* buffer, int32_t count, PAsync& async);
  int32_t ReadStrAsync(std::string& str, int32_t count, PAsync& async);
  int32_t WaitForAsync(PAsync& async);
  bool IsAsyncCompleted(PAsync async);
  void AbortAllAsync();

  // -- line status and control -----------------------------------------------
  int32_t InputCount();
  int32_t OutputCount();
  uint8_t StateFlags();
  TComErrors LastErrors();
  TComSignals Signals();
  void SetBreak(bool on);
  void SetDTR(bool on);
  void SetRTS(bool on);
  void SetXonXoff(bool on);
  void ClearBuffer(bool input, bool output);
  void TransmitChar(char c);
  // Waits for one of events (time-out in ms, -1 none; stop may end it early)
  // and returns in events what occurred.  Only without an event thread.
  void WaitForEvent(TComEvents& events, TSignal* stop, int32_t timeout);
  // For a program that reads on a schedule of its own (a view redrawn every
  // few ms): it pauses at a report and resumes once a read finds nothing,
  // so a steady stream wakes no thread between its reads.  Paused, bytes
  // that come raise no evRxChar (one already on its way may still come),
  // nor what is judged on arrival (evRxFlag, evRx80Full, line errors,
  // breaks); resuming reports the bytes that wait then as one arrival.
  // From any thread; nothing to do on a closed port; each open starts
  // resumed.
  void PauseRxChar();
  void ResumeRxChar();

  // -- notifications ---------------------------------------------------------
  TNotifyEvent OnAfterOpen, OnAfterClose, OnBeforeOpen, OnBeforeClose;
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty, OnBreak, OnRing;
  TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
  TNotifyEvent OnRxFlag;
  TComErrorEvent OnError;
  TNotifyEvent OnRx80Full;

  void CallBeforeOpen();
  void CallAfterOpen();
  void CallBeforeClose();
  void CallAfterClose();
  void CallRxChar();
  void CallTxEmpty();
  void CallBreak();
  void CallRing();
  void CallRxFlag();
  void CallRx80Full();
  void CallCTSChange();
  void CallDSRChange();
  void CallRLSDChange();
  void CallError();
  void CheckSignals(bool open);
  void WindowMethod(uint32_t msg, uintptr_t wParam, intptr_t lParam);

  void RegisterLink(TComLink* link);
  void UnRegisterLink(TComLink* link);
  bool HasLink() const;
  void NotifyLink(TComLinkEvent kind);
  void SendSignalToLink(TComLinkEvent kind, bool on);
  void TxNotifyLink(const void* buffer, int32_t count);

  // State the event thread and tests look at.
  bool EventThreadCreated() const { return FThreadCreated.load(); }
  bool HasMessageWindow() const { return FWindow != nullptr; }

 protected:
  void Loaded() override;
  virtual void CreateHandle();
  virtual void DestroyHandle();

  virtual void DoAfterClose();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoBeforeOpen();
  virtual void DoRxChar(int32_t count);
  virtual void DoRxBuf(const void* buffer, int32_t count);
  virtual void DoTxEmpty();
  virtual void DoBreak();
  virtual void DoRing();
  virtual void DoRxFlag();
  virtual void DoCTSChange(bool onOff);
  virtual void DoDSRChange(bool onOff);
  virtual void DoError(TComErrors errors);
  virtual void DoRLSDChange(bool onOff);
  virtual void DoRx80Full();

 private:
  friend class TComThread;
  bool CanApply() const;
  TComDevice& Device() const;
  void ReadStatus(uint32_t& errors, TComStat& stat);
  bool AnyLink() const { return !FLinks.empty(); }
  bool Listed(const TComLink* link) const;
  void StartEventThread();
  void StopEventThread();
  void FinishClose();
  uint32_t BeginWrite(TAsync& async, const void* buffer, int32_t count);
  uint32_t BeginRead(TAsync& async, void* buffer, int32_t count);
  uint32_t Complete(TIoRequest& req, TOperationKind op);
  void ReadDone(int32_t got);

  TComDriver* FDriver;
  std::unique_ptr<TComDevice> FDevice;  // the opening thread's; others reach it through FSlot
  std::shared_ptr<TDeviceSlot> FSlot;
  bool FConnected = false;
  // Lifecycle: which open a Close belongs to, whether one is under way,
  // and whether this object still exists when a handler run inside Close
  // returns (a handler may destroy the port).
  uint64_t FOpenSerial = 0;
  bool FClosing = false;
  bool FQuietOnClose = false;  // the device watched events: silence and purge it at close
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
  TComThread* FStoppingThread = nullptr;  // the thread an outer Close waits for
  TBaudRate FBaudRate = br9600;
  int32_t FCustomBaudRate = 9600;
  std::string FPort = "COM1";
  TComParity FParity;
  TStopBits FStopBits = sbOneStopBit;
  TDataBits FDataBits = dbEight;
  bool FDiscardNull = false;
  char FEventChar = 0;
  TComEvents FEvents = AllComEvents;
  TComBuffer FBuffer;
  TComFlowControl FFlowControl;
  TComTimeouts FTimeouts;
  TSyncMethod FSyncMethod = smThreadSync;
  TThreadPriority FEventThreadPriority = tpNormal;
  bool FTriggersOnRxChar = true;
  bool FHasLink = false;
  std::atomic<bool> FRxPaused{false};  // reads, not reports, tell the links of bytes
  int32_t FUpdateCount = 0;
  std::vector<TComLink*> FLinks;
  std::atomic<bool> FThreadCreated{false};  // WaitForEvent may ask from any thread
  std::unique_ptr<TComThread> FEventThread;
  std::unique_ptr<TMessageWindow> FWindow;
};

// The port as programs place it: the same object with every property
// published.
class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};

// ---------------------------------------------------------------------------
// The event thread

class TComThread : public TThread {
 public:
  // Creates the thread for the port and hands the event mask to the device;
  // the port starts it (Start) once it holds it.
  explicit TComThread(TCustomComPort* port);
  ~TComThread() override;
  // Ends the wait at once; the thread leaves after its current batch.
  void Stop();
  // True while a batch is being dispatched on the calling thread (a handler
  // of this thread's batch is running here).
  bool DispatchingHere() const;
  // The port let go of this thread (closed from inside one of its
  // handlers): it reports nothing more and never touches the device again.
  void Detach() { FOrphaned.store(true); }
  // The open of the port this thread belongs to.
  uint64_t OpenSerial() const { return FOpenSerial; }

 protected:
  void Execute() override;

 private:
  void DispatchComMsg();
  void DoEvents();
  void SendEvents();

  TCustomComPort* FComPort;
  const uint64_t FOpenSerial;
  TComDevice& FDevice;
  std::unique_ptr<TSignal> FStopEvent;
  TComEvents FEvents;
  std::atomic<bool> FDispatching{false};
  std::atomic<bool> FOrphaned{false};  // the port let go of this thread
  std::atomic<bool> FStopped{false};
  std::atomic<std::thread::id> FDispatchThread{};
};

// ---------------------------------------------------------------------------
// Port names and setting texts

// Replaces list with the names of the serial ports present, sorted.
void EnumComPorts(std::vector<std::string>& list);
void EnumComPorts(std::vector<std::string>& list, TComDriver& driver);
// The same list with a description of each port, sorted by name.
void EnumComPortInfo(std::vector<TComPortInfo>& list);
void EnumComPortInfo(std::vector<TComPortInfo>& list, TComDriver& driver);
// Order of the port list: case-insensitive, by the user's locale.
bool PortNameLess(const std::string& a, const std::string& b);

std::string BaudRateToStr(TBaudRate value);
std::string StopBitsToStr(TStopBits value);
std::string DataBitsToStr(TDataBits value);
std::string ParityToStr(TParityBits value);
std::string FlowControlToStr(TFlowControl value);
TBaudRate StrToBaudRate(const std::string& str);
TStopBits StrToStopBits(const std::string& str);
TDataBits StrToDataBits(const std::string& str);
TParityBits StrToParity(const std::string& str);
TFlowControl StrToFlowControl(const std::string& str);

}  // namespace cport

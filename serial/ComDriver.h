// SPDX-License-Identifier: MIT
// The boundary between the neutral port object and the operating system.
//
// The port object reaches the system only through TComDriver (opening,
// listing ports, stop signals) and TComDevice (one open device).  The shapes
// follow the classic serial communications interface: a device control
// block, five time-outs, two queue sizes, overlapped transfers, purge, a
// status and error query, modem status, escape functions, a priority
// character and an event mask with an event wait.  The port object builds
// these values the same way on every platform; each driver maps them onto
// its own calls (the Linux driver onto termios and ioctls).
//
// Errors: every operation returns 0 on success or the operating system's
// error number (errno on Linux), which the port object carries in EComPort.
//
// Ownership and threads:
//  - A device belongs to the open of the port that made it: the port counts
//    its opens and ties each event thread and each Close to one of them, so
//    a Close run inside another (a handler that reconnects) stops exactly
//    its own open's thread and releases its own device.  Destroying a
//    device closes it at once: it first ends every transfer and every wait
//    still in it, WaitCommEvent included (as aborted, ECANCELED), and waits
//    until the threads in those calls have left.  No call may start on a
//    device once its destruction has begun: the port keeps other threads
//    out and waits for those inside (see CPort.h), and destroys a device
//    only after its event thread has left the event wait.
//  - Transfers follow the overlapped contract.  A started transfer is held
//    by the driver until it completes, fails, times out or is aborted; each
//    direction keeps the order in which transfers were started.  A pending
//    transfer is moved by the thread that waits for it in Transfer (the
//    blocking forms), otherwise by a helper thread of the device that the
//    first pending transfer starts; nobody has to poll.  GetResult with wait
//    sleeps until the driver has completed the request; without, it never
//    blocks.  A transfer that completes at once involves no other thread.
//  - A blocking read that returns at once may take no lock at all (Linux:
//    one read() of the terminal), but only while no read is pending, the
//    driver holds no received bytes of its own, no read filter (parity
//    marks, DiscardNull, DSR sensitivity) is on, the read time-outs return
//    at once and the device is not being destroyed.  Such a read decides
//    nothing about a request and never sleeps, so no abort or wake-up can
//    pass it by; whatever ends one of those conditions first waits for the
//    reads in flight.
//  - An abort (PurgeComm with an abort flag, from any thread) completes every
//    pending transfer of its direction as failed with ECANCELED, under the
//    same lock under which waiters decide to sleep, and wakes them; a waiter
//    cannot miss it.  CancelTransfer does the same for one request, after
//    which the driver no longer refers to it (the record may go).  The
//    request keeps its result until a new transfer is started on it,
//    whatever happens to the device.
//  - Purging input empties whatever the driver holds and the device's own
//    queue in one step; the receive count covers both at one moment.
//  - The event wait (SetCommMask, WaitCommEvent) is used by one thread at a
//    time (the port's event thread, or WaitForEvent).  SetCommMask from
//    another thread ends a wait in progress, with no events.  The stop
//    signal is watched as the object it is, and its Set and Reset change it
//    in one step.  The status queries may come from any thread.  Transfers
//    and the event wait never block each other.
//  - A driver's own threads never run the program's signal handlers and are
//    stopped by no signal the program could ignore, restart or make fatal:
//    the Linux modem-line helper starts with every signal blocked and is
//    ended by thread cancellation, accepted only inside its wait (a cancel
//    sent before the wait acts as the wait begins).  Tests stand in for that
//    wait through SetModemLineWaitForTesting (linux/ComHooksLinux.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cport {

// Device control block: line format, flow control and special characters.
// Field names and the flag word follow the classic layout (28 bytes).
struct TDCB {
  uint32_t DCBlength = sizeof(TDCB);
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;  // see the DCB_* bits
  uint16_t wReserved = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 0;  // 5 to 8
  uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t wReserved1 = 0;

  uint32_t DtrControl() const { return (Flags & DCB_DtrControlMask) >> DCB_DtrControlShift; }
  uint32_t RtsControl() const { return (Flags & DCB_RtsControlMask) >> DCB_RtsControlShift; }
  bool Has(uint32_t flag) const { return (Flags & flag) != 0; }

  static constexpr uint32_t DCB_Binary = 0x0001;
  static constexpr uint32_t DCB_Parity = 0x0002;
  static constexpr uint32_t DCB_OutxCtsFlow = 0x0004;
  static constexpr uint32_t DCB_OutxDsrFlow = 0x0008;
  static constexpr uint32_t DCB_DtrControlMask = 0x0030;
  static constexpr uint32_t DCB_DtrControlShift = 4;
  static constexpr uint32_t DCB_DsrSensitivity = 0x0040;
  static constexpr uint32_t DCB_TXContinueOnXoff = 0x0080;
  static constexpr uint32_t DCB_OutX = 0x0100;
  static constexpr uint32_t DCB_InX = 0x0200;
  static constexpr uint32_t DCB_ErrorChar = 0x0400;
  static constexpr uint32_t DCB_Null = 0x0800;
  static constexpr uint32_t DCB_RtsControlMask = 0x3000;
  static constexpr uint32_t DCB_RtsControlShift = 12;
  static constexpr uint32_t DCB_AbortOnError = 0x4000;
};
static_assert(sizeof(TDCB) == 28, "the device control block keeps its classic size");

// DtrControl and RtsControl codes.
constexpr uint32_t DTR_CODE_DISABLE = 0, DTR_CODE_ENABLE = 1, DTR_CODE_HANDSHAKE = 2;
constexpr uint32_t RTS_CODE_DISABLE = 0, RTS_CODE_ENABLE = 1, RTS_CODE_HANDSHAKE = 2,
                   RTS_CODE_TOGGLE = 3;

// Time-outs in milliseconds; 0xFFFFFFFF is "all bits set".
struct TCommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};
constexpr uint32_t TIMEOUT_ALL_BITS = 0xFFFFFFFFu;

// Result of the status and error query.
struct TComStat {
  uint32_t Flags = 0;  // hold states in bits 0 to 6 (CTS, DSR, RLSD, XOFF held, XOFF sent, EOF, TXIM)
  uint32_t cbInQue = 0;
  uint32_t cbOutQue = 0;
};

// Error word of the status query.
constexpr uint32_t CE_RXOVER_BIT = 0x0001, CE_OVERRUN_BIT = 0x0002, CE_RXPARITY_BIT = 0x0004,
                   CE_FRAME_BIT = 0x0008, CE_BREAK_BIT = 0x0010, CE_TXFULL_BIT = 0x0100,
                   CE_IOE_BIT = 0x0400, CE_MODE_BIT = 0x8000;

// Modem status bits.
constexpr uint32_t MS_CTS_BIT = 0x10, MS_DSR_BIT = 0x20, MS_RING_BIT = 0x40, MS_RLSD_BIT = 0x80;

// Purge flags.
constexpr uint32_t PURGE_TXABORT_FLAG = 0x1, PURGE_RXABORT_FLAG = 0x2, PURGE_TXCLEAR_FLAG = 0x4,
                   PURGE_RXCLEAR_FLAG = 0x8;

// Escape functions.
constexpr uint32_t ESC_SETXOFF = 1, ESC_SETXON = 2, ESC_SETRTS = 3, ESC_CLRRTS = 4, ESC_SETDTR = 5,
                   ESC_CLRDTR = 6, ESC_SETBREAK = 8, ESC_CLRBREAK = 9;

// Event mask bits.
constexpr uint32_t EV_RXCHAR_BIT = 0x0001, EV_RXFLAG_BIT = 0x0002, EV_TXEMPTY_BIT = 0x0004,
                   EV_CTS_BIT = 0x0008, EV_DSR_BIT = 0x0010, EV_RLSD_BIT = 0x0020, EV_BREAK_BIT = 0x0040,
                   EV_ERR_BIT = 0x0080, EV_RING_BIT = 0x0100, EV_RX80FULL_BIT = 0x0400;

// A manual-reset signal that can end a wait of another thread at once.
class TSignal {
 public:
  virtual ~TSignal() = default;
  virtual void Set() = 0;
  virtual void Reset() = 0;
  virtual bool IsSet() const = 0;
};

// One overlapped transfer.  A fresh request counts as completed with 0
// bytes.  While Pending the driver owns every field and may change them on
// another thread: read the result through GetResult.  Once completed, the
// result stays until a new transfer is started on the request.
struct TIoRequest {
  bool Pending = false;           // started and not yet completed
  uint32_t Transferred = 0;       // bytes moved so far
  int Error = 0;                  // failure of the completed transfer
  bool Write = false;             // kind of the transfer in progress
  uint8_t* ReadBuffer = nullptr;  // caller's memory, valid until completion
  const uint8_t* WriteBuffer = nullptr;
  uint32_t Requested = 0;
  // Driver's working state.
  int64_t TotalNs = 0;     // total limit, counted from when it begins to move; 0: none
  int64_t IntervalNs = 0;  // limit between two bytes; 0: none; -1: the first bytes end it
  int64_t DeadlineNs = 0;  // on the driver's clock, once Running
  int64_t LastByteNs = 0;
  bool Immediate = false;  // a read that takes what is there when its turn comes
  bool Running = false;    // the driver has begun to move it (it heads its queue)
  bool JustTried = false;  // the line was tried a moment ago: wait before trying again
};

enum class TIoStatus { Completed, Pending, Failed };

struct TIoResult {
  TIoStatus Status = TIoStatus::Completed;
  uint32_t Transferred = 0;  // bytes moved when Completed (0 otherwise)
  int Error = 0;             // system error when Failed
};

// One open device ("handle").  Destroying it closes the device and gives the
// line back as it was found.
class TComDevice {
 public:
  virtual ~TComDevice() = default;

  virtual int SetCommState(const TDCB& dcb) = 0;
  virtual int SetCommTimeouts(const TCommTimeouts& timeouts) = 0;
  virtual int SetupComm(uint32_t inputSize, uint32_t outputSize) = 0;

  // Start a transfer on the request: Completed with the bytes moved at once,
  // Pending, or Failed.  The buffer must stay valid until the transfer is
  // complete.
  virtual TIoResult StartWrite(TIoRequest& request, const void* buffer, uint32_t count) = 0;
  virtual TIoResult StartRead(TIoRequest& request, void* buffer, uint32_t count) = 0;
  // Completes the transfer: with wait, within the time-outs in force when it
  // started; without, never blocks and answers Pending when not yet done.
  virtual TIoResult GetResult(TIoRequest& request, bool wait) = 0;
  // Starts a transfer and waits for it: the blocking forms.  It waits behind
  // the transfers started before it in the same direction.
  virtual TIoResult Transfer(TIoRequest& request, bool write, void* buffer, uint32_t count) {
    const TIoResult r = write ? StartWrite(request, buffer, count) : StartRead(request, buffer, count);
    return r.Status == TIoStatus::Pending ? GetResult(request, true) : r;
  }
  // Ends the transfer on the request (write: its direction) if it is still
  // pending, as aborted (ECANCELED); when it returns, the driver holds no
  // reference to the request or its buffer, which may then be freed.  A
  // request the device does not hold is left alone.  The default aborts
  // every pending transfer of that direction.
  virtual void CancelTransfer(TIoRequest& request, bool write) {
    if (GetResult(request, false).Status != TIoStatus::Pending) return;
    PurgeComm(write ? PURGE_TXABORT_FLAG : PURGE_RXABORT_FLAG);
    GetResult(request, true);
  }

  virtual int PurgeComm(uint32_t flags) = 0;
  // Error word (cleared by the query) and queue counts.
  virtual int ClearCommError(uint32_t& errors, TComStat& stat) = 0;
  virtual int GetCommModemStatus(uint32_t& status) = 0;
  virtual int EscapeCommFunction(uint32_t function) = 0;
  virtual int TransmitCommChar(char c) = 0;

  virtual int SetCommMask(uint32_t mask) = 0;
  // Waits for an event of the mask, for the stop signal or for timeoutMs
  // (-1: no limit).  events receives what occurred, 0 when the wait ended by
  // the stop signal or the time-out.
  virtual int WaitCommEvent(uint32_t& events, TSignal* stop, int32_t timeoutMs) = 0;
  // While arrivals are held, bytes that come do not wake the event wait: it
  // reports no EV_RXCHAR for them, nor what is judged on arrival (the event
  // character, the 80 % mark, line errors and breaks).  Releasing reports
  // the bytes that wait then as one arrival.  Hang-ups, modem lines and
  // EV_TXEMPTY are reported as ever.  From any thread; a new device starts
  // released.  The default holds nothing (each arrival is reported as it
  // comes), which the contract allows.
  virtual int HoldArrivals(bool hold) {
    (void)hold;
    return 0;
  }
};

// What a person needs to recognise a port in a list.  Fields the platform
// does not know stay empty.
struct TComPortInfo {
  std::string Name;          // as the port list gives it (what Port takes)
  std::string Description;   // USB product and manufacturer, or the driver
  std::string VendorId;      // USB ids as four hex digits
  std::string ProductId;
  std::string SerialNumber;  // USB serial number
  std::string StablePath;    // a name that survives re-plugging, e.g. by-id
};

class TComDriver {
 public:
  virtual ~TComDriver() = default;
  // Opens the port by its name exclusively for reading and writing.
  virtual int Open(const std::string& port, std::unique_ptr<TComDevice>& device) = 0;
  // Names of the serial ports present, in no particular order.
  virtual int EnumPorts(std::vector<std::string>& names) = 0;
  // The same ports with what is known about each; a driver that knows
  // nothing more gives the names alone.
  virtual int EnumPortInfo(std::vector<TComPortInfo>& ports) {
    std::vector<std::string> names;
    const int err = EnumPorts(names);
    ports.clear();
    for (auto& n : names) {
      TComPortInfo info;
      info.Name = std::move(n);
      ports.push_back(std::move(info));
    }
    return err;
  }
  virtual std::unique_ptr<TSignal> CreateSignal() = 0;
  // The error an operation on a closed port reports (an invalid handle).
  virtual int InvalidHandleError() const = 0;
};

// The driver of the platform the program was built for.
TComDriver& DefaultComDriver();

}  // namespace cport

// SPDX-License-Identifier: MIT
// Private to the Windows driver: one open communications device, and the
// mappings between the component's records and the system's.
//
// The driver boundary was shaped after this interface, so almost every
// operation is one system call.  What the device adds: it remembers which
// system request (an OVERLAPPED with its event) carries each pending
// transfer, so that the caller's TIoRequest needs no system types, and it
// ends what still waits in it before the handle is closed.  Ordering,
// time-outs, aborts and completion are the system's own.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ComDriver.h"

namespace cport::win {

// The component's records are the system's, byte for byte.
DCB ToSystemDcb(const TDCB& dcb);
TDCB FromSystemDcb(const DCB& dcb);
COMMTIMEOUTS ToSystemTimeouts(const TCommTimeouts& timeouts);

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// "\\.\" followed by the port name; a name that is a device path already
// ("\\.\COM3", "\\?\...") is taken as it is.
std::wstring DevicePath(const std::string& port);

class TWindowsSignal final : public TSignal {
 public:
  TWindowsSignal();  // throws std::system_error when no event can be made
  ~TWindowsSignal() override { ::CloseHandle(FEvent); }
  void Set() override { ::SetEvent(FEvent); }
  void Reset() override { ::ResetEvent(FEvent); }
  bool IsSet() const override { return ::WaitForSingleObject(FEvent, 0) == WAIT_OBJECT_0; }
  HANDLE Handle() const { return FEvent; }

 private:
  HANDLE FEvent;
};

class TWindowsDevice final : public TComDevice {
 public:
  // Takes the handle (opened for overlapped I/O) and the line as it was
  // found, which it gives back when destroyed.
  TWindowsDevice(HANDLE handle, const DCB& original, const COMMTIMEOUTS& originalTimeouts);
  ~TWindowsDevice() override;

  HANDLE Handle() const { return FHandle; }

  int SetCommState(const TDCB& dcb) override;
  int SetCommTimeouts(const TCommTimeouts& timeouts) override;
  int SetupComm(uint32_t inputSize, uint32_t outputSize) override;
  TIoResult StartWrite(TIoRequest& request, const void* buffer, uint32_t count) override;
  TIoResult StartRead(TIoRequest& request, void* buffer, uint32_t count) override;
  TIoResult GetResult(TIoRequest& request, bool wait) override;
  int PurgeComm(uint32_t flags) override;
  int ClearCommError(uint32_t& errors, TComStat& stat) override;
  int GetCommModemStatus(uint32_t& status) override;
  int EscapeCommFunction(uint32_t function) override;
  int TransmitCommChar(char c) override;
  int SetCommMask(uint32_t mask) override;
  int WaitCommEvent(uint32_t& events, TSignal* stop, int32_t timeoutMs) override;

 private:
  // The system's record of one pending transfer, kept for reuse.
  struct TOverlapped {
    OVERLAPPED Ov{};
    HANDLE Event = nullptr;  // manual reset; the system resets it at each start
    int Waiters = 0;         // threads asleep on Event
    bool Done = false;       // its result is in the request; free once no one waits
  };
  using TLock = std::unique_lock<std::mutex>;

  TIoResult Start(TIoRequest& request, bool write, void* buffer, uint32_t count);
  TOverlapped* Take();
  void Give(TOverlapped* o);
  // Asks the system, without waiting, about the request's transfer; records
  // the result in the request once it is over.
  bool Poll(TIoRequest& request, TOverlapped* o);
  void Finish(TIoRequest& request, TOverlapped* o, int error, DWORD transferred);
  void Leave();

  const HANDLE FHandle;
  const DCB FOriginal;
  const COMMTIMEOUTS FOriginalTimeouts;

  std::mutex FMutex;
  std::condition_variable FLeft;  // a thread left a waiting call
  std::unordered_map<TIoRequest*, TOverlapped*> FActive;
  std::vector<std::unique_ptr<TOverlapped>> FRecords;
  std::vector<TOverlapped*> FFree;
  int FUsers = 0;  // threads inside a waiting call
  bool FDying = false;

  // The event wait: one waiter at a time, with its own event.
  std::atomic<uint32_t> FMask{0};
  HANDLE FWaitEvent = nullptr;
};

// The port names a registry key holds as its values' data, in the key's
// order (the system's serial device table is one such key).  0 or the
// registry's error.
int EnumRegistryPorts(HKEY root, const wchar_t* subkey, std::vector<std::string>& names);

// What the device manager tells about a port, and how its ids are read.
struct TDeviceIds {
  std::string VendorId, ProductId, SerialNumber;
};
// From a device's hardware and instance ids ("USB\VID_0403&PID_6001&REV_0600",
// "USB\VID_0403&PID_6001\A12345"): USB vendor and product as four lower-case
// hex digits, and the serial number where the instance id carries the
// device's own (one the system made up holds "&").
TDeviceIds ParseDeviceIds(const std::string& hardwareId, const std::string& instanceId);

// Descriptions from the device manager for the ports listed; ports it does
// not know keep their name alone.
void AddDeviceDescriptions(std::vector<TComPortInfo>& ports);

}  // namespace cport::win

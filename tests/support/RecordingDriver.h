// SPDX-License-Identifier: MIT
// A driver that records every call with its arguments and plays a device
// whose state the test sets: bytes to receive, modem lines, error word,
// events.  Failures can be injected per operation.  Thread-safe: the port's
// event thread calls it too.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ComDriver.h"

namespace cport::test {

struct TDriverCall {
  std::string Op;
  std::string Port;       // Open
  TDCB Dcb;               // SetCommState
  TCommTimeouts Timeouts; // SetCommTimeouts
  uint32_t A = 0;         // SetupComm input size, purge flags, escape function, mask, count ...
  uint32_t B = 0;         // SetupComm output size
};

class TRecordingDriver : public TComDriver {
 public:
  TRecordingDriver();
  ~TRecordingDriver() override;

  // -- what the port did ---------------------------------------------------
  std::vector<TDriverCall> Calls() const;
  std::vector<std::string> Ops() const;          // names only, in order
  int Count(const std::string& op) const;
  TDriverCall Last(const std::string& op) const;  // last call of op (Op empty if none)
  void ClearCalls();

  // -- failures ------------------------------------------------------------
  void FailNext(const std::string& op, int error);  // the next call only
  void FailAlways(const std::string& op, int error);
  void Heal(const std::string& op);

  // -- the device's side -----------------------------------------------------
  void Receive(const std::string& bytes);  // bytes waiting to be read
  std::string Transmitted() const;         // bytes written so far
  void SetModemStatus(uint32_t msBits);
  void SetErrorWord(uint32_t ceBits);      // reported (and cleared) by the next status query
  void SetOutQueue(uint32_t count);
  void RaiseEvents(uint32_t evBits);       // completes one event wait with these
  void SetPorts(std::vector<std::string> ports, int error = 0);  // names alone
  void SetPortInfo(std::vector<TComPortInfo> ports, int error = 0);
  bool DeviceOpen() const;
  int OpenDevices() const;
  int LiveSignals() const;  // created and not yet destroyed

  // -- TComDriver ------------------------------------------------------------
  int Open(const std::string& port, std::unique_ptr<TComDevice>& device) override;
  int EnumPorts(std::vector<std::string>& names) override;
  int EnumPortInfo(std::vector<TComPortInfo>& ports) override;
  std::unique_ptr<TSignal> CreateSignal() override;
  int InvalidHandleError() const override { return 9; }

 private:
  friend class TRecordingDevice;
  friend class TRecordingSignal;
  // Records the call and answers the injected failure for it, if any.
  int Record(TDriverCall call);

  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<TDriverCall> FCalls;
  std::map<std::string, int> FFailNext;
  std::map<std::string, int> FFailAlways;
  std::string FRx;
  std::string FTx;
  uint32_t FModem = 0;
  uint32_t FErrors = 0;
  uint32_t FOutQueue = 0;
  std::deque<uint32_t> FEvents;
  std::vector<TComPortInfo> FPorts;
  int FEnumError = 0;
  int FOpenDevices = 0;
  int FLiveSignals = 0;
};

}  // namespace cport::test

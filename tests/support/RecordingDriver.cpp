// SPDX-License-Identifier: MIT
#include "RecordingDriver.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace cport::test {

class TRecordingSignal : public TSignal {
 public:
  explicit TRecordingSignal(TRecordingDriver& d) : FDriver(d) {
    std::lock_guard<std::mutex> lock(FDriver.FMutex);
    ++FDriver.FLiveSignals;
  }
  ~TRecordingSignal() override {
    std::lock_guard<std::mutex> lock(FDriver.FMutex);
    --FDriver.FLiveSignals;
  }
  void Set() override {
    {
      std::lock_guard<std::mutex> lock(FDriver.FMutex);
      FSet = true;
    }
    FDriver.FChanged.notify_all();
  }
  void Reset() override {
    std::lock_guard<std::mutex> lock(FDriver.FMutex);
    FSet = false;
  }
  bool IsSet() const override {
    std::lock_guard<std::mutex> lock(FDriver.FMutex);
    return FSet;
  }
  bool SetLocked() const { return FSet; }

 private:
  TRecordingDriver& FDriver;
  bool FSet = false;
};

class TRecordingDevice : public TComDevice {
 public:
  explicit TRecordingDevice(TRecordingDriver& d) : FDriver(d) {}
  ~TRecordingDevice() override {
    TDriverCall c;
    c.Op = "Close";
    FDriver.Record(c);
    std::lock_guard<std::mutex> lock(FDriver.FMutex);
    --FDriver.FOpenDevices;
  }

  int SetCommState(const TDCB& dcb) override {
    TDriverCall c;
    c.Op = "SetCommState";
    c.Dcb = dcb;
    return FDriver.Record(c);
  }
  int SetCommTimeouts(const TCommTimeouts& t) override {
    TDriverCall c;
    c.Op = "SetCommTimeouts";
    c.Timeouts = t;
    return FDriver.Record(c);
  }
  int SetupComm(uint32_t in, uint32_t out) override {
    TDriverCall c;
    c.Op = "SetupComm";
    c.A = in;
    c.B = out;
    return FDriver.Record(c);
  }
  TIoResult StartWrite(TIoRequest& r, const void* buffer, uint32_t count) override {
    TDriverCall c;
    c.Op = "StartWrite";
    c.A = count;
    TIoResult res;
    r = TIoRequest{};
    if (int err = FDriver.Record(c)) {
      res.Status = TIoStatus::Failed;
      res.Error = err;
      return res;
    }
    {
      std::lock_guard<std::mutex> lock(FDriver.FMutex);
      FDriver.FTx.append(static_cast<const char*>(buffer), count);
    }
    r.Transferred = count;
    res.Transferred = count;
    return res;
  }
  TIoResult StartRead(TIoRequest& r, void* buffer, uint32_t count) override {
    TDriverCall c;
    c.Op = "StartRead";
    c.A = count;
    TIoResult res;
    r = TIoRequest{};
    if (int err = FDriver.Record(c)) {
      res.Status = TIoStatus::Failed;
      res.Error = err;
      return res;
    }
    std::lock_guard<std::mutex> lock(FDriver.FMutex);
    const size_t n = std::min<size_t>(count, FDriver.FRx.size());
    std::memcpy(buffer, FDriver.FRx.data(), n);
    FDriver.FRx.erase(0, n);
    r.Transferred = static_cast<uint32_t>(n);
    res.Transferred = static_cast<uint32_t>(n);
    return res;
  }
  TIoResult GetResult(TIoRequest& r, bool /*wait*/) override {
    TDriverCall c;
    c.Op = "GetResult";
    TIoResult res;
    if (int err = FDriver.Record(c)) {
      res.Status = TIoStatus::Failed;
      res.Error = err;
      return res;
    }
    r.Pending = false;
    res.Transferred = r.Transferred;
    return res;
  }
  int PurgeComm(uint32_t flags) override {
    TDriverCall c;
    c.Op = "PurgeComm";
    c.A = flags;
    if (int err = FDriver.Record(c)) return err;
    std::lock_guard<std::mutex> lock(FDriver.FMutex);
    if (flags & PURGE_RXCLEAR_FLAG) FDriver.FRx.clear();
    if (flags & PURGE_TXCLEAR_FLAG) FDriver.FOutQueue = 0;
    return 0;
  }
  int ClearCommError(uint32_t& errors, TComStat& stat) override {
    TDriverCall c;
    c.Op = "ClearCommError";
    if (int err = FDriver.Record(c)) return err;
    std::lock_guard<std::mutex> lock(FDriver.FMutex);
    errors = FDriver.FErrors;
    FDriver.FErrors = 0;
    stat = TComStat{};
    stat.cbInQue = static_cast<uint32_t>(FDriver.FRx.size());
    stat.cbOutQue = FDriver.FOutQueue;
    return 0;
  }
  int GetCommModemStatus(uint32_t& status) override {
    TDriverCall c;
    c.Op = "GetCommModemStatus";
    if (int err = FDriver.Record(c)) return err;
    std::lock_guard<std::mutex> lock(FDriver.FMutex);
    status = FDriver.FModem;
    return 0;
  }
  int EscapeCommFunction(uint32_t function) override {
    TDriverCall c;
    c.Op = "EscapeCommFunction";
    c.A = function;
    return FDriver.Record(c);
  }
  int TransmitCommChar(char ch) override {
    TDriverCall c;
    c.Op = "TransmitCommChar";
    c.A = static_cast<uint8_t>(ch);
    if (int err = FDriver.Record(c)) return err;
    std::lock_guard<std::mutex> lock(FDriver.FMutex);
    FDriver.FTx.push_back(ch);
    return 0;
  }
  int SetCommMask(uint32_t mask) override {
    TDriverCall c;
    c.Op = "SetCommMask";
    c.A = mask;
    if (int err = FDriver.Record(c)) return err;
    {
      std::lock_guard<std::mutex> lock(FDriver.FMutex);
      FMask = mask;
    }
    FDriver.FChanged.notify_all();
    return 0;
  }
  int HoldArrivals(bool hold) override {
    TDriverCall c;
    c.Op = "HoldArrivals";
    c.A = hold;
    return FDriver.Record(c);
  }
  int WaitCommEvent(uint32_t& events, TSignal* stop, int32_t timeoutMs) override {
    TDriverCall c;
    c.Op = "WaitCommEvent";
    c.A = static_cast<uint32_t>(timeoutMs);
    events = 0;
    if (int err = FDriver.Record(c)) return err;
    auto* s = static_cast<TRecordingSignal*>(stop);
    std::unique_lock<std::mutex> lock(FDriver.FMutex);
    auto ready = [&] { return (s && s->SetLocked()) || !FDriver.FEvents.empty(); };
    if (timeoutMs < 0)
      FDriver.FChanged.wait(lock, ready);
    else
      FDriver.FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (s && s->SetLocked()) return 0;
    if (!FDriver.FEvents.empty()) {
      events = FDriver.FEvents.front() & FMask;
      FDriver.FEvents.pop_front();
    }
    return 0;
  }

 private:
  TRecordingDriver& FDriver;
  uint32_t FMask = 0;  // guarded by the driver's mutex
};

TRecordingDriver::TRecordingDriver() = default;
TRecordingDriver::~TRecordingDriver() = default;

int TRecordingDriver::Record(TDriverCall call) {
  std::lock_guard<std::mutex> lock(FMutex);
  const std::string op = call.Op;
  FCalls.push_back(std::move(call));
  auto it = FFailNext.find(op);
  if (it != FFailNext.end()) {
    const int err = it->second;
    FFailNext.erase(it);
    return err;
  }
  auto always = FFailAlways.find(op);
  return always != FFailAlways.end() ? always->second : 0;
}

std::vector<TDriverCall> TRecordingDriver::Calls() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FCalls;
}

std::vector<std::string> TRecordingDriver::Ops() const {
  std::lock_guard<std::mutex> lock(FMutex);
  std::vector<std::string> ops;
  for (const auto& c : FCalls) ops.push_back(c.Op);
  return ops;
}

int TRecordingDriver::Count(const std::string& op) const {
  std::lock_guard<std::mutex> lock(FMutex);
  return static_cast<int>(std::count_if(FCalls.begin(), FCalls.end(), [&](const TDriverCall& c) { return c.Op == op; }));
}

TDriverCall TRecordingDriver::Last(const std::string& op) const {
  std::lock_guard<std::mutex> lock(FMutex);
  for (auto it = FCalls.rbegin(); it != FCalls.rend(); ++it)
    if (it->Op == op) return *it;
  return TDriverCall{};
}

void TRecordingDriver::ClearCalls() {
  std::lock_guard<std::mutex> lock(FMutex);
  FCalls.clear();
}

void TRecordingDriver::FailNext(const std::string& op, int error) {
  std::lock_guard<std::mutex> lock(FMutex);
  FFailNext[op] = error;
}

void TRecordingDriver::FailAlways(const std::string& op, int error) {
  std::lock_guard<std::mutex> lock(FMutex);
  FFailAlways[op] = error;
}

void TRecordingDriver::Heal(const std::string& op) {
  std::lock_guard<std::mutex> lock(FMutex);
  FFailAlways.erase(op);
  FFailNext.erase(op);
}

void TRecordingDriver::Receive(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(FMutex);
  FRx += bytes;
}

std::string TRecordingDriver::Transmitted() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FTx;
}

void TRecordingDriver::SetModemStatus(uint32_t msBits) {
  std::lock_guard<std::mutex> lock(FMutex);
  FModem = msBits;
}

void TRecordingDriver::SetErrorWord(uint32_t ceBits) {
  std::lock_guard<std::mutex> lock(FMutex);
  FErrors = ceBits;
}

void TRecordingDriver::SetOutQueue(uint32_t count) {
  std::lock_guard<std::mutex> lock(FMutex);
  FOutQueue = count;
}

void TRecordingDriver::RaiseEvents(uint32_t evBits) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FEvents.push_back(evBits);
  }
  FChanged.notify_all();
}

void TRecordingDriver::SetPorts(std::vector<std::string> ports, int error) {
  std::vector<TComPortInfo> infos;
  for (auto& name : ports) {
    TComPortInfo info;
    info.Name = std::move(name);
    infos.push_back(std::move(info));
  }
  SetPortInfo(std::move(infos), error);
}

void TRecordingDriver::SetPortInfo(std::vector<TComPortInfo> ports, int error) {
  std::lock_guard<std::mutex> lock(FMutex);
  FPorts = std::move(ports);
  FEnumError = error;
}

bool TRecordingDriver::DeviceOpen() const { return OpenDevices() > 0; }

int TRecordingDriver::OpenDevices() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FOpenDevices;
}

int TRecordingDriver::LiveSignals() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FLiveSignals;
}

int TRecordingDriver::Open(const std::string& port, std::unique_ptr<TComDevice>& device) {
  TDriverCall c;
  c.Op = "Open";
  c.Port = port;
  if (int err = Record(c)) return err;
  device = std::make_unique<TRecordingDevice>(*this);
  std::lock_guard<std::mutex> lock(FMutex);
  ++FOpenDevices;
  return 0;
}

int TRecordingDriver::EnumPorts(std::vector<std::string>& names) {
  TDriverCall c;
  c.Op = "EnumPorts";
  Record(c);
  std::lock_guard<std::mutex> lock(FMutex);
  if (FEnumError) return FEnumError;
  names.clear();
  for (const auto& p : FPorts) names.push_back(p.Name);
  return 0;
}

int TRecordingDriver::EnumPortInfo(std::vector<TComPortInfo>& ports) {
  TDriverCall c;
  c.Op = "EnumPortInfo";
  Record(c);
  std::lock_guard<std::mutex> lock(FMutex);
  if (FEnumError) return FEnumError;
  ports = FPorts;
  return 0;
}

std::unique_ptr<TSignal> TRecordingDriver::CreateSignal() { return std::make_unique<TRecordingSignal>(*this); }

}  // namespace cport::test

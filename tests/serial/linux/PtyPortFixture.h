// SPDX-License-Identifier: MIT
// What the tests of the port on a pseudo-terminal share: the port with its
// far end, the device alone, and a rescue for transfers that would hang.
#pragma once

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "CPort.h"
#include "Pty.h"

namespace cport::test {

using PtyClock = std::chrono::steady_clock;

inline int64_t MsSince(PtyClock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(PtyClock::now() - t0).count();
}

// Acts once after timeoutMs unless the scope ended first: a transfer that
// would wait for ever then ends with a result its checks reject.
class TRescue {
 public:
  TRescue(int timeoutMs, std::function<void()> act)
      : FThread([this, timeoutMs, act] {
          std::unique_lock<std::mutex> lock(FMutex);
          if (!FCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FDismissed; })) act();
        }) {}
  ~TRescue() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FDismissed = true;
    }
    FCv.notify_all();
    FThread.join();
  }

 private:
  std::mutex FMutex;
  std::condition_variable FCv;
  bool FDismissed = false;
  std::thread FThread;
};

// The total limit is multiplier x bytes + constant; the transfers below move
// 10 bytes.
struct TLimitCase {
  int32_t Multiplier, Constant;
  int64_t Ms;
};
inline constexpr TLimitCase kLimitCases[] = {{0, 200, 200}, {20, 0, 200}, {20, 100, 300}};

// termios as the kernel holds it for the terminal (through the test's own
// descriptor of it, not the port's).
inline struct termios2 LineOf(const TPty& pty) {
  struct termios2 t {};
  ::ioctl(pty.Slave(), TCGETS2, &t);
  return t;
}

class PtyPort : public ::testing::Test {
 protected:
  TPty Pty;
  TComPort P;
  void SetUp() override {
    P.SetEvents({});  // the event thread has tests of its own
    P.SetPort(Pty.Path());
  }
  // Reads wait until their whole count has come, however long.
  void NoLimits() {
    TComTimeouts t;
    t.SetReadInterval(0);
    P.SetTimeouts(t);
  }
};

// The device alone, without a port around it.
struct TDevice {
  TPty Pty;
  std::unique_ptr<TComDevice> D;
  TDevice() {
    if (DefaultComDriver().Open(Pty.Path(), D) != 0) throw std::runtime_error("open failed");
    D->SetCommState(TComPort().BuildDCB());  // a port's defaults: raw 9600 8N1
    D->SetCommTimeouts(TCommTimeouts{});     // no limits
  }
};

}  // namespace cport::test

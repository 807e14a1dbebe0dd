// SPDX-License-Identifier: MIT
// Private to the port: its open device as every thread reaches it.
//
// A thread uses the device only between Enter and Leave, never across a
// handler or a link callback.  Close detaches the device: no thread enters
// any more, those inside are woken (their transfers end as aborted, an event
// wait ends) and waited for, and only then is the device destroyed.  A
// thread that finds the port closed settles first: what the destruction did
// to requests (it ends the pending ones as aborted) is then visible to it.
// Transfer records keep the slot they were last used with, so that releasing
// one can end its transfer on whatever device it is pending.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "ComDriver.h"

namespace cport {

class TDeviceSlot {
 public:
  // -- the thread that opens and closes ---------------------------------------
  void Attach(TComDevice* device) {
    std::lock_guard<std::mutex> lock(FMutex);
    FDevice.store(device);
  }
  // Returns once no thread is inside; the device may then be destroyed, after
  // which Released must be called.
  void Detach() {
    std::unique_lock<std::mutex> lock(FMutex);
    TComDevice* device = FDevice.exchange(nullptr);
    if (!device) return;
    FDetaching.store(true);
    FClosing = true;
    while (FUsers.load() != 0) {
      // A thread may enter just before the exchange and start a transfer or
      // a wait just after a wake-up: wake again until all have left.
      lock.unlock();
      device->PurgeComm(PURGE_TXABORT_FLAG | PURGE_RXABORT_FLAG);
      device->SetCommMask(0);
      lock.lock();
      FLeft.wait_for(lock, std::chrono::milliseconds(10), [this] { return FUsers.load() == 0; });
    }
    FDetaching.store(false);
  }
  void Released() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FClosing = false;
    }
    FLeft.notify_all();
  }

  // -- any thread ---------------------------------------------------------------
  // The device, or nullptr when the port is closed (then no Leave).
  TComDevice* Enter() {
    FUsers.fetch_add(1);
    if (TComDevice* device = FDevice.load()) return device;
    Leave();
    Settle();
    return nullptr;
  }
  void Leave() {
    if (FUsers.fetch_sub(1) == 1 && FDetaching.load()) {
      std::lock_guard<std::mutex> lock(FMutex);
      FLeft.notify_all();
    }
  }
  bool Closed() const { return FDevice.load() == nullptr; }

 private:
  void Settle() {
    std::unique_lock<std::mutex> lock(FMutex);
    FLeft.wait(lock, [this] { return !FClosing; });
  }

  std::mutex FMutex;
  std::condition_variable FLeft;
  std::atomic<TComDevice*> FDevice{nullptr};
  std::atomic<int> FUsers{0};
  std::atomic<bool> FDetaching{false};
  bool FClosing = false;  // between Detach and Released, under FMutex
};

// One use of the device by the calling thread.
class TDeviceUse {
 public:
  explicit TDeviceUse(TDeviceSlot& slot) : FSlot(slot), FDevice(slot.Enter()) {}
  ~TDeviceUse() {
    if (FDevice) FSlot.Leave();
  }
  TDeviceUse(const TDeviceUse&) = delete;
  TDeviceUse& operator=(const TDeviceUse&) = delete;
  explicit operator bool() const { return FDevice != nullptr; }
  TComDevice* operator->() const { return FDevice; }

 private:
  TDeviceSlot& FSlot;
  TComDevice* FDevice;
};

}  // namespace cport

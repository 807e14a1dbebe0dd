// SPDX-License-Identifier: MIT
#include "Wait.h"

#include <chrono>
#include <thread>

#include "Classes.h"

namespace cport::test {

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    CheckSynchronize();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace cport::test

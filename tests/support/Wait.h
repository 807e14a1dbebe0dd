// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

namespace cport::test {

// Waits until pred holds, running the main thread's queued calls meanwhile;
// false when timeoutMs passed first.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 10000);

}  // namespace cport::test

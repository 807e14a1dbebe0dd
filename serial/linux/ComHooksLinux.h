// SPDX-License-Identifier: MIT
// What tests may look at inside the Linux driver without pulling in termios
// (they may need the kernel's own termios2 headers).
#pragma once

#include <cstdint>

namespace cport::lnx {

// How often the driver's threads have woken from a wait: tests see a thread
// that spins.
uint64_t WakeupsForTesting();

}  // namespace cport::lnx

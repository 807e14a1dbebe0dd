// SPDX-License-Identifier: MIT
// What tests may look at inside the Linux driver without pulling in termios
// (they may need the kernel's own termios2 headers).
#pragma once

#include <cstdint>

namespace cport::lnx {

// How often the driver's threads have woken from a wait: tests see a thread
// that spins.
uint64_t WakeupsForTesting();

// The modem-line helper sleeps in TIOCMIWAIT.  Tests replace that wait with
// one that blocks in the kernel the same way (a pseudo-terminal has no modem
// lines); the helper then runs on any terminal.  nullptr restores it.  The
// helper is cancelled inside the wait: the stand-in, like the real one,
// must make its system call from a frame without cleanups.
using TModemLineWait = int (*)(int fd);
void SetModemLineWaitForTesting(TModemLineWait wait);

}  // namespace cport::lnx

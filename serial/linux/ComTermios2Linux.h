// SPDX-License-Identifier: MIT
// Private to the Linux driver: setting a whole line through termios2.  No
// C library termios here, so the kernel's own headers can be used with it.
#pragma once

#include <cstdint>

namespace cport::lnx {

// The fields of a line as the kernel takes them.
struct TKernelLine {
  uint32_t Iflag = 0, Oflag = 0, Cflag = 0, Lflag = 0;
  uint8_t Line = 0;
  uint8_t Cc[19] = {};
};

// Sets the whole line in one call.  A non-zero customBaud replaces the B
// constant; with actual given, the rate the device took is read back.
// Returns 0 or errno.
int SetLine(int fd, const TKernelLine& line, uint32_t customBaud, uint32_t* actual);

}  // namespace cport::lnx

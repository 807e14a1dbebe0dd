// SPDX-License-Identifier: MIT
// The line is set through termios2: one call carries the whole group, any
// rate included (BOTHER), where the C library's tcsetattr makes two and
// knows only the B constants.  Kept in a file of its own: the kernel's
// termios headers clash with the C library's.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "ComTermios2Linux.h"

namespace cport::lnx {

int SetLine(int fd, const TKernelLine& line, uint32_t customBaud, uint32_t* actual) {
  struct termios2 t2 {};
  t2.c_iflag = line.Iflag;
  t2.c_oflag = line.Oflag;
  t2.c_cflag = line.Cflag;
  t2.c_lflag = line.Lflag;
  t2.c_line = line.Line;
  for (std::size_t i = 0; i < NCCS && i < sizeof line.Cc; ++i) t2.c_cc[i] = line.Cc[i];
  if (customBaud) {
    t2.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t2.c_cflag |= BOTHER;  // input rate follows the output rate
    t2.c_ospeed = customBaud;
    t2.c_ispeed = customBaud;
  }
  if (::ioctl(fd, TCSETS2, &t2) != 0) return errno;
  if (actual) {
    // A driver may have taken another rate (or fallen back to a default);
    // the caller compares what it reads back.
    if (::ioctl(fd, TCGETS2, &t2) != 0) return errno;
    *actual = t2.c_ospeed;
  }
  return 0;
}

}  // namespace cport::lnx

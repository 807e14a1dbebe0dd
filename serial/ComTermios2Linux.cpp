// Rates without a B constant go through termios2 (BOTHER).  Kept in a file of
// its own: the kernel's termios2 headers clash with the C library's termios.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>

namespace cport::lnx {

int SetCustomBaud(int fd, uint32_t baud, uint32_t& actual) {
  struct termios2 t2;
  if (::ioctl(fd, TCGETS2, &t2) != 0) return errno;
  t2.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t2.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t2.c_ispeed = baud;
  t2.c_ospeed = baud;
  if (::ioctl(fd, TCSETS2, &t2) != 0) return errno;
  // The driver may have chosen another rate (or fallen back to a default);
  // the caller compares what it reads back.
  if (::ioctl(fd, TCGETS2, &t2) != 0) return errno;
  actual = t2.c_ospeed;
  return 0;
}

int GetBaud(int fd, uint32_t& ispeed, uint32_t& ospeed) {
  struct termios2 t2;
  if (::ioctl(fd, TCGETS2, &t2) != 0) return errno;
  ispeed = t2.c_ispeed;
  ospeed = t2.c_ospeed;
  return 0;
}

}  // namespace cport::lnx

// The serial devices present, from /sys/class/tty: entries backed by a
// device, without 8250-type ports that have no hardware behind them.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "ComDriverLinux.h"

namespace cport::lnx {

namespace {

std::string gSysClassTty = "/sys/class/tty";

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Serial-core ports publish their UART type; 0 is PORT_UNKNOWN, a slot the
// kernel reserves whether or not a UART sits there.  Without the attribute
// the device itself is asked.
bool HasHardware(const std::string& name) {
  std::ifstream type(gSysClassTty + "/" + name + "/type");
  int value = -1;
  if (type >> value) return value != PORT_UNKNOWN;
  const int fd = ::open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;  // cannot tell (no permission): list it
  serial_struct ss{};
  const bool unknown = ::ioctl(fd, TIOCGSERIAL, &ss) == 0 && ss.type == PORT_UNKNOWN;
  ::close(fd);
  return !unknown;
}

}  // namespace

void SetSysClassTtyForTesting(const char* path) { gSysClassTty = path; }

int EnumSerialDevices(std::vector<std::string>& names) {
  names.clear();
  DIR* dir = ::opendir(gSysClassTty.c_str());
  if (!dir) return errno;
  int err = 0;
  for (;;) {
    errno = 0;  // readdir reports its failure only through errno
    const dirent* e = ::readdir(dir);
    if (!e) {
      err = errno;
      break;
    }
    const std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    // Virtual terminals, consoles and pseudo-terminals have no device link.
    if (!Exists(gSysClassTty + "/" + name + "/device")) continue;
    if (!HasHardware(name)) continue;
    names.push_back("/dev/" + name);
  }
  ::closedir(dir);
  if (err) names.clear();
  return err;
}

}  // namespace cport::lnx

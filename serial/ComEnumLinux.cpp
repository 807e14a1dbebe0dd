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

namespace cport::lnx {

namespace {

const char* gSysClassTty = "/sys/class/tty";

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Serial-core ports publish their UART type; 0 is PORT_UNKNOWN, a slot the
// kernel reserves whether or not a UART sits there.  Without the attribute
// the device itself is asked.
bool HasHardware(const std::string& name) {
  std::ifstream type(std::string(gSysClassTty) + "/" + name + "/type");
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

// For tests: list another folder laid out as /sys/class/tty.
void SetSysClassTtyForTesting(const char* path) { gSysClassTty = path; }

int EnumSerialDevices(std::vector<std::string>& names) {
  names.clear();
  DIR* dir = ::opendir(gSysClassTty);
  if (!dir) return errno;
  errno = 0;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    // Virtual terminals, consoles and pseudo-terminals have no device link.
    if (!Exists(std::string(gSysClassTty) + "/" + name + "/device")) continue;
    if (!HasHardware(name)) continue;
    names.push_back("/dev/" + name);
    errno = 0;
  }
  const int err = errno;
  ::closedir(dir);
  if (err) names.clear();
  return err;
}

}  // namespace cport::lnx

// SPDX-License-Identifier: MIT
// The serial devices present, from sysfs alone: entries of /sys/class/tty
// backed by a device, without serial-core slots that have no UART behind
// them.  No device is opened: opening a USB adapter pulses DTR and RTS, and
// that resets many boards.
#include <dirent.h>
#include <linux/serial.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "ComDriverLinux.h"

namespace fs = std::filesystem;

namespace cport::lnx {

namespace {

std::string gSysClassTty = "/sys/class/tty";
std::string gDev = "/dev";

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// First line of a sysfs attribute without its trailing blanks; false when
// there is none.
bool ReadAttribute(const fs::path& path, std::string& value) {
  std::ifstream in(path);
  if (!in || !std::getline(in, value)) return false;
  while (!value.empty() && (value.back() == ' ' || value.back() == '\n' || value.back() == '\r')) value.pop_back();
  return true;
}

// Serial-core ports always publish their UART type; 0 is PORT_UNKNOWN, a
// slot the kernel reserves whether or not a UART sits there.  Other tty
// drivers (USB-serial, ACM) make an entry only for a port that exists.
bool HasHardware(const std::string& name) {
  std::string type;
  if (!ReadAttribute(gSysClassTty + "/" + name + "/type", type)) return true;
  try {
    return std::stoi(type) != PORT_UNKNOWN;
  } catch (const std::exception&) {
    return true;  // a type we cannot read is still a UART
  }
}

// tty names (ttyS0, ttyUSB0) of the serial devices present.
int ScanTtys(std::vector<std::string>& names) {
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
    names.push_back(name);
  }
  ::closedir(dir);
  if (err) names.clear();
  return err;
}

// tty name -> the stable link udev made for it (the first in name order
// when there are several).
std::map<std::string, std::string> StableLinks() {
  std::map<std::string, std::string> links;
  std::error_code ec;
  const fs::path byId = fs::path(gDev) / "serial" / "by-id";
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(byId, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
  std::sort(entries.begin(), entries.end());
  for (const fs::path& link : entries) {
    const fs::path target = fs::read_symlink(link, ec);
    if (!ec && target.has_filename()) links.emplace(target.filename().string(), link.string());
  }
  return links;
}

void Describe(const std::string& name, TComPortInfo& info) {
  std::error_code ec;
  fs::path device = fs::canonical(fs::path(gSysClassTty) / name / "device", ec);
  if (ec) return;
  // Newer kernels hang serial-core ports on a bus of their own (a port under
  // a controller); the hardware is the first device above it.
  for (int up = 0; up < 2 && fs::read_symlink(device / "subsystem", ec).filename() == "serial-base"; ++up)
    device = device.parent_path();
  // The USB device sits one level (ACM: the interface) or two (USB-serial:
  // the port, then the interface) above the tty's device.
  fs::path usb, p = device;
  for (int up = 0; up < 3 && usb.empty(); ++up, p = p.parent_path())
    if (Exists(p / "idVendor") && Exists(p / "idProduct")) usb = p;
  std::string product, manufacturer;
  if (!usb.empty()) {
    ReadAttribute(usb / "idVendor", info.VendorId);
    ReadAttribute(usb / "idProduct", info.ProductId);
    ReadAttribute(usb / "serial", info.SerialNumber);
    ReadAttribute(usb / "product", product);
    ReadAttribute(usb / "manufacturer", manufacturer);
  }
  if (!product.empty() && !manufacturer.empty())
    info.Description = product + " (" + manufacturer + ")";
  else if (!product.empty() || !manufacturer.empty())
    info.Description = product + manufacturer;
  else {
    const fs::path driver = fs::read_symlink(device / "driver", ec);
    if (!ec) info.Description = driver.filename().string();
  }
}

}  // namespace

void SetSysClassTtyForTesting(const char* path) { gSysClassTty = path; }
void SetDevForTesting(const char* path) { gDev = path; }

int EnumSerialDevices(std::vector<std::string>& names) {
  const int err = ScanTtys(names);
  for (std::string& n : names) n = gDev + "/" + n;
  return err;
}

int EnumSerialPortInfo(std::vector<TComPortInfo>& ports) {
  ports.clear();
  std::vector<std::string> names;
  if (int err = ScanTtys(names)) return err;
  const std::map<std::string, std::string> links = StableLinks();
  for (const std::string& name : names) {
    TComPortInfo info;
    info.Name = gDev + "/" + name;
    Describe(name, info);
    if (auto it = links.find(name); it != links.end()) info.StablePath = it->second;
    ports.push_back(std::move(info));
  }
  return 0;
}

}  // namespace cport::lnx

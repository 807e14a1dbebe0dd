// SPDX-License-Identifier: MIT
// The list of serial devices, from a fake sysfs tree and a fake /dev.
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CPort.h"
#include "ComDriverLinux.h"

namespace fs = std::filesystem;
using namespace cport;

namespace {

class FakeSysfs : public ::testing::Test {
 protected:
  fs::path Root = fs::temp_directory_path() / ("cport-sysfs-" + std::to_string(::getpid()));
  fs::path Tty = Root / "sys/class/tty", Devices = Root / "sys/devices", Dev = Root / "dev";
  void SetUp() override {
    fs::create_directories(Tty);
    fs::create_directories(Devices);
    fs::create_directories(Dev / "serial/by-id");
    lnx::SetSysClassTtyForTesting(Tty.c_str());
    lnx::SetDevForTesting(Dev.c_str());
  }
  void TearDown() override {
    lnx::SetSysClassTtyForTesting("/sys/class/tty");
    lnx::SetDevForTesting("/dev");
    fs::remove_all(Root);
  }
  // A tty entry with a stand-in for its device node; device is its folder
  // under sys/devices (none for a virtual console), type the UART type the
  // serial core publishes (none: -1).
  void Entry(const std::string& name, const std::string& device = "", int type = -1,
             const std::string& driver = "") {
    fs::create_directories(Tty / name);
    std::ofstream(Dev / name) << "node";
    if (!device.empty()) {
      fs::create_directories(Devices / device);
      fs::create_directory_symlink(Devices / device, Tty / name / "device");
    }
    if (!driver.empty()) Link(device, "driver", driver);
    if (type >= 0) std::ofstream(Tty / name / "type") << type << "\n";
  }
  // A device's driver or subsystem link.
  void Link(const std::string& device, const char* kind, const std::string& target) {
    fs::create_directories(Root / "sys/bus" / kind / target);
    fs::create_directory_symlink(Root / "sys/bus" / kind / target, Devices / device / kind);
  }
  void Usb(const std::string& device, const char* vendor, const char* product, const char* serial = nullptr,
           const char* manufacturerName = nullptr, const char* productName = nullptr) {
    const fs::path d = Devices / device;
    fs::create_directories(d);
    std::ofstream(d / "idVendor") << vendor << "\n";
    std::ofstream(d / "idProduct") << product << "\n";
    if (serial) std::ofstream(d / "serial") << serial << "\n";
    if (manufacturerName) std::ofstream(d / "manufacturer") << manufacturerName << "\n";
    if (productName) std::ofstream(d / "product") << productName << "\n";
  }
  void Machine() {
    Usb("pci0/usb1", "1d6b", "0002", nullptr, "Linux", "xHCI Host Controller");  // the hub above both
    Usb("pci0/usb1/1-1", "0403", "6001", "A50285BI", "FTDI", "FT232R USB UART");
    Entry("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0", -1, "ftdi_sio");
    fs::create_symlink("../../ttyUSB0", Dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    Usb("pci0/usb1/1-2", "2341", "0043");  // no strings
    Entry("ttyACM0", "pci0/usb1/1-2/1-2:1.0", -1, "cdc_acm");
    Entry("ttyS10", "platform/serial8250", 4, "serial8250");
    Entry("ttyS1", "platform/serial8250", 0);  // a reserved slot without a UART
    // On newer kernels a serial-core port hangs below its hardware device.
    Entry("ttyS0", "pnp0/00:01/00:01:0/00:01:0.0", 4, "port");
    Link("pnp0/00:01/00:01:0/00:01:0.0", "subsystem", "serial-base");
    Link("pnp0/00:01/00:01:0", "subsystem", "serial-base");
    Link("pnp0/00:01", "driver", "serial");
    Entry("ttyAMA0", "platform/fe201000.serial", 32, "uart-pl011");
    Entry("tty1");  // a virtual console
    Entry("ptmx");
  }
};

TEST_F(FakeSysfs, ListsPortsWithHardwareSortedAndOpensNoDevice) {
  Machine();
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, Dev.c_str(), IN_OPEN), 0);
  std::vector<std::string> list{"stale"};
  EnumComPorts(list);
  std::vector<TComPortInfo> info;
  EnumComPortInfo(info);
  const std::string d = Dev.string() + "/";
  const std::vector<std::string> expected{d + "ttyACM0", d + "ttyAMA0", d + "ttyS0", d + "ttyS10", d + "ttyUSB0"};
  EXPECT_EQ(list, expected);
  ASSERT_EQ(info.size(), expected.size());
  for (size_t i = 0; i < info.size(); ++i) EXPECT_EQ(info[i].Name, expected[i]);
  // Opening a USB adapter pulses DTR and RTS, and that resets many boards.
  alignas(inotify_event) char buf[4096];
  const ssize_t n = ::read(watch, buf, sizeof buf);
  for (ssize_t off = 0; off < n;) {
    const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
    if (!(e->mask & IN_ISDIR)) ADD_FAILURE() << "listing opened " << (e->len ? e->name : "?");
    off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
  }
  ::close(watch);
}

TEST_F(FakeSysfs, EachPortIsDescribedFromSysfs) {
  Machine();
  std::vector<TComPortInfo> info;
  EnumComPortInfo(info);
  ASSERT_EQ(info.size(), 5u);
  struct {
    const char *Description, *Vendor, *Product, *Serial, *Stable;
  } expected[] = {
      {"cdc_acm", "2341", "0043", "", ""},  // ttyACM0: a USB device without strings
      {"uart-pl011", "", "", "", ""},       // ttyAMA0
      {"serial", "", "", "", ""},           // ttyS0
      {"serial8250", "", "", "", ""},       // ttyS10
      {"FT232R USB UART (FTDI)", "0403", "6001", "A50285BI",
       "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},  // ttyUSB0
  };
  for (size_t i = 0; i < info.size(); ++i) {
    const auto& e = expected[i];
    EXPECT_EQ(info[i].Description, e.Description) << info[i].Name;
    EXPECT_EQ(info[i].VendorId, e.Vendor) << info[i].Name;
    EXPECT_EQ(info[i].ProductId, e.Product) << info[i].Name;
    EXPECT_EQ(info[i].SerialNumber, e.Serial) << info[i].Name;
    EXPECT_EQ(info[i].StablePath, *e.Stable ? (Dev / e.Stable).string() : "") << info[i].Name;
  }
}

// Several links to one device: the first in name order is its stable name,
// whatever order the folder lists them in.
TEST_F(FakeSysfs, OfSeveralLinksToADeviceTheFirstByNameIsItsStablePath) {
  Machine();
  for (const char* name : {"usb-Cable-2", "usb-Cable-3", "usb-Cable-1", "usb-Cable-5", "usb-Cable-4"})
    fs::create_symlink("../../ttyUSB0", Dev / "serial/by-id" / name);
  std::vector<TComPortInfo> info;
  EnumComPortInfo(info);
  ASSERT_EQ(info.size(), 5u);
  EXPECT_EQ(info[4].StablePath, (Dev / "serial/by-id/usb-Cable-1").string());
}

TEST_F(FakeSysfs, AnUnreadableSourceIsCode23WithItsErrno) {
  lnx::SetSysClassTtyForTesting((Root / "missing").string().c_str());
  std::vector<std::string> list{"kept"};
  std::vector<TComPortInfo> info(1);
  for (auto call : {+[](std::vector<std::string>& l, std::vector<TComPortInfo>&) { EnumComPorts(l); },
                    +[](std::vector<std::string>&, std::vector<TComPortInfo>& i) { EnumComPortInfo(i); }}) {
    try {
      call(list, info);
      ADD_FAILURE() << "listed a missing folder";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ComErrorCode(), 23);
      EXPECT_EQ(e.SystemErrorCode(), ENOENT);
    }
  }
  EXPECT_EQ(list, std::vector<std::string>{"kept"});
  EXPECT_EQ(info.size(), 1u);
}

TEST(RealSysfs, EveryListedPortIsADevicePathAndBothListsAgree) {
  std::vector<std::string> list;
  EnumComPorts(list);
  std::vector<TComPortInfo> info;
  EnumComPortInfo(info);
  ASSERT_EQ(info.size(), list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].rfind("/dev/", 0), 0u) << list[i];
    EXPECT_EQ(info[i].Name, list[i]);
  }
}

}  // namespace

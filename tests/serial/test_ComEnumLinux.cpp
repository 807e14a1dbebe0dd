// The list of serial devices, from a folder laid out as /sys/class/tty.
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
  void SetUp() override { fs::create_directories(Root); }
  void TearDown() override {
    lnx::SetSysClassTtyForTesting("/sys/class/tty");
    fs::remove_all(Root);
  }
  // An entry; with a device link when backed by hardware, with a UART type
  // when the serial core publishes one.
  void Entry(const std::string& name, bool device, int type = -1) {
    fs::create_directories(Root / name);
    if (device) fs::create_directory_symlink(Root, Root / name / "device");
    if (type >= 0) std::ofstream(Root / name / "type") << type << "\n";
  }
};

TEST_F(FakeSysfs, ListsBackedDevicesWithHardwareSorted) {
  Entry("ttyUSB0", true);
  Entry("ttyS10", true, 4);
  Entry("ttyS1", true, 0);  // a reserved slot without a UART
  Entry("ttyS0", true, 4);
  Entry("tty1", false);     // a virtual console
  Entry("ptmx", false);
  lnx::SetSysClassTtyForTesting(Root.c_str());
  std::vector<std::string> list{"stale"};
  EnumComPorts(list);
  EXPECT_EQ(list, (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyS10", "/dev/ttyUSB0"}));
}

TEST_F(FakeSysfs, AnUnreadableSourceIsCode23WithItsErrno) {
  lnx::SetSysClassTtyForTesting((Root / "missing").string().c_str());
  std::vector<std::string> list{"kept"};
  try {
    EnumComPorts(list);
    FAIL() << "listed a missing folder";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 23);
    EXPECT_EQ(e.SystemErrorCode(), ENOENT);
  }
  EXPECT_EQ(list, std::vector<std::string>{"kept"});
}

TEST(RealSysfs, EveryListedPortIsADevicePath) {
  std::vector<std::string> list;
  EnumComPorts(list);
  for (const auto& name : list) EXPECT_EQ(name.rfind("/dev/", 0), 0u) << name;
}

}  // namespace

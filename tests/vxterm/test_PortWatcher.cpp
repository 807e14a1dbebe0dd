// SPDX-License-Identifier: MIT
// The reconnect watcher: it hears a port come back through the file
// notifications alone (its fallback timer is set to an hour here), also
// where the port's folder itself had gone, and prefers the first path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "PortWatcher.h"
#include "QtWait.h"

using namespace vxterm;
using vxterm::test::Q;
using vxterm::test::TempDir;
using vxterm::test::WaitFor;
namespace fs = std::filesystem;

namespace {

TEST(DevicePath, NamesBecomeThePathsTheDriverOpens) {
  EXPECT_EQ(DevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(DevicePath("COM12"), "/dev/ttyS11");
  EXPECT_EQ(DevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(DevicePath("/dev/serial/by-id/usb-X"), "/dev/serial/by-id/usb-X");
  EXPECT_EQ(DevicePath("COMX"), "/dev/COMX");
}

class Watcher : public testing::Test {
 protected:
  void SetUp() override {
    dir = TempDir();
    w.SetFallbackInterval(3600 * 1000);
    QObject::connect(&w, &TPortWatcher::Present, [this](const QString& p) { present << p; });
  }
  fs::path dir;
  TPortWatcher w;
  QStringList present;  // what Present said, in order
};

TEST_F(Watcher, HearsAPortComeBackUnderItsName) {
  const fs::path port = dir / "ttyUSB0";
  w.Watch({Q(port)});
  // Nothing there yet: the first look finds nothing.
  ASSERT_FALSE(WaitFor([&] { return !present.isEmpty(); }, 200));
  std::ofstream(port).put('x');
  ASSERT_TRUE(WaitFor([&] { return !present.isEmpty(); }));
  EXPECT_EQ(present.first(), Q(port));
}

TEST_F(Watcher, FollowsAStablePathWhoseFoldersComeBackOneByOne) {
  const fs::path byId = dir / "serial" / "by-id";
  const fs::path stable = byId / "usb-FTDI_X-if00-port0";
  w.Watch({Q(stable), Q(dir / "ttyUSB0")});
  EXPECT_EQ(w.WatchedFolders(), QStringList{Q(dir)});
  fs::create_directory(dir / "serial");
  ASSERT_TRUE(WaitFor([&] { return w.WatchedFolders().contains(Q(dir / "serial")); }));
  fs::create_directory(byId);
  ASSERT_TRUE(WaitFor([&] { return w.WatchedFolders().contains(Q(byId)); }));
  // udev makes the node first, then the link: the link is the one preferred.
  std::ofstream(dir / "ttyUSB1").put('x');
  fs::create_symlink(dir / "ttyUSB1", stable);
  ASSERT_TRUE(WaitFor([&] { return !present.isEmpty(); }));
  EXPECT_EQ(present.last(), Q(stable));
}

TEST_F(Watcher, ADanglingLinkIsNoPortAndStopEndsTheWatch) {
  const fs::path link = dir / "ttyVX";
  fs::create_symlink(dir / "pts-gone", link);
  w.Watch({Q(link)});
  EXPECT_FALSE(WaitFor([&] { return !present.isEmpty(); }, 200));
  w.Stop();
  EXPECT_TRUE(w.WatchedFolders().isEmpty());
  std::ofstream(dir / "pts-gone").put('x');
  EXPECT_FALSE(WaitFor([&] { return !present.isEmpty(); }, 200));
}

}  // namespace

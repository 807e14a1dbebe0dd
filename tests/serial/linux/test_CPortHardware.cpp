// SPDX-License-Identifier: MIT
// On a real serial port, only when VX_TEST_PORT names one (e.g.
// VX_TEST_PORT=/dev/ttyUSB0).  With VX_TEST_LOOPBACK=1 the port's TxD is
// wired to its RxD (and RTS to CTS), so what it sends comes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "CPort.h"
#include "ComDriverLinux.h"
#include "Pty.h"

using namespace cport;
using cport::test::WaitUntil;

namespace {

const char* RealPort() { return std::getenv("VX_TEST_PORT"); }
bool Loopback() {
  const char* v = std::getenv("VX_TEST_LOOPBACK");
  return v && std::string(v) == "1";
}

// The device node a port name stands for, links resolved, so that a by-id
// name and the listed /dev name compare equal.
std::string DeviceOf(const std::string& port) {
  std::string path;
  if (!lnx::PortPath(port, path)) return port;
  char real[PATH_MAX];
  return ::realpath(path.c_str(), real) ? real : path;
}

class HardwarePort : public ::testing::Test {
 protected:
  TComPort P;
  void SetUp() override {
    if (!RealPort()) GTEST_SKIP() << "set VX_TEST_PORT to a serial device to run these";
    P.SetPort(RealPort());
  }
};

TEST_F(HardwarePort, OpensExclusivelyAndIsListed) {
  P.Open();
  TComPort second;
  second.SetPort(RealPort());
  try {
    second.Open();
    ADD_FAILURE() << "a second open succeeded";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 1);
    EXPECT_TRUE(e.SystemErrorCode() == EWOULDBLOCK || e.SystemErrorCode() == EBUSY) << e.SystemErrorCode();
  }
  std::vector<std::string> ports;
  EnumComPorts(ports);
  P.Close();
  const std::string self = DeviceOf(RealPort());
  EXPECT_TRUE(std::any_of(ports.begin(), ports.end(), [&](const std::string& p) { return DeviceOf(p) == self; }))
      << self << " is not among the " << ports.size() << " ports listed";
}

TEST_F(HardwarePort, ModemLinesAndCountersAnswer) {
  P.Open();
  EXPECT_NO_THROW(P.Signals());
  EXPECT_NO_THROW(P.LastErrors());
  EXPECT_NO_THROW(P.SetDTR(true));
  EXPECT_NO_THROW(P.SetRTS(true));
  P.Close();
}

TEST_F(HardwarePort, LoopbackCarriesEveryRateAndFormat) {
  if (!Loopback()) GTEST_SKIP() << "set VX_TEST_LOOPBACK=1 with TxD wired to RxD";
  P.Timeouts().SetReadInterval(0);
  P.Timeouts().SetReadTotalC(2000);
  P.Open();
  for (TBaudRate rate : {br1200, br9600, br19200, br57600, br115200}) {
    for (TParityBits parity : {prNone, prEven, prOdd}) {
      P.BeginUpdate();
      P.SetBaudRate(rate);
      P.Parity().SetBits(parity);
      P.EndUpdate();
      P.ClearBuffer(true, true);
      const std::string frame = "#05p00050\r";
      ASSERT_EQ(P.WriteStr(frame), 10);
      std::string back;
      P.ReadStr(back, 10);
      EXPECT_EQ(back, frame) << BaudRateToStr(rate) << " " << ParityToStr(parity);
    }
  }
  P.Close();
}

TEST_F(HardwarePort, LoopbackModemLinesRaiseEvents) {
  if (!Loopback()) GTEST_SKIP() << "set VX_TEST_LOOPBACK=1 with RTS wired to CTS";
  std::mutex m;
  std::vector<bool> reported;
  P.OnCTSChange = [&](TCustomComPort*, bool on) {
    std::lock_guard<std::mutex> lock(m);
    reported.push_back(on);
  };
  P.Open();  // RTS low: reports CTS off once
  for (bool on : {true, false}) {
    const size_t before = [&] {
      std::lock_guard<std::mutex> lock(m);
      return reported.size();
    }();
    P.SetRTS(on);
    EXPECT_TRUE(WaitUntil([&] {
      std::lock_guard<std::mutex> lock(m);
      return reported.size() > before && reported.back() == on;
    })) << "no CTS change to " << on << " reported";
    EXPECT_EQ(P.Signals().Contains(csCTS), on);
  }
  P.Close();
}

}  // namespace

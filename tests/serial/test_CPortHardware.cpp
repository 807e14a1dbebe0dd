// On a real serial port, only when VX_TEST_PORT names one (e.g.
// VX_TEST_PORT=/dev/ttyUSB0).  With VX_TEST_LOOPBACK=1 the port's TxD is
// wired to its RxD (and RTS to CTS), so what it sends comes back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "CPort.h"
#include "Pty.h"

using namespace cport;
using cport::test::WaitUntil;

namespace {

const char* RealPort() { return std::getenv("VX_TEST_PORT"); }
bool Loopback() {
  const char* v = std::getenv("VX_TEST_LOOPBACK");
  return v && std::string(v) == "1";
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
  EXPECT_THROW(second.Open(), EComPort);
  std::vector<std::string> ports;
  EnumComPorts(ports);
  P.Close();
  SUCCEED() << ports.size() << " ports listed";
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
  std::atomic<int> cts{0};
  P.OnCTSChange = [&](TCustomComPort*, bool) { ++cts; };
  P.Open();
  const int before = cts.load();  // the open reports the line once
  P.SetRTS(true);
  P.SetRTS(false);
  EXPECT_TRUE(WaitUntil([&] { return cts.load() > before; }));
  P.Close();
}

}  // namespace

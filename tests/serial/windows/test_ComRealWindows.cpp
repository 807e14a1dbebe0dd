// SPDX-License-Identifier: MIT
// What the component relies on where Wine does not behave as Windows does.
// Skipped under Wine, with the difference named; on Windows they run on
// the port VX_TEST_PORT names (e.g. VX_TEST_PORT=COM3), nothing attached
// needed.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "CPort.h"
#include "ComDeviceWindows.h"
#include "FarEnd.h"
#include "Wait.h"

using namespace cport;
using cport::test::WaitUntil;

namespace {

const char* RealPort() { return std::getenv("VX_TEST_PORT"); }

#define NEEDS_REAL_WINDOWS(wine_differs)                                                             \
  do {                                                                                             \
    if (test::UnderWine()) GTEST_SKIP() << "needs real Windows: under Wine " << wine_differs;       \
    if (!RealPort()) GTEST_SKIP() << "needs real Windows: set VX_TEST_PORT to a COM port to run"; \
  } while (0)

class RealPortTest : public ::testing::Test {
 protected:
  TComPort P;
  void Use() {
    P.SetPort(RealPort());
    P.SetEvents({});
  }
};

TEST_F(RealPortTest, AReadWithNothingQueuedReturnsAtOnce) {
  NEEDS_REAL_WINDOWS("a read with the time-outs {MAXDWORD, 0, 0} and nothing queued stays pending");
  Use();
  P.Open();  // the default time-outs
  P.ClearBuffer(true, false);
  char buf[20];
  EXPECT_EQ(P.Read(buf, 20), 0);
}

TEST_F(RealPortTest, ATotalTimeoutEndsAReadWithNoBytesAndNoFailure) {
  NEEDS_REAL_WINDOWS("a read with the time-outs {0, 0, 250} fails with ERROR_TIMEOUT");
  Use();
  P.Timeouts().SetReadInterval(0);
  P.Timeouts().SetReadTotalM(0);
  P.Timeouts().SetReadTotalC(250);
  P.Open();
  P.ClearBuffer(true, false);
  char buf[20];
  EXPECT_EQ(P.Read(buf, 20), 0);
}

TEST_F(RealPortTest, ASecondOpenIsRefused) {
  NEEDS_REAL_WINDOWS("share mode 0 is not enforced");
  Use();
  P.Open();
  TComPort second;
  second.SetPort(RealPort());
  try {
    second.Open();
    ADD_FAILURE() << "a second open succeeded";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), CError_OpenFailed);
    EXPECT_EQ(e.SystemErrorCode(), ERROR_ACCESS_DENIED);
  }
}

TEST_F(RealPortTest, ACustomRateReadsBack) {
  NEEDS_REAL_WINDOWS("a custom rate reads back as 38400");
  std::unique_ptr<TComDevice> device;
  ASSERT_EQ(DefaultComDriver().Open(RealPort(), device), 0);
  TDCB dcb;
  dcb.BaudRate = 28800;  // in no enumeration value; an exact divisor of common UART clocks
  dcb.Flags = TDCB::DCB_Binary;
  dcb.ByteSize = 8;
  ASSERT_EQ(device->SetCommState(dcb), 0);
  DCB back{};
  back.DCBlength = sizeof back;
  ASSERT_TRUE(::GetCommState(dynamic_cast<win::TWindowsDevice&>(*device).Handle(), &back));
  EXPECT_EQ(back.BaudRate, 28800u);
}

TEST_F(RealPortTest, TheEventThreadReportsTheOutputQueueRunningEmpty) {
  NEEDS_REAL_WINDOWS("WaitCommEvent on a pseudo-terminal ends at once");
  Use();
  std::atomic<int> empty{0};
  P.SetEvents({evTxEmpty});
  P.SetSyncMethod(smNone);
  P.OnTxEmpty = [&](TCustomComPort*) { ++empty; };
  P.Open();
  P.WriteStr("U");
  EXPECT_TRUE(WaitUntil([&] { return empty.load() > 0; }));
}

TEST_F(RealPortTest, AnEventWaitEndsByItsTimeoutOrByTheStopSignal) {
  NEEDS_REAL_WINDOWS("WaitCommEvent on a pseudo-terminal ends at once");
  Use();
  P.Open();
  TComEvents events{evRing};
  P.WaitForEvent(events, nullptr, 100);
  EXPECT_TRUE(events.Empty());
  auto stop = DefaultComDriver().CreateSignal();
  std::thread stopper([&] { stop->Set(); });
  events = TComEvents{evRing};
  P.WaitForEvent(events, stop.get(), -1);
  stopper.join();
  EXPECT_TRUE(events.Empty());
}

}  // namespace

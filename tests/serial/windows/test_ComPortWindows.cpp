// SPDX-License-Identifier: MIT
// The Windows driver against a real byte stream: a COM port whose far end
// the test plays (a pseudo-terminal behind Wine, see FarEnd.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "CPort.h"
#include "ComDeviceWindows.h"
#include "FarEnd.h"
#include "Wait.h"

using namespace cport;
using cport::test::TFarEnd;
using cport::test::WaitUntil;

namespace {

class FarEndPort : public ::testing::Test {
 protected:
  std::unique_ptr<TFarEnd> Far;
  TComPort P;
  void SetUp() override {
    if (const std::string why = test::FarEndMissing(); !why.empty()) GTEST_SKIP() << why;
    Far = std::make_unique<TFarEnd>();
    P.SetPort(Far->Port());
    P.SetEvents({});
    P.SetBaudRate(br115200);  // a real line's far end runs at this rate
  }
  // Reads wait for their whole count, without a time limit.
  void UntimedReads() {
    P.Timeouts().SetReadInterval(0);
    P.Timeouts().SetReadTotalM(0);
    P.Timeouts().SetReadTotalC(0);
  }
};

TEST_F(FarEndPort, LineSettingsReachTheDeviceAsGiven) {
  std::unique_ptr<TComDevice> device;
  ASSERT_EQ(DefaultComDriver().Open(Far->Port(), device), 0);
  const HANDLE h = dynamic_cast<win::TWindowsDevice&>(*device).Handle();
  // What a pseudo-terminal can carry (it keeps eight bits without parity
  // whatever it is asked; the record test covers those fields).
  TDCB dcb;
  dcb.BaudRate = 19200;
  dcb.ByteSize = 8;
  dcb.StopBits = TWOSTOPBITS;
  dcb.Flags = TDCB::DCB_Binary | TDCB::DCB_OutX | TDCB::DCB_InX | TDCB::DCB_OutxCtsFlow |
              (2u << TDCB::DCB_RtsControlShift);
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  ASSERT_EQ(device->SetCommState(dcb), 0);
  DCB back{};
  back.DCBlength = sizeof back;
  ASSERT_TRUE(::GetCommState(h, &back));
  EXPECT_EQ(back.BaudRate, 19200u);
  EXPECT_EQ(back.ByteSize, 8);
  EXPECT_EQ(back.StopBits, TWOSTOPBITS);
  EXPECT_TRUE(back.fOutX && back.fInX && back.fOutxCtsFlow);
  EXPECT_EQ(back.XonChar, 0x11);
  EXPECT_EQ(back.XoffChar, 0x13);
  for (const TCommTimeouts& t : {TCommTimeouts{TIMEOUT_ALL_BITS, 0, 0, 100, 1000}, TCommTimeouts{5, 6, 7, 8, 9}}) {
    ASSERT_EQ(device->SetCommTimeouts(t), 0);
    COMMTIMEOUTS now{};
    ASSERT_TRUE(::GetCommTimeouts(h, &now));
    EXPECT_EQ(now.ReadIntervalTimeout, t.ReadIntervalTimeout);
    EXPECT_EQ(now.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(now.ReadTotalTimeoutConstant, t.ReadTotalTimeoutConstant);
    EXPECT_EQ(now.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(now.WriteTotalTimeoutConstant, t.WriteTotalTimeoutConstant);
  }
}

TEST_F(FarEndPort, AnOverlappedReadCompletesWhenTheFarEndAnswers) {
  UntimedReads();
  P.Open();
  EXPECT_EQ(P.WriteStr("%@05SR\r"), 7);
  EXPECT_EQ(Far->Receive(7), "%@05SR\r");
  char buf[9] = {};
  PAsync a = nullptr;
  InitAsync(a);
  EXPECT_EQ(P.ReadAsync(buf, 9, a), 0);
  EXPECT_FALSE(P.IsAsyncCompleted(a));
  Far->Send("#02SR016\r");
  EXPECT_EQ(P.WaitForAsync(a), 9);
  EXPECT_EQ(std::string(buf, 9), "#02SR016\r");
  DoneAsync(a);
}

TEST_F(FarEndPort, APortWithoutModemLinesOpensWithTheLinesOff) {
  bool cts = true;
  P.OnCTSChange = [&](TCustomComPort*, bool on) { cts = on; };
  P.Open();
  EXPECT_FALSE(cts);
  EXPECT_TRUE(P.Signals().Empty());
}

TEST_F(FarEndPort, BytesAlreadyQueuedAreReadAtOnce) {
  P.Open();  // the default time-outs: return with what is there
  Far->Send(std::string(25, 'q'));
  ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 25; }));
  char buf[20];
  EXPECT_EQ(P.Read(buf, 20), 20);
  EXPECT_EQ(P.InputCount(), 5);
  std::string rest;
  EXPECT_EQ(P.ReadStr(rest, 20), 5);
}

// More than the line holds while the far end reads nothing, so the later
// writes stay pending: 24 writes of 64 KiB over a pseudo-terminal (whose
// far end buffers much), of 2 KiB over a real line.
class BackedUpWrites : public FarEndPort {
 protected:
  static constexpr int kWrites = 24;
  int kSize = 64 * 1024;
  std::string All;
  std::vector<PAsync> Records = std::vector<PAsync>(kWrites, nullptr);
  void SetUp() override {
    FarEndPort::SetUp();
    if (IsSkipped()) return;
    P.Timeouts().SetWriteTotalM(0);  // no write limit
    P.Timeouts().SetWriteTotalC(0);
    P.Open();
    if (Far->RealLine()) kSize = 2048;
    for (int i = 0; i < kWrites; ++i)
      for (int k = 0; k < kSize; ++k) All += static_cast<char>((i * 7 + k) % 251);
    for (size_t i = 0; i < Records.size(); ++i) {
      InitAsync(Records[i]);
      P.WriteAsync(All.data() + i * static_cast<size_t>(kSize), kSize, Records[i]);
    }
    ASSERT_FALSE(P.IsAsyncCompleted(Records.back())) << "the line never backed up";
  }
  void TearDown() override {
    P.Close();  // ends what is still pending before its records go
    for (PAsync& a : Records)
      if (a) DoneAsync(a);
  }
};

TEST_F(BackedUpWrites, ArriveWholeInTheOrderTheyWereStarted) {
  if (test::UnderWine())
    GTEST_SKIP() << "needs real Windows: under Wine a later overlapped write on a serial handle can go out "
                    "before the rest of an earlier one";
  const std::string got = Far->Receive(All.size(), 20000);
  for (PAsync& a : Records) EXPECT_EQ(P.WaitForAsync(a), kSize);
  ASSERT_EQ(got.size(), All.size());
  const auto diff = std::mismatch(got.begin(), got.end(), All.begin()).first - got.begin();
  EXPECT_EQ(static_cast<size_t>(diff), All.size()) << "the first byte out of place";
}

TEST_F(BackedUpWrites, APurgeAbortsThoseStillPendingAndTheLineGoesOn) {
  P.AbortAllAsync();
  bool abortedOne = false;
  for (PAsync& a : Records) {
    try {
      EXPECT_EQ(P.WaitForAsync(a), kSize);
      EXPECT_FALSE(abortedOne) << "a write completed after an earlier one was aborted";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ComErrorCode(), CError_WriteFailed);
      EXPECT_EQ(e.SystemErrorCode(), ERROR_OPERATION_ABORTED);
      abortedOne = true;
    }
  }
  EXPECT_TRUE(abortedOne);
  EXPECT_EQ(P.WriteStr("tail"), 4);
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!got.ends_with("tail") && std::chrono::steady_clock::now() < deadline) got += Far->Receive(kSize, 100);
  EXPECT_TRUE(got.ends_with("tail"));
  EXPECT_LT(got.size(), All.size());
}

TEST_F(FarEndPort, APurgeAbortsAPendingRead) {
  UntimedReads();
  P.Open();
  char buf[4];
  PAsync a = nullptr;
  InitAsync(a);
  P.ReadAsync(buf, 4, a);
  EXPECT_FALSE(P.IsAsyncCompleted(a));
  P.AbortAllAsync();
  try {
    P.WaitForAsync(a);
    ADD_FAILURE() << "the purged read completed";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), CError_ReadFailed);
    EXPECT_EQ(e.SystemErrorCode(), ERROR_OPERATION_ABORTED);
  }
  DoneAsync(a);
}

TEST_F(FarEndPort, ClosingEndsAPendingReadWhichKeepsThatResult) {
  UntimedReads();
  P.Open();
  char buf[4];
  PAsync a = nullptr;
  InitAsync(a);
  P.ReadAsync(buf, 4, a);
  P.Close();
  EXPECT_FALSE(a->IoRequest.Pending);
  try {
    P.WaitForAsync(a);
    ADD_FAILURE() << "a read of a closed port completed";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.SystemErrorCode(), ERROR_OPERATION_ABORTED);
  }
  DoneAsync(a);
}

}  // namespace

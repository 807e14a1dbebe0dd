// SPDX-License-Identifier: MIT
// What reaches the driver, when and how often: the device control block,
// the time-outs and the queue sizes built from the settings.
#include <gtest/gtest.h>

#include <functional>

#include "CPort.h"
#include "RecordingDriver.h"

using namespace cport;
using cport::test::TRecordingDriver;

namespace {

// An open port on the recording driver, without an event thread, with the
// opening's own calls forgotten.
struct OpenPort : ::testing::Test {
  TRecordingDriver D;
  TComPort P{nullptr, &D};
  void SetUp() override {
    P.SetEvents({});
    P.Open();
    D.ClearCalls();
  }
  TDCB Dcb() const { return D.Last("SetCommState").Dcb; }
};

TEST(PortApply, OpenAppliesQueuesThenLineThenTimeouts) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  p.SetEvents({});
  p.Open();
  EXPECT_EQ(d.Ops(), (std::vector<std::string>{"Open", "SetupComm", "SetCommState", "SetCommTimeouts",
                                               "GetCommModemStatus", "GetCommModemStatus", "GetCommModemStatus"}));
}

TEST(PortApply, TheDefaultsMakeTheControlPanelsLine) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  p.SetEvents({});
  p.Open();
  const TDCB dcb = d.Last("SetCommState").Dcb;
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.Flags, 0x1u);
  EXPECT_EQ(dcb.XonLim, 256);
  EXPECT_EQ(dcb.XoffLim, 256);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.EvtChar, 0);

  const TCommTimeouts t = d.Last("SetCommTimeouts").Timeouts;
  EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);

  EXPECT_EQ(d.Last("SetupComm").A, 1024u);
  EXPECT_EQ(d.Last("SetupComm").B, 1024u);
}

// -- setting a value it already holds -------------------------------------------------

struct TSetter {
  const char* Name;
  std::function<void(TComPort&)> Apply;
};
void PrintTo(const TSetter& c, std::ostream* os) { *os << c.Name; }

class SameValue : public ::testing::TestWithParam<TSetter> {};

TEST_P(SameValue, MakesNoDriverCall) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  p.SetEvents({});
  p.Open();
  d.ClearCalls();
  GetParam().Apply(p);
  EXPECT_TRUE(d.Calls().empty()) << d.Ops().front();
}

INSTANTIATE_TEST_SUITE_P(
    EveryScalar, SameValue,
    ::testing::Values(
        TSetter{"BaudRate", [](TComPort& p) { p.SetBaudRate(p.BaudRate()); }},
        TSetter{"CustomBaudRate", [](TComPort& p) { p.SetCustomBaudRate(p.CustomBaudRate()); }},
        TSetter{"Port", [](TComPort& p) { p.SetPort(p.Port()); }},
        TSetter{"StopBits", [](TComPort& p) { p.SetStopBits(p.StopBits()); }},
        TSetter{"DataBits", [](TComPort& p) { p.SetDataBits(p.DataBits()); }},
        TSetter{"DiscardNull", [](TComPort& p) { p.SetDiscardNull(p.DiscardNull()); }},
        TSetter{"EventChar", [](TComPort& p) { p.SetEventChar(p.EventChar()); }},
        TSetter{"SyncMethod", [](TComPort& p) { p.SetSyncMethod(p.SyncMethod()); }},
        TSetter{"ParityBits", [](TComPort& p) { p.Parity().SetBits(p.Parity().Bits()); }},
        TSetter{"ParityCheck", [](TComPort& p) { p.Parity().SetCheck(p.Parity().Check()); }},
        TSetter{"ReplaceChar", [](TComPort& p) { p.Parity().SetReplaceChar(p.Parity().ReplaceChar()); }},
        TSetter{"InputSize", [](TComPort& p) { p.Buffer().SetInputSize(p.Buffer().InputSize()); }},
        TSetter{"OutputSize", [](TComPort& p) { p.Buffer().SetOutputSize(p.Buffer().OutputSize()); }},
        TSetter{"ControlDTR", [](TComPort& p) { p.FlowControl().SetControlDTR(p.FlowControl().ControlDTR()); }},
        TSetter{"ControlRTS", [](TComPort& p) { p.FlowControl().SetControlRTS(p.FlowControl().ControlRTS()); }},
        TSetter{"XonChar", [](TComPort& p) { p.FlowControl().SetXonChar(p.FlowControl().XonChar()); }},
        TSetter{"OutCTSFlow", [](TComPort& p) { p.FlowControl().SetOutCTSFlow(p.FlowControl().OutCTSFlow()); }},
        TSetter{"ReadInterval", [](TComPort& p) { p.Timeouts().SetReadInterval(p.Timeouts().ReadInterval()); }},
        TSetter{"WriteTotalC", [](TComPort& p) { p.Timeouts().SetWriteTotalC(p.Timeouts().WriteTotalConstant()); }}),
    [](const auto& info) { return std::string(info.param.Name); });

// -- a changed value re-applies exactly its group -----------------------------------

struct TChange {
  const char* Name;
  std::function<void(TComPort&)> Apply;
  const char* Op;
};
void PrintTo(const TChange& c, std::ostream* os) { *os << c.Name; }

class ChangedValue : public ::testing::TestWithParam<TChange> {};

TEST_P(ChangedValue, ReappliesItsGroupOnce) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  p.SetEvents({});
  p.Open();
  d.ClearCalls();
  GetParam().Apply(p);
  EXPECT_EQ(d.Ops(), std::vector<std::string>{GetParam().Op});
}

INSTANTIATE_TEST_SUITE_P(
    Groups, ChangedValue,
    ::testing::Values(
        TChange{"BaudRate", [](TComPort& p) { p.SetBaudRate(br57600); }, "SetCommState"},
        TChange{"CustomBaudRate", [](TComPort& p) { p.SetCustomBaudRate(1234); }, "SetCommState"},
        TChange{"StopBits", [](TComPort& p) { p.SetStopBits(sbTwoStopBits); }, "SetCommState"},
        TChange{"DataBits", [](TComPort& p) { p.SetDataBits(dbSeven); }, "SetCommState"},
        TChange{"DiscardNull", [](TComPort& p) { p.SetDiscardNull(true); }, "SetCommState"},
        TChange{"EventChar", [](TComPort& p) { p.SetEventChar('\n'); }, "SetCommState"},
        TChange{"ParityRecord", [](TComPort& p) { p.SetParity(p.Parity()); }, "SetCommState"},
        TChange{"ParityBits", [](TComPort& p) { p.Parity().SetBits(prOdd); }, "SetCommState"},
        TChange{"FlowRecord", [](TComPort& p) { p.SetFlowControl(p.FlowControl()); }, "SetCommState"},
        TChange{"FlowSummaryCustom", [](TComPort& p) { p.FlowControl().SetFlowControl(fcCustom); }, "SetCommState"},
        TChange{"FlowSummaryHardware", [](TComPort& p) { p.FlowControl().SetFlowControl(fcHardware); },
                "SetCommState"},
        TChange{"XoffChar", [](TComPort& p) { p.FlowControl().SetXoffChar('x'); }, "SetCommState"},
        TChange{"TimeoutsRecord", [](TComPort& p) { p.SetTimeouts(p.Timeouts()); }, "SetCommTimeouts"},
        TChange{"ReadTotalM", [](TComPort& p) { p.Timeouts().SetReadTotalM(3); }, "SetCommTimeouts"},
        TChange{"BufferRecord", [](TComPort& p) { p.SetBuffer(p.Buffer()); }, "SetupComm"},
        // A new input size re-applies the queues; the XON limits follow only
        // at the next line apply.
        TChange{"InputSize", [](TComPort& p) { p.Buffer().SetInputSize(4096); }, "SetupComm"},
        TChange{"OddInputSize", [](TComPort& p) { p.Buffer().SetInputSize(1025); }, "SetupComm"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(OpenPort, ChangingPortReopensOnTheNewName) {
  P.SetPort("COM2");
  EXPECT_EQ(D.Ops().front(), "PurgeComm");  // pending transfers aborted first
  EXPECT_EQ(D.Count("Close"), 1);
  EXPECT_EQ(D.Last("Open").Port, "COM2");
  EXPECT_TRUE(P.Connected());
  EXPECT_EQ(D.OpenDevices(), 1);
}

// -- batches ------------------------------------------------------------------------

TEST_F(OpenPort, NestedBatchesReachTheDriverOnceAtTheFinalEndUpdate) {
  P.BeginUpdate();
  P.BeginUpdate();
  P.SetBaudRate(br38400);
  P.Timeouts().SetReadTotalC(250);
  P.Parity().SetBits(prEven);
  P.EndUpdate();
  EXPECT_TRUE(D.Calls().empty());
  P.EndUpdate();
  EXPECT_EQ(D.Ops(), (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommTimeouts"}));
  EXPECT_EQ(Dcb().BaudRate, 38400u);
  EXPECT_EQ(Dcb().Parity, 2);
  EXPECT_EQ(D.Last("SetCommTimeouts").Timeouts.ReadTotalTimeoutConstant, 250u);
  D.ClearCalls();
  P.EndUpdate();  // depth 0 already
  EXPECT_TRUE(D.Calls().empty());
  EXPECT_EQ(P.UpdateDepth(), 0);
}

TEST(PortApply, APortOpenedInsideABatchKeepsTheDriversLineUntilTheBatchEnds) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  p.SetEvents({});
  p.BeginUpdate();
  p.Open();
  EXPECT_EQ(d.Count("SetCommState"), 0);
  p.EndUpdate();
  EXPECT_EQ(d.Count("SetCommState"), 1);
  EXPECT_EQ(d.Count("SetupComm"), 1);
  EXPECT_EQ(d.Count("SetCommTimeouts"), 1);
}

// -- the device control block ------------------------------------------------------

TEST_F(OpenPort, FlowSummariesGiveTheirFlagPatterns) {
  P.FlowControl().SetFlowControl(fcHardware);
  EXPECT_EQ(Dcb().Flags, 0x1u | 0x4u | 0x2000u);
  EXPECT_EQ(Dcb().RtsControl(), 2u);
  P.FlowControl().SetFlowControl(fcSoftware);
  EXPECT_EQ(Dcb().Flags, 0x1u | 0x100u | 0x200u);
  EXPECT_EQ(Dcb().RtsControl(), 0u);
  P.FlowControl().SetFlowControl(fcNone);
  EXPECT_EQ(Dcb().Flags, 0x1u);
}

TEST_F(OpenPort, CustomRateIsUsedOnlyWithBrCustom) {
  P.SetCustomBaudRate(250000);  // not brCustom: the block is re-applied, the rate stays
  EXPECT_EQ(D.Count("SetCommState"), 1);
  EXPECT_EQ(Dcb().BaudRate, 9600u);
  P.SetBaudRate(brCustom);
  EXPECT_EQ(Dcb().BaudRate, 250000u);
  P.SetCustomBaudRate(31337);
  EXPECT_EQ(Dcb().BaudRate, 31337u);
}

TEST_F(OpenPort, EveryNamedRateReachesTheBlock) {
  const uint32_t rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                            19200, 38400, 56000, 57600, 115200, 128000, 256000};
  for (int i = 1; i < BaudRateCount; ++i) {
    P.SetBaudRate(static_cast<TBaudRate>(i));
    EXPECT_EQ(Dcb().BaudRate, rates[i - 1]) << BaudRateToStr(static_cast<TBaudRate>(i));
  }
}

TEST_F(OpenPort, ReplaceNeedsCheck) {
  P.Parity().SetReplace(true);
  P.Parity().SetReplaceChar('#');
  EXPECT_EQ(Dcb().Flags, 0x1u);
  EXPECT_EQ(Dcb().ErrorChar, 0);
  P.Parity().SetCheck(true);
  EXPECT_EQ(Dcb().Flags, 0x1u | 0x2u | 0x400u);
  EXPECT_EQ(Dcb().ErrorChar, '#');
}

TEST_F(OpenPort, EachFieldHasItsFlagAndCode) {
  P.FlowControl().SetOutDSRFlow(true);
  EXPECT_EQ(Dcb().Flags & 0x8u, 0x8u);
  P.FlowControl().SetDSRSensitivity(true);
  EXPECT_EQ(Dcb().Flags & 0x40u, 0x40u);
  P.FlowControl().SetTxContinueOnXoff(true);
  EXPECT_EQ(Dcb().Flags & 0x80u, 0x80u);
  P.SetDiscardNull(true);
  EXPECT_EQ(Dcb().Flags & 0x800u, 0x800u);
  const uint32_t dtr[] = {0x00, 0x10, 0x20};
  for (int v = dtrDisable; v <= dtrHandshake; ++v) {
    P.FlowControl().SetControlDTR(static_cast<TDTRFlowControl>(v));
    EXPECT_EQ(Dcb().Flags & 0x30u, dtr[v]);
  }
  const uint32_t rts[] = {0x0000, 0x1000, 0x2000, 0x3000};
  for (int v = rtsDisable; v <= rtsToggle; ++v) {
    P.FlowControl().SetControlRTS(static_cast<TRTSFlowControl>(v));
    EXPECT_EQ(Dcb().Flags & 0x3000u, rts[v]);
  }
  for (int v = dbFive; v <= dbEight; ++v) {
    P.SetDataBits(static_cast<TDataBits>(v));
    EXPECT_EQ(Dcb().ByteSize, 5 + v);
  }
  for (int v = prOdd; v <= prSpace; ++v) {
    P.Parity().SetBits(static_cast<TParityBits>(v));
    EXPECT_EQ(Dcb().Parity, v);
  }
  for (int v = sbOne5StopBits; v <= sbTwoStopBits; ++v) {
    P.SetStopBits(static_cast<TStopBits>(v));
    EXPECT_EQ(Dcb().StopBits, v);
  }
  EXPECT_EQ(Dcb().Flags & 0x4000u, 0u);  // never abort on error
}

TEST_F(OpenPort, XonLimitsFollowTheInputSizeAtTheNextLineApply) {
  P.Buffer().SetInputSize(4096);
  EXPECT_EQ(D.Count("SetCommState"), 0);
  P.SetBaudRate(br19200);
  EXPECT_EQ(Dcb().XonLim, 1024);
  EXPECT_EQ(Dcb().XoffLim, 1024);
  // A queue too large for the 16-bit limits must not wrap round to a tiny one.
  P.Buffer().SetInputSize(1 << 20);
  P.SetBaudRate(br9600);
  EXPECT_EQ(Dcb().XonLim, 65535);
}

TEST_F(OpenPort, TimeoutsPassAsUnsigned) {
  P.Timeouts().SetReadInterval(0);
  EXPECT_EQ(D.Last("SetCommTimeouts").Timeouts.ReadIntervalTimeout, 0u);
  P.Timeouts().SetReadInterval(25);
  EXPECT_EQ(D.Last("SetCommTimeouts").Timeouts.ReadIntervalTimeout, 25u);
  P.Timeouts().SetReadInterval(-1);
  EXPECT_EQ(D.Last("SetCommTimeouts").Timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
  P.Timeouts().SetWriteTotalM(7);
  EXPECT_EQ(D.Last("SetCommTimeouts").Timeouts.WriteTotalTimeoutMultiplier, 7u);
}

// -- failures ---------------------------------------------------------------------------

TEST_F(OpenPort, ApplyFailuresCarryTheirCodeAndKeepTheNewValue) {
  struct {
    const char* Op;
    std::function<void()> Set;
    int Code;
  } cases[] = {
      {"SetCommState", [&] { P.SetBaudRate(br300); }, 7},
      {"SetCommTimeouts", [&] { P.Timeouts().SetReadTotalC(9); }, 8},
      {"SetupComm", [&] { P.Buffer().SetOutputSize(64); }, 9},
  };
  for (auto& c : cases) {
    D.FailNext(c.Op, 22);
    try {
      c.Set();
      ADD_FAILURE() << c.Op << " failure not reported";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ComErrorCode(), c.Code);
      EXPECT_EQ(e.SystemErrorCode(), 22);
    }
  }
  EXPECT_EQ(P.BaudRate(), br300);
  EXPECT_EQ(P.Timeouts().ReadTotalConstant(), 9);
  EXPECT_EQ(P.Buffer().OutputSize(), 64);
}

TEST(PortApply, AFailedSetupDuringOpenClosesTheDevice) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  d.FailNext("SetCommState", 5);
  EXPECT_THROW(p.Open(), EComPort);
  EXPECT_FALSE(p.Connected());
  EXPECT_EQ(d.OpenDevices(), 0);
  EXPECT_FALSE(p.EventThreadCreated());
  p.Open();  // the next attempt works
  EXPECT_TRUE(p.Connected());
}

}  // namespace

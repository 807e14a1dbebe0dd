// SPDX-License-Identifier: MIT
// The settings model: defaults, setter rules, records, refusals, loading.
#include <gtest/gtest.h>

#include "CPort.h"
#include "Pty.h"
#include "RecordingDriver.h"
#include "Reports.h"

using namespace cport;
using cport::test::TRecordingDriver;

namespace {

TEST(PortSettings, Defaults) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  EXPECT_FALSE(p.Connected());
  EXPECT_EQ(p.Port(), "COM1");
  EXPECT_EQ(p.BaudRate(), br9600);
  EXPECT_EQ(p.CustomBaudRate(), 9600);
  EXPECT_EQ(p.StopBits(), sbOneStopBit);
  EXPECT_EQ(p.DataBits(), dbEight);
  EXPECT_FALSE(p.DiscardNull());
  EXPECT_EQ(p.EventChar(), 0);
  EXPECT_EQ(EventsToMask(p.Events()), 0x05FFu);
  EXPECT_EQ(p.SyncMethod(), smThreadSync);
  EXPECT_EQ(p.EventThreadPriority(), tpNormal);
  EXPECT_EQ(static_cast<int>(p.EventThreadPriority()), 3);
  EXPECT_TRUE(p.TriggersOnRxChar());

  EXPECT_EQ(p.Parity().Bits(), prNone);
  EXPECT_FALSE(p.Parity().Check());
  EXPECT_FALSE(p.Parity().Replace());
  EXPECT_EQ(p.Parity().ReplaceChar(), 0);

  EXPECT_EQ(p.Buffer().InputSize(), 1024);
  EXPECT_EQ(p.Buffer().OutputSize(), 1024);

  const TComFlowControl& f = p.FlowControl();
  EXPECT_FALSE(f.OutCTSFlow());
  EXPECT_FALSE(f.OutDSRFlow());
  EXPECT_EQ(f.ControlDTR(), dtrDisable);
  EXPECT_EQ(f.ControlRTS(), rtsDisable);
  EXPECT_FALSE(f.XonXoffOut());
  EXPECT_FALSE(f.XonXoffIn());
  EXPECT_FALSE(f.DSRSensitivity());
  EXPECT_FALSE(f.TxContinueOnXoff());
  EXPECT_EQ(f.XonChar(), 17);
  EXPECT_EQ(f.XoffChar(), 19);

  const TComTimeouts& t = p.Timeouts();
  EXPECT_EQ(t.ReadInterval(), -1);
  EXPECT_EQ(t.ReadTotalMultiplier(), 0);
  EXPECT_EQ(t.ReadTotalConstant(), 0);
  EXPECT_EQ(t.WriteTotalMultiplier(), 100);
  EXPECT_EQ(t.WriteTotalConstant(), 1000);

  for (TComRecord* r : std::initializer_list<TComRecord*>{&p.Parity(), &p.Buffer(), &p.FlowControl(), &p.Timeouts()})
    EXPECT_EQ(r->ComPort(), &p);
}

TEST(PortSettings, EnumerationOrdinalsAreStable) {
  // Stored settings keep these numbers.
  EXPECT_EQ(brCustom, 0);
  EXPECT_EQ(br9600, 7);
  EXPECT_EQ(br115200, 13);
  EXPECT_EQ(br256000, 15);
  EXPECT_EQ(dbEight, 3);
  EXPECT_EQ(prSpace, 4);
  EXPECT_EQ(fcHardware, 0);
  EXPECT_EQ(fcNone, 2);
  EXPECT_EQ(fcCustom, 3);
  EXPECT_EQ(sbTwoStopBits, 2);
  EXPECT_EQ(rtsToggle, 3);
  EXPECT_EQ(dtrHandshake, 2);
  EXPECT_EQ(evRx80Full, 9);
  EXPECT_EQ(smNone, 2);
  EXPECT_EQ(csRLSD, 3);
  EXPECT_EQ(ceTxFull, 7);
  EXPECT_EQ(okRead, 1);
}

TEST(PortSettings, EventMaskBitsAreTheLineEventBits) {
  EXPECT_EQ(EventsToMask(TComEvents{evRxChar}), 0x0001u);
  EXPECT_EQ(EventsToMask(TComEvents{evRxFlag}), 0x0002u);
  EXPECT_EQ(EventsToMask(TComEvents{evTxEmpty}), 0x0004u);
  EXPECT_EQ(EventsToMask(TComEvents{evRing}), 0x0100u);
  EXPECT_EQ(EventsToMask(TComEvents{evRx80Full}), 0x0400u);
  EXPECT_EQ(MaskToEvents(0x05FF), AllComEvents);
  EXPECT_EQ(MaskToEvents(0x0200 | 0x0020), TComEvents{evRLSD});  // unknown bits are ignored
}

TEST(PortSettings, AClosedPortOnlyStores) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  p.SetBaudRate(br115200);
  p.SetPort("COM7");
  p.Parity().SetBits(prEven);
  p.FlowControl().SetFlowControl(fcHardware);
  p.Timeouts().SetReadTotalC(50);
  p.Buffer().SetInputSize(4096);
  p.BeginUpdate();
  p.EndUpdate();
  EXPECT_TRUE(d.Calls().empty());
  EXPECT_EQ(p.BaudRate(), br115200);
  EXPECT_EQ(p.Port(), "COM7");
  EXPECT_EQ(p.Parity().Bits(), prEven);
  EXPECT_EQ(p.Timeouts().ReadTotalConstant(), 50);
  EXPECT_EQ(p.Buffer().InputSize(), 4096);
}

// -- flow-control summary ---------------------------------------------------------

struct TFlowCase {
  const char* Name;
  TRTSFlowControl Rts;
  bool Cts, XIn, XOut;
  TFlowControl Expected;
};
void PrintTo(const TFlowCase& c, std::ostream* os) { *os << c.Name; }

class FlowSummary : public ::testing::TestWithParam<TFlowCase> {};

TEST_P(FlowSummary, DecidedFromRtsCtsAndXonXoffOnly) {
  const TFlowCase& c = GetParam();
  TComFlowControl f;
  f.SetControlRTS(c.Rts);
  f.SetOutCTSFlow(c.Cts);
  f.SetXonXoffIn(c.XIn);
  f.SetXonXoffOut(c.XOut);
  EXPECT_EQ(f.GetFlowControl(), c.Expected);
  // The other fields never move the summary.
  f.SetControlDTR(dtrHandshake);
  f.SetOutDSRFlow(true);
  f.SetDSRSensitivity(true);
  f.SetTxContinueOnXoff(true);
  f.SetXonChar('A');
  EXPECT_EQ(f.GetFlowControl(), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FlowSummary,
    ::testing::Values(TFlowCase{"hardware", rtsHandshake, true, false, false, fcHardware},
                      TFlowCase{"software", rtsDisable, false, true, true, fcSoftware},
                      TFlowCase{"none", rtsDisable, false, false, false, fcNone},
                      TFlowCase{"rts_enable_alone", rtsEnable, false, false, false, fcCustom},
                      TFlowCase{"handshake_without_cts", rtsHandshake, false, false, false, fcCustom},
                      TFlowCase{"cts_without_handshake", rtsDisable, true, false, false, fcCustom},
                      TFlowCase{"xon_in_only", rtsDisable, false, true, false, fcCustom},
                      TFlowCase{"hardware_plus_xon", rtsHandshake, true, true, true, fcCustom},
                      TFlowCase{"toggle", rtsToggle, false, false, false, fcCustom}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(PortSettings, SetFlowControlExpandsAndKeepsTheOtherFields) {
  TComFlowControl f;
  f.SetControlDTR(dtrEnable);
  f.SetOutDSRFlow(true);
  f.SetFlowControl(fcHardware);
  EXPECT_EQ(f.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(f.OutCTSFlow());
  EXPECT_FALSE(f.XonXoffIn());
  EXPECT_EQ(f.GetFlowControl(), fcHardware);
  EXPECT_EQ(f.ControlDTR(), dtrEnable);
  EXPECT_TRUE(f.OutDSRFlow());

  f.SetFlowControl(fcSoftware);
  EXPECT_EQ(f.ControlRTS(), rtsDisable);
  EXPECT_FALSE(f.OutCTSFlow());
  EXPECT_TRUE(f.XonXoffIn());
  EXPECT_TRUE(f.XonXoffOut());

  f.SetFlowControl(fcNone);
  EXPECT_EQ(f.GetFlowControl(), fcNone);

  f.SetControlRTS(rtsEnable);
  f.SetFlowControl(fcCustom);  // changes nothing
  EXPECT_EQ(f.ControlRTS(), rtsEnable);
  EXPECT_EQ(f.GetFlowControl(), fcCustom);
}

// -- queue sizes --------------------------------------------------------------------

TEST(PortSettings, BufferSizesAreMadeEven) {
  struct {
    int32_t In, Stored;
  } cases[] = {{1025, 1024}, {1023, 1022}, {0, 0}, {1, 0}, {2, 2}, {-3, -3}};
  for (auto c : cases) {
    TComBuffer b;
    b.SetInputSize(c.In);
    b.SetOutputSize(c.In);
    EXPECT_EQ(b.InputSize(), c.Stored) << c.In;
    EXPECT_EQ(b.OutputSize(), c.Stored) << c.In;
  }
}

// -- records --------------------------------------------------------------------------

TEST(PortSettings, CopyingARecordCopiesFieldsButNeverTheBackLink) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  TComParity loose;
  loose.SetBits(prMark);
  loose.SetCheck(true);
  loose.SetReplaceChar('?');
  p.Parity().Assign(loose);
  EXPECT_EQ(p.Parity().Bits(), prMark);
  EXPECT_TRUE(p.Parity().Check());
  EXPECT_EQ(p.Parity().ReplaceChar(), '?');
  EXPECT_EQ(p.Parity().ComPort(), &p);

  TComParity copy(p.Parity());
  EXPECT_EQ(copy.Bits(), prMark);
  EXPECT_EQ(copy.ComPort(), nullptr);

  TComTimeouts t;
  t.SetReadInterval(5);
  p.Timeouts() = t;
  EXPECT_EQ(p.Timeouts().ReadInterval(), 5);
  EXPECT_EQ(p.Timeouts().ComPort(), &p);
}

TEST(PortSettings, CopyingOntoAnUnrelatedRecordIsRefused) {
  TComTimeouts t;
  TComParity par;
  TComBuffer b;
  TComFlowControl f;
  try {
    par.Assign(t);
    FAIL() << "copy was accepted";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TComTimeouts to a TComParity");
  }
  EXPECT_THROW(b.Assign(f), EConvertError);
  EXPECT_THROW(f.Assign(b), EConvertError);
  EXPECT_THROW(t.Assign(par), EConvertError);
  EXPECT_EQ(par.Bits(), prNone);  // nothing copied
}

// -- refusals -------------------------------------------------------------------------

TEST(PortSettings, SyncMethodAndPriorityAreFrozenWhileOpen) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  p.SetEvents({});
  p.SetSyncMethod(smNone);  // closed: stored
  EXPECT_EQ(p.SyncMethod(), smNone);
  p.Open();
  try {
    p.SetSyncMethod(smWindowSync);
    FAIL() << "accepted while open";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 14);
    EXPECT_EQ(e.SystemErrorCode(), -1);
    EXPECT_STREQ(e.what(), "Cannot set property while connected");
  }
  EXPECT_EQ(p.SyncMethod(), smNone);
  EXPECT_NO_THROW(p.SetSyncMethod(smNone));  // the same value: nothing happens
  EXPECT_THROW(p.SetEventThreadPriority(tpHigher), EComPort);
  EXPECT_EQ(p.EventThreadPriority(), tpNormal);
  EXPECT_NO_THROW(p.SetEventThreadPriority(tpNormal));
  p.Close();
  p.SetEventThreadPriority(tpHigher);
  EXPECT_EQ(p.EventThreadPriority(), tpHigher);
}

TEST(PortSettings, TriggersOnRxCharIsRefusedWhileALinkTakesBytes) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  TComLink signalsOnly;
  signalsOnly.OnCTSChange = [](TCustomComPort*, bool) {};
  p.RegisterLink(&signalsOnly);
  EXPECT_FALSE(p.HasLink());
  p.SetTriggersOnRxChar(false);
  p.SetTriggersOnRxChar(true);

  TComLink bytes;
  bytes.OnRxBuf = [](TCustomComPort*, const void*, int32_t) {};
  p.RegisterLink(&bytes);
  EXPECT_TRUE(p.HasLink());
  EXPECT_FALSE(p.TriggersOnRxChar());  // reads false while the link is there
  try {
    p.SetTriggersOnRxChar(true);
    FAIL() << "accepted with a link";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 22);
    EXPECT_STREQ(e.what(), "A component is linked to OnRxBuf event");
  }
  p.UnRegisterLink(&bytes);
  EXPECT_TRUE(p.TriggersOnRxChar());
  p.UnRegisterLink(&signalsOnly);
}

// -- loading ----------------------------------------------------------------------------

TEST(PortSettings, LoadingStoresWithoutDriverCallsThenOpens) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  p.SetEvents({});
  p.BeginLoading();
  p.SetConnected(true);
  p.SetBaudRate(br19200);
  p.SetPort("COM3");
  p.FlowControl().SetFlowControl(fcSoftware);
  EXPECT_TRUE(d.Calls().empty());
  p.EndLoading();
  EXPECT_TRUE(p.Connected());
  EXPECT_EQ(d.Last("Open").Port, "COM3");
  EXPECT_EQ(d.Last("SetCommState").Dcb.BaudRate, 19200u);
  EXPECT_EQ(d.Count("SetCommState"), 1);
}

TEST(PortSettings, AFailedOpenAtTheEndOfLoadingGoesToTheApplicationReport) {
  TRecordingDriver d;
  d.FailNext("Open", 2);
  TComPort p(nullptr, &d);
  cport::test::TReportCatcher reports;
  p.BeginLoading();
  p.SetConnected(true);
  EXPECT_NO_THROW(p.EndLoading());
  EXPECT_FALSE(p.Connected());
  EXPECT_EQ(reports.Reports(), std::vector<std::string>{"Unable to open com port (win error code: 2)"});
}

TEST(PortSettings, EventsChangedWhileOpenWaitForTheNextOpen) {
  TRecordingDriver d;
  TComPort p(nullptr, &d);
  p.SetEvents({evRxChar, evTxEmpty});
  p.Open();
  EXPECT_EQ(d.Last("SetCommMask").A, 0x0005u);
  d.ClearCalls();
  p.SetEvents({evRing});
  EXPECT_EQ(d.Count("SetCommMask"), 0);
  p.Close();
  d.ClearCalls();
  p.Open();
  EXPECT_EQ(d.Last("SetCommMask").A, 0x0100u);
  p.Close();
}

}  // namespace

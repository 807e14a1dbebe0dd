// SPDX-License-Identifier: MIT
// The signal lamp: modem lines, ring and writes through the recording
// driver, activity and the connection over a pseudo-terminal, headless.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>

#include "CPortLed.h"
#include "Pty.h"
#include "RecordingDriver.h"

using namespace cport;

namespace {

using Changes = std::vector<bool>;

// Waits for pred with the lamps' countdowns and the port's reports running.
bool Until(const std::function<bool()>& pred) {
  return cport::test::WaitUntil([&] {
    QCoreApplication::processEvents();
    return pred();
  });
}

// A lamp with the changes it signalled.
struct TWatched : TComLed {
  Changes Seen;
  explicit TWatched(TComLedSignal line) : TComLed(line) {
    connect(this, &TComLed::StateChanged, [this](bool on) { Seen.push_back(on); });
  }
};

class Lamp : public ::testing::Test {
 protected:
  cport::test::TRecordingDriver D;
  TComPort P{nullptr, &D};
  TWatched L{lsConn};
};

struct TLine { const char* Name; TComLedSignal Signal; uint32_t Modem; };
void PrintTo(const TLine& l, std::ostream* os) { *os << l.Name; }
class ModemLine : public Lamp, public ::testing::WithParamInterface<TLine> {};

TEST_P(ModemLine, FollowsItsLineFromOpenToClose) {
  const uint32_t all = MS_CTS_BIT | MS_DSR_BIT | MS_RLSD_BIT, events = EV_CTS_BIT | EV_DSR_BIT | EV_RLSD_BIT;
  L.SetLedSignal(GetParam().Signal);
  L.SetComPort(&P);
  D.SetModemStatus(GetParam().Modem);
  P.Open();  // the state at open
  TComLed late(GetParam().Signal);
  late.SetComPort(&P);  // bound to the open port: the state now
  EXPECT_TRUE(late.State());
  // Every line moves at once: the others must not reach this lamp.
  D.SetModemStatus(all & ~GetParam().Modem);
  D.RaiseEvents(events);
  EXPECT_TRUE(Until([&] { return !L.State(); }));
  D.SetModemStatus(all);
  D.RaiseEvents(events);
  EXPECT_TRUE(Until([&] { return L.State(); }));
  P.Close();
  EXPECT_EQ(L.Seen, (Changes{true, false, true, false}));
}

INSTANTIATE_TEST_SUITE_P(Lines, ModemLine,
                         ::testing::Values(TLine{"CTS", lsCTS, MS_CTS_BIT}, TLine{"DSR", lsDSR, MS_DSR_BIT},
                                           TLine{"RLSD", lsRLSD, MS_RLSD_BIT}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A write lights the lamp until the port says the line is empty (or, where
// it will not say so, until the write is handed on, or the port closes);
// then the hold runs.
TEST_F(Lamp, TheTransmitLampStaysLitWhileAWriteIsUnderWay) {
  TWatched ring(lsRing);  // its countdown ending shows the other one would have
  L.SetLedSignal(lsTx);
  for (TComLed* lamp : {static_cast<TComLed*>(&L), static_cast<TComLed*>(&ring)}) {
    lamp->SetComPort(&P);
    lamp->SetHoldTime(0);
  }
  P.Open();
  P.WriteStr("a");
  D.RaiseEvents(EV_RING_BIT);
  EXPECT_TRUE(Until([&] { return ring.Seen == Changes{true, false}; }));
  EXPECT_EQ(L.Seen, Changes{true});
  D.RaiseEvents(EV_TXEMPTY_BIT);
  EXPECT_TRUE(Until([&] { return L.Seen.size() == 2; }));
  P.WriteStr("b");
  P.Close();  // nothing is under way on a closed port
  EXPECT_EQ(L.Seen, (Changes{true, false, true, false}));
  P.SetEvents({});
  P.Open();
  P.WriteStr("c");
  EXPECT_TRUE(Until([&] { return L.Seen.size() == 6; }));
}

TEST_F(Lamp, IsSetByHandOnlyWhileUnboundAndLetsGoOfADestroyedPort) {
  L.SetState(true);
  L.SetState(true);
  auto* port = new TComPort(nullptr, &D);
  L.SetComPort(port);  // closed: out
  try {
    L.SetState(true);
    FAIL() << "a bound lamp was set by hand";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 19);
    EXPECT_EQ(e.SystemErrorCode(), -1);
    EXPECT_STREQ(e.what(), "Cannot change led state if ComPort is selected");
  }
  port->Open();
  delete port;
  EXPECT_EQ(L.ComPort(), nullptr);
  L.SetState(true);  // the program's again
  EXPECT_EQ(L.Seen, (Changes{true, false, true, false, true}));
}

// Reports on the main thread, and on the event thread handed over.
struct TSync { const char* Name; TSyncMethod Method; };
void PrintTo(const TSync& s, std::ostream* os) { *os << s.Name; }
class LampOnPty : public ::testing::TestWithParam<TSync> {
 protected:
  cport::test::TPty Pty;
  TComPort P;
  TWatched Conn{lsConn}, Rx{lsRx}, Tx{lsTx};
  std::atomic<int> RxEvents{0};
  void SetUp() override {
    P.SetPort(Pty.Path());
    P.SetSyncMethod(GetParam().Method);
    P.OnRxChar = [this](TCustomComPort*, int32_t) { ++RxEvents; };
    for (TComLed* lamp : {&Conn, &Rx, &Tx}) lamp->SetComPort(&P);
    P.Open();
  }
};

TEST_P(LampOnPty, TrafficLightsItsLampTillTheHoldEndsAndTheConnectionFollowsOpenAndClose) {
  Rx.SetHoldTime(600000);
  for (int i = 1; i <= 3; ++i) {  // a stream: one light
    Pty.Send("x");
    ASSERT_TRUE(Until([&] { return RxEvents >= i && Rx.State(); }));
  }
  Rx.SetHoldTime(0);  // also counts for the lamp lit now
  EXPECT_TRUE(Until([&] { return !Rx.State(); }));
  char buf[8];
  EXPECT_EQ(P.Read(buf, sizeof buf), 3);  // read empty: no activity on the line
  P.WriteStr("y");
  EXPECT_EQ(Pty.Receive(1), "y");
  EXPECT_TRUE(Until([&] { return Tx.Seen.size() == 2; }));
  P.Close();
  P.Open();
  P.Close();
  EXPECT_EQ(Rx.Seen, (Changes{true, false}));
  EXPECT_EQ(Tx.Seen, (Changes{true, false}));
  EXPECT_EQ(Conn.Seen, (Changes{true, false, true, false}));
}

INSTANTIATE_TEST_SUITE_P(Sync, LampOnPty, ::testing::Values(TSync{"MainThread", smThreadSync}, TSync{"EventThread", smNone}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace

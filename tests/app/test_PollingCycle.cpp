// SPDX-License-Identifier: MIT
// The polling cycle against a generator on a pseudo-terminal: the simulated
// generator for whole conversations, and the test itself at the far end of
// the wire for replies made to measure.  Ticks are run by the test, one at a
// time; between a query and its read the test waits until the reply has
// reached the port.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "AppTest.h"
#include "Main.h"
#include "Pty.h"
#include "Simulator.h"

using namespace vxpanel;
using vxpanel::test::TCloseWatch;
using vxpanel::test::TPrivateSettings;
using vxpanel::test::WaitFor;

namespace {

QColor Rgb(int r, int g, int b) { return QColor(r, g, b); }

std::unique_ptr<TMainForm> NewForm(const std::string& port) {
  auto f = std::make_unique<TMainForm>();
  f->Timer1->stop();  // the test runs the ticks
  f->CP.SetPort(port);
  return f;
}

vxsim::TSimOptions SimOptions(bool silent = false) {
  vxsim::TSimOptions o;
  // Well inside a tick, and long enough that the read right after a query
  // cannot take its reply.
  o.DelayMs = 20;
  o.Silent = silent;
  return o;
}

vxsim::TModelOptions Model(const std::string& version = "016") {
  vxsim::TModelOptions m;
  m.Version = version;
  m.Wobble = 0;
  return m;
}

// The panel and the simulated generator.  Tick() returns the frames the
// generator received during that tick, as they were on the wire.
class Conversation : public ::testing::Test {
 protected:
  TPrivateSettings Settings;
  std::unique_ptr<vxsim::TSimulator> Sim;
  cport::TComLink Link;  // hears every frame the panel writes
  std::string Written;
  std::unique_ptr<TMainForm> F;
  size_t Seen = 0;
  size_t Queries = 0;

  bool Silent = false;
  QTemporaryDir Dir;
  std::string DeviceName;  // a stable name in front of the generator's terminal

  void Start(bool silent, const std::string& version = "016") {
    Plug(silent, version);
    Attach(Sim->Path());
  }
  // The panel's port is a name that Replug can point at a new generator, as
  // an adapter plugged in again keeps its name.
  void StartBehindName(const std::string& version) {
    DeviceName = (Dir.path() + "/ttyGEN").toStdString();
    Plug(false, version);
    ASSERT_EQ(::symlink(Sim->Path().c_str(), DeviceName.c_str()), 0);
    Attach(DeviceName);
  }
  void Replug(const std::string& version) {
    Sim.reset();
    Plug(false, version);
    ASSERT_EQ(::unlink(DeviceName.c_str()), 0);
    ASSERT_EQ(::symlink(Sim->Path().c_str(), DeviceName.c_str()), 0);
  }
  void Plug(bool silent, const std::string& version) {
    Silent = silent;
    Sim = std::make_unique<vxsim::TSimulator>(vxsim::TGeneratorModel(Model(version)), SimOptions(silent));
    Sim->Start();
    Written.clear();
    Seen = Queries = 0;
  }
  void Attach(const std::string& port) {
    F = NewForm(port);
    Link.OnTxBuf = [this](cport::TCustomComPort*, const void* b, int32_t n) {
      Written.append(static_cast<const char*>(b), static_cast<size_t>(n));
    };
    F->CP.RegisterLink(&Link);
  }
  void TearDown() override {
    if (F) F->CP.UnRegisterLink(&Link);
    F.reset();
    Sim.reset();
  }

  std::vector<vxsim::TEvent> Events(vxsim::EEvent kind) {
    std::vector<vxsim::TEvent> out;
    for (auto& e : Sim->Events())
      if (e.Kind == kind) out.push_back(e);
    return out;
  }
  size_t ReceivedBytes() {
    size_t n = 0;
    for (auto& e : Events(vxsim::EEvent::Received)) n += e.Bytes.size();
    return n;
  }

  std::string Tick() {
    F->Timer1Timer();
    EXPECT_TRUE(WaitFor([&] { return ReceivedBytes() == Written.size(); })) << "frames lost on the wire";
    const auto received = Events(vxsim::EEvent::Received);
    std::string frames;
    size_t queries = 0;
    for (size_t i = Seen; i < received.size(); ++i) {
      frames += received[i].Bytes;
      if (received[i].Bytes.starts_with('%')) ++queries;
    }
    Seen = received.size();
    Queries += queries;
    if (queries > 0 && !Silent) {
      // The reply has been sent and has reached the port before the next tick.
      EXPECT_TRUE(WaitFor([&] { return Events(vxsim::EEvent::Sent).size() >= Queries; }));
      const auto size = static_cast<int32_t>(Events(vxsim::EEvent::Sent).back().Bytes.size());
      EXPECT_TRUE(WaitFor([&] { return F->CP.InputCount() >= size; }));
    }
    return frames;
  }

  struct TTickFrames {
    int Tick;
    std::string Frames;
  };
  // Runs the ticks from..to and checks what the generator received in each.
  void ExpectTicks(int from, int to, const std::vector<TTickFrames>& expected) {
    for (int t = from; t <= to; ++t) {
      std::string want;
      for (const auto& e : expected)
        if (e.Tick == t) want = e.Frames;
      EXPECT_EQ(Tick(), want) << "tick " << t;
    }
  }
};

}  // namespace

// With a generator that answers: the read-back, the send step that follows
// it and the measurement loop, tick by tick.
TEST_F(Conversation, ReadBackAndLoopWithAGeneratorThatAnswers) {
  Start(false);
  const std::vector<TTickFrames> readBack = {
      {0, "%05u\r"}, {2, "%@05SR\r"}, {3, "%05f\r"}, {4, "%05s\r"}, {5, "%05w\r"},
      {6, "%05m\r"}, {7, "%05p\r"},   {8, "%05d\r"}, {9, "%05r\r"},
  };
  ExpectTicks(0, 10, readBack);

  // Variant 16: the range and the generator's values, each moved bar marked.
  EXPECT_EQ(F->Esr->text(), "SR016");
  EXPECT_TRUE(F->PBacc->isHidden() && F->Eacc->isHidden() && F->Lacc->isHidden());
  EXPECT_EQ(F->TBfreq->minimum(), 11000);
  EXPECT_EQ(F->TBfreq->maximum(), 20000);
  const struct {
    QSlider* Bar;
    TSettingSlot* Slot;
    QLineEdit* Edit;
    int Value;
    bool Changed;
    QString Text;
  } after[] = {
      {F->TBfreq, &F->Slots.TBfreq, F->Efreq, 15500, true, "15500  Hz"},
      {F->TBpower, &F->Slots.TBpower, F->Epower, 50, false, "50 %"},
      {F->TBpwmp, &F->Slots.TBpwmp, F->Epwmp, 100, false, "1000 ms"},
      {F->TBpwmr, &F->Slots.TBpwmr, F->Epwmr, 50, false, "50 %"},
      {F->TBsweep, &F->Slots.TBsweep, F->Esweep, 3, true, "3 "},
      {F->Tds, &F->Slots.Tds, F->Eds, 7, true, "7 "},
      {F->TBtrr, &F->Slots.TBtrr, F->Etrr, 10, true, "10 "},
      {F->TBup, &F->Slots.TBup, F->Eup, 2048, true, "2048 "},
  };
  for (const auto& a : after) {
    SCOPED_TRACE(a.Text.toStdString());
    EXPECT_EQ(a.Bar->value(), a.Value);
    EXPECT_EQ(a.Slot->Value, a.Value);
    EXPECT_EQ(a.Slot->Changed, a.Changed);
    EXPECT_EQ(a.Edit->text(), a.Text);
  }

  const std::vector<TTickFrames> loop = {
      {14, "#05f15500\r#05s00003\r#05d00007\r#05r00010\r#05u02048\r"},
      {15, "%05t\r"}, {18, "%05?\r"}, {21, "%05t\r"}, {24, "%05?\r"},
  };
  ExpectTicks(11, 25, loop);
  EXPECT_EQ(F->PollStep, 14);
  EXPECT_EQ(F->Epoti->text(), "40");
  EXPECT_EQ(TMainForm::BarColour(F->PB), Rgb(0, 128, 64));
  EXPECT_EQ(F->Lerr->text(), "off");
  EXPECT_EQ(F->Sh->BrushColor(), Rgb(255, 0, 0));
  EXPECT_EQ(F->Etracking->text(), "0");
  EXPECT_EQ(F->PBT->value(), 30);
  EXPECT_EQ(Sim->WithModel([](vxsim::TGeneratorModel& m) { return m.Value('r'); }), 10);

  // Start: the action goes out at once; the next status block shows it.
  F->Button4Click();
  EXPECT_TRUE(WaitFor([&] { return ReceivedBytes() == Written.size(); }));
  EXPECT_EQ(Events(vxsim::EEvent::Received).back().Bytes, "@05start\r");
  Seen = Events(vxsim::EEvent::Received).size();
  // Two moves before the send step: only the last goes, once.
  F->TBpower->setValue(60);
  F->TBpower->setValue(70);
  ExpectTicks(26, 31, {{26, "#05p00070\r"}, {27, "%05t\r"}, {30, "%05?\r"}});
  EXPECT_EQ(F->Lerr->text(), "on");
  EXPECT_EQ(F->Sh->BrushColor(), Rgb(0, 128, 0));
  EXPECT_EQ(F->Eov->text(), "490");  // 1000 * 0.7 * (0.4 + 0.6 * 2048 / 4095)
  EXPECT_EQ(TMainForm::BarColour(F->PBov), Rgb(128, 128, 255));

  // Read during the loop: the read-back starts over at the next tick; an
  // operator's move before the power is read is replaced by the generator's
  // value, which goes back at the send step.
  F->Button2Click();
  F->TBpower->setValue(90);
  ExpectTicks(0, 14,
              {{0, "%05u\r"}, {2, "%@05SR\r"}, {3, "%05f\r"}, {4, "%05s\r"}, {5, "%05w\r"}, {6, "%05m\r"},
               {7, "%05p\r"}, {8, "%05d\r"}, {9, "%05r\r"}, {14, "#05p00070\r"}});
}

// With a generator that answers nothing, byte for byte.
TEST_F(Conversation, ReadBackAndLoopWithASilentGenerator) {
  Start(true);
  ExpectTicks(0, 10,
              {{0, "%05u\r"}, {2, "%@05SR\r"}, {3, "%05f\r"}, {4, "%05s\r"}, {5, "%05w\r"}, {6, "%05m\r"},
               {7, "%05p\r"}, {8, "%05d\r"}, {9, "%05r\r"}});
  EXPECT_EQ(F->Esr->text(), "Unknown");
  EXPECT_FALSE(F->Lacc->isHidden());
  EXPECT_EQ(F->TBfreq->value(), 21435);
  EXPECT_EQ(F->Slots.TBfreq.Value, 0);
  EXPECT_FALSE(F->Slots.TBfreq.Changed);
  EXPECT_EQ(F->Efreq->text(), "00000  Hz");
  const struct {
    QSlider* Bar;
    TSettingSlot* Slot;
    int Value;
    bool Changed;
  } after[] = {
      {F->TBpower, &F->Slots.TBpower, 0, true}, {F->TBpwmr, &F->Slots.TBpwmr, 0, true},
      {F->TBsweep, &F->Slots.TBsweep, 0, true}, {F->TBpwmp, &F->Slots.TBpwmp, 1, true},
      {F->Tds, &F->Slots.Tds, 0, false},        {F->TBtrr, &F->Slots.TBtrr, 0, false},
      {F->TBup, &F->Slots.TBup, 0, false},
  };
  for (const auto& a : after) {
    EXPECT_EQ(a.Bar->value(), a.Value);
    EXPECT_EQ(a.Slot->Value, a.Value);
    EXPECT_EQ(a.Slot->Changed, a.Changed);
  }
  ExpectTicks(11, 25,
              {{14, "#05p00000\r#05w00001\r#05m00000\r#05s00000\r"},
               {15, "%05t\r"}, {18, "%05?\r"}, {21, "%05t\r"}, {24, "%05?\r"}});
  EXPECT_EQ(F->Lerr->text(), "no connection");
  EXPECT_EQ(F->Sh->BrushColor(), Rgb(0, 0, 0));
  EXPECT_EQ(F->Epoti->text(), "Epoti");
}

// -- replies made to measure ---------------------------------------------------------------------

namespace {

class Wire : public ::testing::Test {
 protected:
  TPrivateSettings Settings;
  cport::test::TPty Pty;
  std::unique_ptr<TMainForm> F;

  void SetUp() override { Build(); }
  void Build() {
    F.reset();
    F = NewForm(Pty.Path());
    F->CP.Open();
  }
  // Puts bytes on the wire to the panel, once what was waiting is gone.
  void Reply(const std::string& bytes) {
    char junk[256];
    while (F->CP.InputCount() > 0) F->CP.Read(junk, sizeof junk);
    Pty.Drain();
    Pty.Send(bytes);
    ASSERT_TRUE(WaitFor([&] { return F->CP.InputCount() >= static_cast<int32_t>(bytes.size()); }));
  }
  void Step(int step) {
    F->PollStep = static_cast<int8_t>(step);
    F->Timer1Timer();
  }
};

}  // namespace

TEST_F(Wire, EachVariantFromTheDesignRange) {
  const struct {
    std::string Reply;
    QString Version;
    int Min, Max, Position;
    bool Marked, AcHidden;
  } cases[] = {
      {"#02SR016\r", "SR016", 11000, 20000, 20000, true, true},  // below the design range: minimum first
      {"#02SR010\r", "SR010", 21435, 40560, 21435, false, true},
      {"#02SR011\r", "SR011", 17460, 28520, 21435, false, true},
      {"#02SR012\r", "SR012", 24000, 45000, 24000, true, true},
      {"#02SR014\r", "SR014", 27700, 51800, 27700, true, true},
      {"#02SR015\r", "SR015", 30000, 50000, 30000, true, true},
      {"#02SRx16\r", "SRx16", 11000, 20000, 20000, true, true},  // the first character is not tested
      {"#02SR013\r", "SR013", 21435, 40560, 21435, false, false},
      {"#02SR106\r", "SR106", 21435, 40560, 21435, false, false},
      {"#02SR01", "SR01", 21435, 40560, 21435, false, false},
      {"#02XR016\r", "Unknown", 21435, 40560, 21435, false, false},
      {"", "Unknown", 21435, 40560, 21435, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Version.toStdString() + " from " + c.Reply);
    Build();
    if (!c.Reply.empty()) Reply(c.Reply);
    Step(3);
    EXPECT_EQ(F->Esr->text(), c.Version);
    EXPECT_EQ(F->TBfreq->minimum(), c.Min);
    EXPECT_EQ(F->TBfreq->maximum(), c.Max);
    EXPECT_EQ(F->TBfreq->value(), c.Position);
    EXPECT_EQ(F->Slots.TBfreq.Changed, c.Marked);
    if (c.Marked) {
      EXPECT_EQ(F->Slots.TBfreq.Value, c.Position);
      EXPECT_EQ(F->Efreq->text(), QString::number(c.Position) + "  Hz");
    }
    EXPECT_EQ(F->PBacc->isHidden(), c.AcHidden);
    EXPECT_EQ(F->Eacc->isHidden(), c.AcHidden);
    EXPECT_EQ(F->Lacc->isHidden(), c.AcHidden);
  }
}

TEST_F(Wire, AnotherVariantAfterReadGetsExactlyItsRange) {
  Reply("#02SR015\r");
  Step(3);
  ASSERT_EQ(F->TBfreq->minimum(), 30000);
  Reply("#02SR011\r");
  Step(3);
  EXPECT_EQ(F->TBfreq->minimum(), 17460);
  EXPECT_EQ(F->TBfreq->maximum(), 28520);
  EXPECT_EQ(F->TBfreq->value(), 28520);
  Reply("#02SR013\r");  // unknown: the range stays, the AC display stays hidden
  Step(3);
  EXPECT_EQ(F->TBfreq->minimum(), 17460);
  EXPECT_TRUE(F->Lacc->isHidden());
}

TEST_F(Wire, StatusBlocks) {
  const struct {
    std::string Reply;
    QString Caption;
    QColor Lamp;
    QString Phase, Current, Tracking, Ac, Voltage;
    int TrackingBar, CurrentBar;
    QColor VoltageColour;
  } cases[] = {
      {"#02?5006000301007491\r", "on", Rgb(0, 128, 0), "500", "600", "0", "100", "749", 30, 600, Rgb(128, 128, 255)},
      {"#02?5006000301007501\r", "on", Rgb(0, 128, 0), "500", "600", "0", "100", "750", 30, 600, Rgb(255, 0, 0)},
      {"#02?0009990000009992\r", "blocking", Rgb(255, 128, 64), "0", "999", "-30", "0", "999", 0, 700,
       Rgb(255, 0, 0)},
      {"#02?0000000600000003\r", "overvoltage", Rgb(255, 255, 0), "0", "0", "30", "0", "0", 60, 0,
       Rgb(128, 128, 255)},
      {"#02?0000000300000000\r", "off", Rgb(255, 0, 0), "0", "0", "0", "0", "0", 30, 0, Rgb(128, 128, 255)},
      {"#02?000000030000000", "what", Rgb(0, 0, 0), "0", "0", "0", "0", "0", 30, 0, Rgb(128, 128, 255)},
      {"#02?1x0000030000000?", "what", Rgb(0, 0, 0), "1", "0", "0", "0", "0", 30, 0, Rgb(128, 128, 255)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Reply);
    Reply(c.Reply);
    Step(19);
    EXPECT_EQ(F->Lerr->text(), c.Caption);
    EXPECT_EQ(F->Sh->BrushColor(), c.Lamp);
    EXPECT_EQ(F->Ephase->text(), c.Phase);
    EXPECT_EQ(F->Ecurent->text(), c.Current);
    EXPECT_EQ(F->Etracking->text(), c.Tracking);
    EXPECT_EQ(F->Eacc->text(), c.Ac);
    EXPECT_EQ(F->Eov->text(), c.Voltage);
    EXPECT_EQ(F->PBT->value(), c.TrackingBar);
    EXPECT_EQ(F->PBC->value(), c.CurrentBar) << "limited to the bar's range";
    EXPECT_EQ(TMainForm::BarColour(F->PBov), c.VoltageColour);
    EXPECT_EQ(F->PollStep, 14);
  }
}

TEST_F(Wire, AMissingOrGarbledStatusBlockKeepsTheLastMeasurements) {
  Reply("#02?5006000301007491\r");
  Step(19);
  for (const std::string& garbled : {std::string("#02"), std::string("\r#02?5006000301007491"),
                                    std::string("#02t00040\r"), std::string()}) {
    SCOPED_TRACE(garbled);
    Reply(garbled);
    Step(19);
    EXPECT_EQ(F->Lerr->text(), "no connection");
    EXPECT_EQ(F->Sh->BrushColor(), Rgb(0, 0, 0));
    EXPECT_EQ(F->Ephase->text(), "500");
    EXPECT_EQ(F->PBov->value(), 749);
  }
}

TEST_F(Wire, PotentiometerReplies) {
  const struct {
    std::string Reply;
    QString Text;
    int Position;
    QColor Colour;
  } cases[] = {
      {"#02t00079\r", "79", 79, Rgb(0, 128, 64)},
      {"#02t00080\r", "80", 80, Rgb(0, 166, 83)},
      {"#02t00150\r", "150", 100, Rgb(0, 166, 83)},
      {"#02t000", "0", 0, Rgb(0, 128, 64)},
  };
  for (const auto& c : cases) {
    Reply(c.Reply);
    Step(17);
    EXPECT_EQ(F->Epoti->text(), c.Text) << c.Reply;
    EXPECT_EQ(F->PB->value(), c.Position) << c.Reply;
    EXPECT_EQ(TMainForm::BarColour(F->PB), c.Colour) << c.Reply;
  }
  Reply("#02p00050\r");  // not the potentiometer's: nothing changes
  Step(17);
  EXPECT_EQ(F->Epoti->text(), "0");
  EXPECT_EQ(F->PB->value(), 0);
}

TEST_F(Wire, ReadBackValuesOutsideTheBarsRange) {
  Reply("#02f20000\r");
  Step(4);
  EXPECT_EQ(F->Slots.TBfreq.Value, 20000);
  Reply("#02r00000\r");
  Step(10);
  EXPECT_EQ(F->TBfreq->value(), 21435);
  EXPECT_EQ(F->Slots.TBfreq.Value, 20000);
  EXPECT_FALSE(F->Slots.TBfreq.Changed);
  EXPECT_EQ(F->Efreq->text(), "20000  Hz");
}

TEST_F(Wire, StrayBytesBeforeAReplyHideIt) {
  Reply("\r#02p00070\r");
  Step(8);
  EXPECT_EQ(F->Slots.TBpower.Value, 0);
  Reply("#02p00070\r");
  Step(8);
  EXPECT_EQ(F->Slots.TBpower.Value, 70);
  EXPECT_FALSE(F->Slots.TBpower.Changed) << "read-back values are not marked until shown";
}

// The device is still there but takes nothing (held by XOFF): the frame
// runs out of time, which is a failed write like any other.
TEST_F(Wire, AWriteThatTimesOutClosesTheWindowWithoutAMessage) {
  const struct {
    const char* What;
    std::function<void()> Send;
  } cases[] = {
      {"the cycle's query", [&] { Step(15); }},
      {"Start", [&] { F->Button4Click(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    Build();
    cport::TComTimeouts t;
    t.SetWriteTotalM(0);
    t.SetWriteTotalC(100);
    F->CP.SetTimeouts(t);
    F->CP.FlowControl().SetXonXoffOut(true);
    Pty.Send("\x13M");  // once the marker is queued, the XOFF before it has been taken
    ASSERT_TRUE(WaitFor([&] { return F->CP.InputCount() == 1; }));
    TCloseWatch watch(F.get());
    EXPECT_NO_THROW(c.Send());
    EXPECT_EQ(watch.Closes, 1);
    EXPECT_TRUE(F->CP.Connected()) << "not taken for a lost device";
    Pty.Send("\x11");
  }
  EXPECT_TRUE(Settings.Reports().isEmpty());
}

// -- a device that goes away ---------------------------------------------------------------------

// The generator's device vanishes just before the operation of one step of
// the cycle (a read, a query, or at step 14 a pending change), while the
// lamp shows the generator on; later a generator of another variant appears
// under the same name.
class DeviceLost : public Conversation, public ::testing::WithParamInterface<int> {};

TEST_P(DeviceLost, NoConnectionAtOnceReportedOnceThenReconnectedAndReadAnew) {
  const int step = GetParam();
  StartBehindName("016");
  for (int t = 0; t <= 13; ++t) Tick();
  F->Button4Click();
  for (int t = 14; t <= 19; ++t) Tick();
  ASSERT_EQ(F->Lerr->text(), "on");
  if (step < 14) F->Button2Click();
  for (int t = step < 14 ? 0 : 14; t < step; ++t) Tick();
  ASSERT_EQ(F->PollStep, step);
  F->TBpower->setValue(77);
  const QString voltage = F->Eov->text();
  const int phase = F->PBP->value();

  TCloseWatch watch(F.get());
  Sim->HangUp();
  int ticks = 0, reports = 0;
  auto tick = [&] {
    ++ticks;
    try {
      F->Timer1Timer();
    } catch (const cport::EComPort& e) {
      ++reports;
      EXPECT_EQ(e.SystemErrorCode(), EIO) << e.what();
    }
  };
  while (ticks < 6 && F->Lerr->text() != "no connection") tick();
  EXPECT_EQ(F->Lerr->text(), "no connection") << "within one loop";
  EXPECT_EQ(F->Sh->BrushColor(), Rgb(0, 0, 0));
  EXPECT_FALSE(F->CP.Connected()) << "closed, so that the next ticks reopen";
  for (int i = 0; i < 6; ++i) tick();
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(watch.Closes, 0) << "the panel stays open";
  EXPECT_EQ(F->Lerr->text(), "no connection");
  EXPECT_EQ(F->Eov->text(), voltage);
  EXPECT_EQ(F->PBP->value(), phase);
  F->Button5Click();  // with the port closed, as with a busy one
  EXPECT_EQ(watch.Closes, 1);

  Replug("015");
  std::string first;
  for (int t = 0; t <= 3; ++t) first += Tick();
  EXPECT_TRUE(F->CP.Connected());
  EXPECT_EQ(first, "%05u\r%@05SR\r%05f\r") << "the read-back from its start";
  for (int t = 4; t <= 19; ++t) Tick();
  EXPECT_EQ(F->Esr->text(), "SR015");
  EXPECT_EQ(F->TBfreq->minimum(), 30000);
  EXPECT_EQ(F->Lerr->text(), "off");
  EXPECT_EQ(F->Sh->BrushColor(), Rgb(255, 0, 0));
}

INSTANTIATE_TEST_SUITE_P(EveryStep, DeviceLost, ::testing::Range(0, 20),
                         [](const ::testing::TestParamInfo<int>& i) { return "Step" + std::to_string(i.param); });

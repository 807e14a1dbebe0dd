// SPDX-License-Identifier: MIT
// The main window as built, the operator's controls and the stored port
// settings at start, with a recording driver under the port.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "AppTest.h"
#include "Main.h"
#include "RecordingDriver.h"

using namespace vxpanel;
using cport::test::TRecordingDriver;
using vxpanel::test::TCloseWatch;
using vxpanel::test::TPrivateSettings;

namespace {

class Form : public ::testing::Test {
 protected:
  TPrivateSettings Settings;
  TRecordingDriver Driver;
  std::unique_ptr<TMainForm> F;

  // The window as the program builds it; the timer is stopped so that the
  // test decides when the cycle ticks.
  void Build() {
    F = std::make_unique<TMainForm>(&Driver);
    F->Timer1->stop();
  }
  void SetUp() override { Build(); }
  void TearDown() override { F.reset(); }

  std::vector<std::pair<QSlider*, TSettingSlot*>> Bars() {
    return {{F->TBfreq, &F->Slots.TBfreq}, {F->TBpower, &F->Slots.TBpower}, {F->TBpwmp, &F->Slots.TBpwmp},
            {F->TBpwmr, &F->Slots.TBpwmr}, {F->TBsweep, &F->Slots.TBsweep}, {F->Tds, &F->Slots.Tds},
            {F->TBtrr, &F->Slots.TBtrr},   {F->TBup, &F->Slots.TBup}};
  }
  bool AnyChanged() {
    for (auto [bar, slot] : Bars())
      if (slot->Changed) return true;
    return false;
  }
  void ClearSlots() {
    for (auto [bar, slot] : Bars()) *slot = {};
  }
};

QString Text(QWidget* w) {
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
  return {};
}

QColor Rgb(int r, int g, int b) { return QColor(r, g, b); }

}  // namespace

// -- the window as it opens -----------------------------------------------------------------

TEST_F(Form, WindowIsFixedWithACloseBoxOnly) {
  EXPECT_EQ(F->windowTitle(), "VX generator control panel");
  EXPECT_EQ(F->minimumSize(), QSize(493, 507));
  EXPECT_EQ(F->maximumSize(), QSize(493, 507));
  const Qt::WindowFlags flags = F->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(F->pos(), QPoint(186, 115));
  EXPECT_EQ(QApplication::font().pixelSize(), 11);
  EXPECT_EQ(QApplication::font().family(), "MS Sans Serif");
}

TEST_F(Form, PagesInOrderFirstActive) {
  ASSERT_EQ(F->PageControl1->count(), 3);
  EXPECT_EQ(F->PageControl1->tabText(0), "Control");
  EXPECT_EQ(F->PageControl1->tabText(1), "Sweeping");
  EXPECT_EQ(F->PageControl1->tabText(2), "Connectors");
  EXPECT_EQ(F->PageControl1->currentIndex(), 0);
  EXPECT_EQ(F->PageControl1->geometry(), QRect(8, 8, 297, 441));
  EXPECT_EQ(F->Image3->parentWidget(), F->TabSheet1);
  EXPECT_EQ(F->TBsweep->parentWidget(), F->Sweeping);
  EXPECT_EQ(F->Lcpb->parentWidget(), F->Control);
}

TEST_F(Form, TrackBarsRangesPositionsAndPlaces) {
  const struct {
    QSlider* Bar;
    QWidget* Page;
    int Top, Min, Max, Position;
    QLineEdit* Edit;
  } bars[] = {
      {F->TBfreq, F->Control, 32, 21435, 40560, 21435, F->Efreq},
      {F->TBup, F->Control, 96, 0, 4095, 0, F->Eup},
      {F->TBpower, F->Control, 160, 0, 100, 50, F->Epower},
      {F->TBsweep, F->Sweeping, 32, 0, 255, 7, F->Esweep},
      {F->Tds, F->Sweeping, 96, 0, 255, 0, F->Eds},
      {F->TBtrr, F->Sweeping, 160, 0, 30, 0, F->Etrr},
      {F->TBpwmp, F->Sweeping, 296, 1, 100, 100, F->Epwmp},
      {F->TBpwmr, F->Sweeping, 360, 0, 100, 50, F->Epwmr},
  };
  for (const auto& b : bars) {
    SCOPED_TRACE(b.Edit->objectName().toStdString());
    EXPECT_EQ(b.Bar->parentWidget(), b.Page);
    EXPECT_EQ(b.Bar->geometry(), QRect(8, b.Top, 150, 33));
    EXPECT_EQ(b.Bar->minimum(), b.Min);
    EXPECT_EQ(b.Bar->maximum(), b.Max);
    EXPECT_EQ(b.Bar->value(), b.Position);
    EXPECT_EQ(b.Bar->singleStep(), 1);
    EXPECT_EQ(b.Bar->pageStep(), 2);
    EXPECT_EQ(b.Edit->geometry(), QRect(160, b.Top, 113, 21));
    EXPECT_EQ(b.Edit->text(), "waiting.......");
  }
  EXPECT_FALSE(AnyChanged()) << "the layout's positions reach no slot";
  for (auto [bar, slot] : Bars()) EXPECT_EQ(slot->Value, 0);
}

TEST_F(Form, MeasurementsStatusAndButtons) {
  const struct {
    QWidget* W;
    QRect Geometry;
    QString Text;
  } controls[] = {
      {F->PBP, {320, 24, 150, 17}, {}},       {F->Ephase, {320, 48, 65, 21}, "Ephase"},
      {F->PBC, {320, 88, 150, 17}, {}},       {F->Ecurent, {320, 112, 65, 21}, "Ecurent"},
      {F->PBT, {320, 152, 150, 17}, {}},      {F->Etracking, {320, 176, 65, 21}, "Etracking"},
      {F->PB, {320, 216, 150, 17}, {}},       {F->Epoti, {320, 240, 65, 21}, "Epoti"},
      {F->PBov, {320, 280, 150, 17}, {}},     {F->Eov, {320, 304, 65, 21}, "Eov"},
      {F->PBacc, {320, 344, 150, 17}, {}},    {F->Eacc, {320, 368, 65, 21}, "Eacc"},
      {F->Sh, {320, 416, 73, 17}, {}},        {F->Esr, {200, 368, 65, 21}, "Esr"},
      {F->Button6, {408, 376, 75, 25}, "Configure"}, {F->Button3, {408, 408, 75, 25}, "Write"},
      {F->Button4, {320, 440, 75, 25}, "Start"},     {F->Button2, {408, 440, 75, 25}, "Read"},
      {F->Button5, {320, 472, 75, 25}, "Stop"},      {F->Button1, {408, 472, 75, 25}, "Exit"},
      {F->Image1, {32, 456, 257, 49}, {}},   {F->Image2, {8, 240, 97, 121}, {}},
      {F->Image3, {16, 8, 257, 401}, {}},
  };
  for (const auto& c : controls) {
    SCOPED_TRACE(c.W->objectName().toStdString());
    EXPECT_EQ(c.W->geometry(), c.Geometry);
    if (!c.Text.isEmpty()) {
      EXPECT_EQ(Text(c.W), c.Text);
    }
  }
  const struct {
    QLabel* L;
    QPoint At;
    QString Text;
  } labels[] = {
      {F->Label20, {320, 8}, "Phase"},   {F->Label16, {320, 72}, "Curent"},
      {F->Label21, {320, 136}, "Tracking"}, {F->Label15, {320, 200}, "Poti"},
      {F->Label26, {320, 264}, "Output voltage"}, {F->Lacc, {320, 328}, "AC current"},
      {F->Lerr, {318, 400}, "what"},     {F->Lcpb, {19, 376}, "COM port busy"},
      {F->Label25, {206, 352}, "Version"},
  };
  for (const auto& l : labels) {
    EXPECT_EQ(l.L->pos(), l.At) << l.Text.toStdString();
    EXPECT_EQ(l.L->text(), l.Text);
  }
  const std::pair<QProgressBar*, int> maxima[] = {{F->PBP, 1000}, {F->PBC, 700}, {F->PBT, 60},
                                                   {F->PB, 100},   {F->PBov, 1000}, {F->PBacc, 1000}};
  for (auto [bar, max] : maxima) {
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), max);
  }
  EXPECT_FALSE(F->Lcpb->isHidden());
  for (QLabel* image : {F->Image1, F->Image2, F->Image3})
    EXPECT_EQ(image->pixmap().size(), image->size()) << image->objectName().toStdString();
}

TEST_F(Form, ColoursAtStart) {
  EXPECT_EQ(TMainForm::BarColour(F->PB), Rgb(255, 0, 0));
  EXPECT_EQ(TMainForm::BarColour(F->PBP), Rgb(255, 128, 128));
  EXPECT_EQ(TMainForm::BarColour(F->PBacc), Rgb(0, 128, 0));
  EXPECT_EQ(TMainForm::BarColour(F->PBT), Rgb(0, 0, 0));
  const QColor system = F->palette().color(QPalette::Highlight);
  EXPECT_EQ(TMainForm::BarColour(F->PBC), system);
  EXPECT_EQ(TMainForm::BarColour(F->PBov), system);
  EXPECT_EQ(F->Sh->BrushColor(), Rgb(128, 0, 128));
  EXPECT_EQ(F->Sh->PenColor(), Rgb(128, 128, 128));
  EXPECT_EQ(F->Sh->PenWidth(), 3);
  EXPECT_EQ(F->PollStep, 0);
}

TEST_F(Form, TypingIntoAnEditChangesNothingElse) {
  QTest::keyClicks(F->Efreq, "123");
  QTest::keyClicks(F->Epoti, "9");
  EXPECT_FALSE(AnyChanged());
  EXPECT_EQ(F->TBfreq->value(), 21435);
  EXPECT_EQ(Driver.Count("StartWrite"), 0);
}

// -- track bars ------------------------------------------------------------------------------

TEST_F(Form, HandlersStorePositionMarkAndShow) {
  const struct {
    QSlider* Bar;
    TSettingSlot* Slot;
    QLineEdit* Edit;
    int Position;
    QString Text;
  } cases[] = {
      {F->TBpwmp, &F->Slots.TBpwmp, F->Epwmp, 1, "10 ms"},
      {F->TBpwmp, &F->Slots.TBpwmp, F->Epwmp, 99, "990 ms"},
      {F->TBpower, &F->Slots.TBpower, F->Epower, 0, "0 %"},
      {F->TBpower, &F->Slots.TBpower, F->Epower, 100, "100 %"},
      {F->TBpwmr, &F->Slots.TBpwmr, F->Epwmr, 99, "99 %"},
      {F->TBup, &F->Slots.TBup, F->Eup, 4095, "4095 "},
      {F->TBsweep, &F->Slots.TBsweep, F->Esweep, 255, "255 "},
      {F->Tds, &F->Slots.Tds, F->Eds, 3, "3 "},
      {F->TBtrr, &F->Slots.TBtrr, F->Etrr, 30, "30 "},
      {F->TBfreq, &F->Slots.TBfreq, F->Efreq, 40560, "40560  Hz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text.toStdString());
    ClearSlots();
    c.Bar->setValue(c.Position);
    EXPECT_EQ(c.Slot->Value, c.Position);
    EXPECT_TRUE(c.Slot->Changed);
    EXPECT_EQ(c.Edit->text(), c.Text);
  }
}

TEST_F(Form, AProgrammaticChangeRunsTheHandlerOnlyWhenTheLimitedPositionDiffers) {
  F->TBfreq->setValue(20000);  // below the minimum: limited to 21435, where it is
  EXPECT_FALSE(F->Slots.TBfreq.Changed);
  EXPECT_EQ(F->Efreq->text(), "waiting.......");
  F->TBpower->setValue(50);
  EXPECT_FALSE(F->Slots.TBpower.Changed);
  F->TBpower->setValue(500);  // limited to 100
  EXPECT_EQ(F->Slots.TBpower.Value, 100);
  EXPECT_TRUE(F->Slots.TBpower.Changed);
}

TEST_F(Form, EveryOperatorActionRunsTheHandlerAlsoWithoutMoving) {
  QSignalSpy actions(F->TBpower, &QAbstractSlider::actionTriggered);
  const struct {
    Qt::Key Key;
    int Position;
  } keys[] = {{Qt::Key_Right, 51}, {Qt::Key_PageUp, 53}, {Qt::Key_End, 100}, {Qt::Key_Right, 100},
              {Qt::Key_Home, 0},   {Qt::Key_Left, 0},    {Qt::Key_PageDown, 0}};
  for (const auto& k : keys) {
    F->Slots.TBpower = {};
    QTest::keyClick(F->TBpower, k.Key);
    EXPECT_EQ(F->TBpower->value(), k.Position) << k.Key;
    EXPECT_TRUE(F->Slots.TBpower.Changed) << k.Key;
    EXPECT_EQ(F->Slots.TBpower.Value, k.Position) << k.Key;
    EXPECT_EQ(F->Epower->text(), QString::number(k.Position) + " %");
  }
  EXPECT_EQ(actions.count(), 7);
}

TEST_F(Form, ClickBesideTheThumbAndTheEndOfADragRunTheHandler) {
  F->show();
  QSlider* bar = F->TBpower;
  auto rect = [bar](QStyle::SubControl part) {
    QStyleOptionSlider opt;
    opt.initFrom(bar);
    opt.orientation = bar->orientation();
    opt.minimum = bar->minimum();
    opt.maximum = bar->maximum();
    opt.sliderPosition = opt.sliderValue = bar->sliderPosition();
    opt.singleStep = bar->singleStep();
    opt.pageStep = bar->pageStep();
    opt.tickPosition = bar->tickPosition();
    opt.tickInterval = bar->tickInterval();
    opt.subControls = QStyle::SC_All;
    return bar->style()->subControlRect(QStyle::CC_Slider, &opt, part, bar);
  };
  const QRect handle = rect(QStyle::SC_SliderHandle);
  const QRect groove = rect(QStyle::SC_SliderGroove);
  QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(groove.right() - 2, handle.center().y()));
  EXPECT_EQ(bar->value(), 52) << "a page step";
  EXPECT_EQ(F->Slots.TBpower.Value, 52);

  // Press on the thumb and let go without moving: only the end of the drag.
  F->Slots.TBpower = {};
  QSignalSpy released(bar, &QAbstractSlider::sliderReleased);
  const QPoint thumb = rect(QStyle::SC_SliderHandle).center();
  QTest::mousePress(bar, Qt::LeftButton, {}, thumb);
  QTest::mouseRelease(bar, Qt::LeftButton, {}, thumb);
  EXPECT_EQ(released.count(), 1);
  EXPECT_TRUE(F->Slots.TBpower.Changed);
  EXPECT_EQ(F->Slots.TBpower.Value, 52);
}

// -- buttons ------------------------------------------------------------------------------------

TEST_F(Form, WriteStartStopSendTheirFramesAtOnce) {
  F->CP.Open();
  const std::pair<QPushButton*, std::string> buttons[] = {
      {F->Button3, "@05wr\r"}, {F->Button4, "@05start\r"}, {F->Button5, "@05stop\r"}};
  std::string sent;
  for (const auto& [button, frame] : buttons) {
    QTest::mouseClick(button, Qt::LeftButton);
    sent += frame;
    EXPECT_EQ(Driver.Transmitted(), sent);
  }
  EXPECT_FALSE(AnyChanged());
}

TEST_F(Form, WriteStartOrStopOnAPortNeverOpenedClosesTheWindow) {
  for (QPushButton* TMainForm::*button : {&TMainForm::Button3, &TMainForm::Button4, &TMainForm::Button5}) {
    Build();
    TCloseWatch watch(F.get());
    QTest::mouseClick(F.get()->*button, Qt::LeftButton);
    EXPECT_EQ(watch.Closes, 1) << (F.get()->*button)->text().toStdString();
    EXPECT_EQ(Driver.Transmitted(), "");
  }
  EXPECT_TRUE(Settings.Reports().isEmpty()) << "closing shows no message";
}

TEST_F(Form, AFailedWriteOnAnOpenPortClosesTheWindow) {
  F->CP.Open();
  Driver.FailAlways("StartWrite", EIO);
  TCloseWatch watch(F.get());
  F->SendCommand("@05wr\r");
  EXPECT_EQ(watch.Closes, 1);
}

TEST_F(Form, ExitAndTheCloseBoxCloseAlike) {
  TCloseWatch watch(F.get());
  QTest::mouseClick(F->Button1, Qt::LeftButton);
  EXPECT_EQ(watch.Closes, 1);
  Build();
  F->show();
  TCloseWatch box(F.get());
  QCloseEvent e;
  QApplication::sendEvent(F.get(), &e);  // what the close box delivers
  EXPECT_EQ(box.Closes, 1);
  EXPECT_TRUE(e.isAccepted()) << "no close query intervenes";
}

TEST_F(Form, ReadRestartsTheReadBackAndShowsWaiting) {
  F->TBpower->setValue(60);
  F->PollStep = 17;
  QTest::mouseClick(F->Button2, Qt::LeftButton);
  EXPECT_EQ(F->PollStep, 0);
  for (QLineEdit* e : {F->Efreq, F->Epower, F->Esweep, F->Epwmr, F->Epwmp, F->Eds, F->Etrr, F->Eup})
    EXPECT_EQ(e->text(), "waiting.......");
  EXPECT_TRUE(F->Slots.TBpower.Changed) << "a pending change still goes out";
  EXPECT_EQ(Driver.Transmitted(), "");
}

// -- the cycle on a port that cannot be opened or read -------------------------------------------

TEST_F(Form, APortThatCannotBeOpenedEndsEachTickSilently) {
  Driver.FailAlways("Open", ENOENT);
  for (int i = 0; i < 3; ++i) EXPECT_NO_THROW(F->Timer1Timer());
  EXPECT_EQ(F->PollStep, 0);
  EXPECT_FALSE(F->Lcpb->isHidden());
  EXPECT_EQ(Driver.Count("Open"), 3);
  Driver.Heal("Open");
  F->Timer1Timer();  // opens and does step 0 in the same tick
  EXPECT_EQ(F->PollStep, 1);
  EXPECT_EQ(Driver.Transmitted(), "%05u\r");
  EXPECT_FALSE(F->Lcpb->isHidden()) << "hidden by the first tick that finds the port open";
  F->Timer1Timer();
  EXPECT_TRUE(F->Lcpb->isHidden());
}

TEST_F(Form, AReadFailureIsReportedOnceUntilAReadSucceeds) {
  F->Timer1Timer();
  ASSERT_EQ(F->PollStep, 1);
  F->PollStep = 11;  // a drain read
  Driver.FailAlways("StartRead", EPROTO);
  EXPECT_THROW(F->Timer1Timer(), cport::EComPort);
  EXPECT_EQ(F->PollStep, 11);
  EXPECT_NO_THROW(F->Timer1Timer());
  EXPECT_NO_THROW(F->Timer1Timer());
  EXPECT_EQ(F->PollStep, 11) << "the tick ends at the failing read";
  EXPECT_TRUE(F->CP.Connected()) << "a failure that is not a lost device keeps the port";
  Driver.Heal("StartRead");
  F->Timer1Timer();
  EXPECT_EQ(F->PollStep, 12);
  Driver.FailAlways("StartRead", EPROTO);
  EXPECT_THROW(F->Timer1Timer(), cport::EComPort) << "reported again after a good read";
}

TEST_F(Form, AReadFailureThatEscapesTheTimerIsShownByTheApplication) {
  F->Timer1Timer();
  F->PollStep = 11;
  Driver.FailAlways("StartRead", EPROTO);
  F->Timer1->start(1);
  ASSERT_TRUE(test::WaitFor([&] { return !Settings.Reports().isEmpty(); }));
  EXPECT_TRUE(Settings.Reports().front().startsWith("ReadFile function failed")) << Settings.Reports().front().toStdString();
  // Many more ticks fail meanwhile, quietly.
  const int opens = Driver.Count("StartRead");
  ASSERT_TRUE(test::WaitFor([&] { return Driver.Count("StartRead") > opens + 5; }));
  F->Timer1->stop();
  QCoreApplication::processEvents();
  EXPECT_EQ(Settings.Reports().size(), 1);
}

// -- stored port settings at start ------------------------------------------------------------------

TEST_F(Form, FirstStartStoresTheDesignSettings) {
  // SetUp built the window without a key.
  const std::map<std::string, std::string> expected = {
      {"Port", "COM1"}, {"DataBits", "3"}, {"Parity", "0"}, {"FlowControl", "2"}, {"BaudRate", "7"}};
  EXPECT_EQ(Settings.Values(), expected);
  EXPECT_EQ(F->CP.Port(), "COM1");
  EXPECT_EQ(F->CP.BaudRate(), cport::br9600);
  EXPECT_TRUE(Settings.Reports().isEmpty());
}

TEST_F(Form, StoredPortAndBaudRateAreUsedAtTheFirstOpen) {
  Settings.Write({"Port=COM3", "DataBits=2", "Parity=2", "FlowControl=0", "BaudRate=13"});
  Build();
  EXPECT_TRUE(Settings.Reports().isEmpty());
  EXPECT_EQ(Driver.Count("Open"), 0) << "the port opens at the first tick, not before";
  F->Timer1Timer();
  EXPECT_EQ(Driver.Last("Open").Port, "COM3");
  const cport::TDCB dcb = Driver.Last("SetCommState").Dcb;
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, 2);
  EXPECT_EQ(F->CP.FlowControl().GetFlowControl(), cport::fcHardware);
}

TEST_F(Form, AKeyWithPortAndDataBitsOnly) {
  Settings.Write({"Port=COM3", "DataBits=2"});
  Build();
  ASSERT_EQ(Settings.Reports().size(), 1);
  EXPECT_EQ(Settings.Reports().front(), "Failed to get data for 'Parity'");
  EXPECT_EQ(F->CP.Port(), "COM3");
  EXPECT_EQ(F->CP.DataBits(), cport::dbSeven);
  EXPECT_EQ(F->CP.Parity().Bits(), cport::prNone);
  EXPECT_EQ(F->CP.FlowControl().GetFlowControl(), cport::fcNone);
  EXPECT_EQ(F->CP.BaudRate(), cport::br9600);
  EXPECT_EQ(Settings.Values().size(), 2u) << "the key is not repaired";
  EXPECT_EQ(F->Efreq->text(), "waiting.......") << "the window works all the same";
}

TEST_F(Form, BadStoredValuesNeverReachThePort) {
  const struct {
    QString DataBits;
    QString Report;
  } cases[] = {
      {"9", "Failed to get data for 'DataBits'"},
      {"-1", "Failed to get data for 'DataBits'"},
      {"abc", "Invalid data type for 'DataBits'"},
      {"3.0", "Invalid data type for 'DataBits'"},
  };
  for (const auto& c : cases) {
    Settings.Write({"Port=COM2", "DataBits=" + c.DataBits, "Parity=1", "FlowControl=1", "BaudRate=9"});
    const qsizetype before = Settings.Reports().size();
    Build();
    ASSERT_EQ(Settings.Reports().size(), before + 1) << c.DataBits.toStdString();
    EXPECT_EQ(Settings.Reports().back(), c.Report);
    EXPECT_EQ(F->CP.Port(), "COM2");
    EXPECT_EQ(F->CP.DataBits(), cport::dbEight);
    EXPECT_EQ(F->CP.Parity().Bits(), cport::prNone);
  }
}

TEST_F(Form, StoredFlowControlAndBaudRateOrdinals) {
  Settings.Write({"Port=COM1", "DataBits=3", "Parity=0", "FlowControl=3", "BaudRate=0"});
  Build();
  EXPECT_TRUE(Settings.Reports().isEmpty());
  EXPECT_EQ(F->CP.FlowControl().GetFlowControl(), cport::fcNone) << "custom keeps the design settings";
  F->Timer1Timer();
  EXPECT_EQ(Driver.Last("SetCommState").Dcb.BaudRate, 9600u) << "custom rate";
}

TEST_F(Form, AKeyThatCannotBeCreatedAtFirstStart) {
  F.reset();
  Settings.Block();
  Build();
  ASSERT_EQ(Settings.Reports().size(), 1);
  EXPECT_EQ(Settings.Reports().front(), "Failed to set data for 'Port'");
  EXPECT_EQ(F->CP.Port(), "COM1");
}

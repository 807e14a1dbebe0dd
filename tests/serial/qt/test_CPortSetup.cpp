// SPDX-License-Identifier: MIT
// The setup dialog and its selectors, headless: the modal dialog is driven
// from a handler that runs once it shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "CPortSetup.h"
#include "Modal.h"
#include "RecordingDriver.h"

using namespace cport;
using cport::test::TRecordingDriver;
using cport::test::WhenShown;

namespace {

// What the operator does: picks the entry with this text.
void Pick(cport::TComComboBox* box, const QString& text) {
  ASSERT_TRUE(cport::test::PickEntry(box, text)) << text.toStdString();
}

std::vector<std::string> Shown(TComSetupFrm& f) {
  std::vector<std::string> texts;
  for (int i = 0; i < 6; ++i) texts.push_back(f.Selector(i)->Text().toStdString());
  return texts;
}

class SetupDialog : public ::testing::Test {
 protected:
  TRecordingDriver D;
  TComPort P{nullptr, &D};
  void SetUp() override {
    D.SetPorts({"COM2", "COM1"});
    P.SetEvents({});
  }
};

TEST_F(SetupDialog, OpensWithThePortsSettingsSelected) {
  std::vector<std::string> shown;
  WhenShown<TComSetupFrm>([&](TComSetupFrm& f) {
    shown = Shown(f);
    f.reject();
  });
  EditComPort(P);
  EXPECT_EQ(shown, (std::vector<std::string>{"COM1", "9600", "8", "1", "None", "None"}));
}

TEST_F(SetupDialog, TheListsHoldTheSettingTexts) {
  std::vector<int> counts;
  QStringList ports;
  WhenShown<TComSetupFrm>([&](TComSetupFrm& f) {
    for (int i = 0; i < 6; ++i) counts.push_back(f.Selector(i)->count());
    for (int i = 0; i < f.Combo1->count(); ++i) ports << f.Combo1->itemText(i);
    f.reject();
  });
  EditComPort(P);
  EXPECT_EQ(counts, (std::vector<int>{2, 16, 4, 3, 5, 4}));
  EXPECT_EQ(ports, (QStringList{"COM1", "COM2"}));  // sorted
}

TEST_F(SetupDialog, AFlowMixOfNoPatternShowsCustomAndOkKeepsIt) {
  P.FlowControl().SetControlRTS(rtsEnable);
  P.FlowControl().SetXonXoffIn(true);
  QString shown;
  WhenShown<TComSetupFrm>([&](TComSetupFrm& f) {
    shown = f.Combo6->Text();
    f.Button1->click();
  });
  EditComPort(P);
  EXPECT_EQ(shown, "Custom");
  EXPECT_EQ(P.FlowControl().ControlRTS(), rtsEnable);
  EXPECT_TRUE(P.FlowControl().XonXoffIn());
  EXPECT_FALSE(P.FlowControl().XonXoffOut());
}

TEST_F(SetupDialog, CancelOrClosingChangesNothing) {
  P.Open();
  for (bool close : {false, true}) {
    D.ClearCalls();
    WhenShown<TComSetupFrm>([&](TComSetupFrm& f) {
      Pick(f.Combo1, "COM2");
      Pick(f.Combo2, "115200");
      Pick(f.Combo3, "7");
      Pick(f.Combo4, "2");
      Pick(f.Combo5, "Even");
      Pick(f.Combo6, "Hardware");
      if (close)
        f.close();
      else
        f.Button2->click();
    });
    EditComPort(P);
    EXPECT_EQ(P.Port(), "COM1");
    EXPECT_EQ(P.BaudRate(), br9600);
    EXPECT_EQ(P.DataBits(), dbEight);
    EXPECT_EQ(P.StopBits(), sbOneStopBit);
    EXPECT_EQ(P.Parity().Bits(), prNone);
    EXPECT_EQ(P.FlowControl().GetFlowControl(), fcNone);
    EXPECT_EQ(D.Ops(), std::vector<std::string>{"EnumPortInfo"});
  }
}

TEST_F(SetupDialog, OkWithoutChangesAppliesTheLineOnceAndDoesNotReopen) {
  P.Open();
  D.ClearCalls();
  WhenShown<TComSetupFrm>([](TComSetupFrm& f) { f.Button1->click(); });
  EditComPort(P);
  EXPECT_EQ(D.Ops(), (std::vector<std::string>{"EnumPortInfo", "SetupComm", "SetCommState", "SetCommTimeouts"}));
}

TEST_F(SetupDialog, OkAppliesEveryChoiceInOneBatch) {
  P.Open();
  D.ClearCalls();
  WhenShown<TComSetupFrm>([&](TComSetupFrm& f) {
    Pick(f.Combo2, "19200");
    Pick(f.Combo3, "7");
    Pick(f.Combo4, "2");
    Pick(f.Combo5, "Odd");
    Pick(f.Combo6, "Software");
    f.Button1->click();
  });
  EditComPort(P);
  EXPECT_EQ(D.Count("SetCommState"), 1);
  const TDCB dcb = D.Last("SetCommState").Dcb;
  EXPECT_EQ(dcb.BaudRate, 19200u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.StopBits, 2);
  EXPECT_EQ(dcb.Parity, 1);
  EXPECT_EQ(dcb.Flags, 0x1u | 0x100u | 0x200u);
}

TEST_F(SetupDialog, ANewPortNameReopensAtOnce) {
  P.Open();
  D.ClearCalls();
  WhenShown<TComSetupFrm>([&](TComSetupFrm& f) {
    Pick(f.Combo1, "COM2");
    f.Button1->click();
  });
  EditComPort(P);
  EXPECT_EQ(P.Port(), "COM2");
  EXPECT_TRUE(P.Connected());
  EXPECT_EQ(D.Count("Close"), 1);
  EXPECT_EQ(D.Last("Open").Port, "COM2");
}

TEST_F(SetupDialog, ThePortListIsReadAtEachOpening) {
  D.SetPorts({"COM1"});
  int first = 0, second = 0;
  WhenShown<TComSetupFrm>([&](TComSetupFrm& f) {
    first = f.Combo1->count();
    f.reject();
  });
  EditComPort(P);
  D.SetPorts({"COM1", "COM7"});  // an adapter plugged in meanwhile
  WhenShown<TComSetupFrm>([&](TComSetupFrm& f) {
    second = f.Combo1->count();
    f.reject();
  });
  EditComPort(P);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  EXPECT_EQ(D.Count("EnumPortInfo"), 2);
}

TEST_F(SetupDialog, AnUnlistedPortShowsNoSelectionAndOkKeepsItsName) {
  P.SetPort("/dev/serial/by-id/usb-Adapter-if00");
  P.Open();
  D.ClearCalls();
  int index = 0;
  WhenShown<TComSetupFrm>([&](TComSetupFrm& f) {
    index = f.Combo1->currentIndex();
    f.Button1->click();
  });
  EditComPort(P);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(P.Port(), "/dev/serial/by-id/usb-Adapter-if00");
  EXPECT_EQ(D.Count("Open"), 0);  // not reopened under an empty name
}

TEST_F(SetupDialog, AFailureWhileApplyingReachesTheCallerAndEndsTheBatch) {
  P.Open();
  D.FailNext("Open", 16);
  WhenShown<TComSetupFrm>([&](TComSetupFrm& f) {
    Pick(f.Combo1, "COM2");
    Pick(f.Combo2, "57600");
    f.Button1->click();
  });
  try {
    EditComPort(P);
    FAIL() << "the failed reopen was not reported";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 1);
    EXPECT_EQ(e.SystemErrorCode(), 16);
  }
  EXPECT_EQ(P.UpdateDepth(), 0);
  EXPECT_FALSE(P.Connected());
  EXPECT_EQ(P.BaudRate(), br9600);  // the rate comes after the port and was never written
}

TEST_F(SetupDialog, AnUnreadablePortListStopsTheDialogBeforeItShows) {
  D.SetPorts({}, 13);
  // A dialog that shows anyway is closed, so the test fails instead of
  // waiting for an operator.
  bool shown = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (auto* f = qobject_cast<TComSetupFrm*>(QApplication::activeModalWidget())) {
      shown = true;
      f->reject();
    }
  });
  watch.start(5);
  try {
    EditComPort(P);
    FAIL() << "no failure";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 23);
    EXPECT_EQ(e.SystemErrorCode(), 13);
  }
  EXPECT_FALSE(shown);
}

TEST_F(SetupDialog, EachPortShowsItsDescriptionAsTooltip) {
  std::vector<TComPortInfo> ports(2);
  ports[0].Name = "COM2";
  ports[0].Description = "USB serial converter (Acme)";
  ports[1].Name = "COM1";
  D.SetPortInfo(ports);
  TComSetupFrm f(nullptr, &D);
  EXPECT_EQ(f.Combo1->itemText(1), "COM2");
  EXPECT_EQ(f.Combo1->itemData(1, Qt::ToolTipRole).toString(), "USB serial converter (Acme)");
  EXPECT_FALSE(f.Combo1->itemData(0, Qt::ToolTipRole).isValid());  // COM1 has none
}

// The texts are the catalog's keys; whether they fit is measured in every
// language by the catalog tests.
TEST_F(SetupDialog, TheFormsTextsAndTabOrder) {
  TComSetupFrm f(nullptr, &D);
  EXPECT_EQ(f.windowTitle(), "Setup");
  EXPECT_EQ(f.GroupBox1->title(), " Settings ");
  const char* labels[] = {"Port", "Baud rate", "Data bits", "Stop bits", "Parity", "Flow control"};
  QLabel* const boxes[] = {f.Label1, f.Label2, f.Label3, f.Label4, f.Label5, f.Label6};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(boxes[i]->text(), labels[i]);
    EXPECT_EQ(f.Selector(i)->parentWidget(), f.GroupBox1);
  }
  EXPECT_EQ(f.Button1->text(), "OK");
  EXPECT_TRUE(f.Button1->isDefault());
  EXPECT_EQ(f.Button2->text(), "Cancel");
  // Tab order: the six selectors, then OK, then Cancel.
  QWidget* const order[] = {f.Combo1, f.Combo2, f.Combo3, f.Combo4, f.Combo5, f.Combo6, f.Button1, f.Button2};
  for (int i = 0; i + 1 < 8; ++i) {
    QWidget* next = order[i]->nextInFocusChain();
    while (next && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    EXPECT_EQ(next, order[i + 1]) << i;
  }
}

// -- the selector on its own, in both its forms -----------------------------------

// Each form with what the operator does in it (picks the entry with this
// text by real input events), what it shows and its own change signals.
struct ComboForm {
  using Control = TComComboBox;
  static constexpr const char* Name = "ComboBox";
  static bool Pick(TComComboBox& c, const QString& text) { return cport::test::PickEntry(&c, text); }
  static QString ToolTip(TComComboBox& c, int i) { return c.itemData(i, Qt::ToolTipRole).toString(); }
  static QString Shown(TComComboBox& c) { return c.currentText(); }
  static void OnOwnSignals(TComComboBox& c, const std::function<void()>& f) {
    QObject::connect(&c, &QComboBox::currentIndexChanged, f);
    QObject::connect(&c, &QComboBox::currentTextChanged, f);
  }
};

struct RadioForm {
  using Control = TComRadioGroup;
  static constexpr const char* Name = "RadioGroup";
  static bool Pick(TComRadioGroup& g, const QString& text) {
    for (int i = 0; i < g.ItemCount(); ++i)
      if (g.ItemText(i) == text) {
        g.show();
        QTest::mouseClick(g.Button(i), Qt::LeftButton);
        return g.ItemIndex() == i && g.Button(i)->isChecked();
      }
    return false;
  }
  static QString ToolTip(TComRadioGroup& g, int i) { return g.Button(i)->toolTip(); }
  static QString Shown(TComRadioGroup& g) {
    for (int i = 0; i < g.ItemCount(); ++i)
      if (g.Button(i)->isChecked()) return g.Button(i)->text();
    return {};
  }
  static void OnOwnSignals(TComRadioGroup& g, const std::function<void()>& f) {
    QObject::connect(&g, &TComRadioGroup::ItemIndexChanged, f);
    QObject::connect(&g, &TComRadioGroup::Activated, f);
  }
};

struct FormName {
  template <class Form> static std::string GetName(int) { return Form::Name; }
};

template <class Form>
class Selector : public SetupDialog {
 protected:
  typename Form::Control box;
};
using Forms = ::testing::Types<ComboForm, RadioForm>;
TYPED_TEST_SUITE(Selector, Forms, FormName);

TYPED_TEST(Selector, RefreshesFromThePortAndLetsGoOfItWhenItIsDestroyed) {
  auto& box = this->box;
  box.SetComProperty(cpParity);
  auto* port = new TComPort(nullptr, &this->D);
  port->Parity().SetBits(prSpace);
  port->SetStopBits(sbTwoStopBits);
  box.SetComPort(port);
  EXPECT_EQ(box.Text(), "Space");
  box.SetComProperty(cpStopBits);
  EXPECT_EQ(box.Text(), "2");
  box.SetComProperty(cpParity);
  delete port;
  EXPECT_EQ(box.ComPort(), nullptr);
  EXPECT_EQ(box.Text(), "None");  // the first entry
  box.ApplySettings();            // no port: nothing happens
}

TYPED_TEST(Selector, TextSelectsOnlyAnEqualEntry) {
  auto& box = this->box;
  box.SetComProperty(cpParity);
  box.SetText("Mark");
  EXPECT_EQ(box.Text(), "Mark");
  box.SetText("mark");
  box.SetText("Purple");
  EXPECT_EQ(box.Text(), "Mark");
}

TYPED_TEST(Selector, AutoApplyWritesTheChoiceBeforeTheControlSignalsIt) {
  auto& box = this->box;
  auto& P = this->P;
  box.SetComProperty(cpBaudRate);
  box.SetComPort(&P);
  box.SetAutoApply(true);
  std::vector<int> seen;  // the port's rate as each listener hears of the change
  TypeParam::OnOwnSignals(box, [&] { seen.push_back(P.BaudRate()); });
  ASSERT_TRUE(TypeParam::Pick(box, "38400"));
  EXPECT_EQ(P.BaudRate(), br38400);
  EXPECT_EQ(seen, (std::vector<int>{br38400, br38400}));

  box.SetText("19200");  // the program selects: no choice of the operator's
  EXPECT_EQ(P.BaudRate(), br38400);
  P.SetBaudRate(br110);  // behind the box's back
  box.UpdateSettings();
  EXPECT_EQ(P.BaudRate(), br110);
  P.SetBaudRate(br9600);
  ASSERT_TRUE(TypeParam::Pick(box, "110"));  // the entry already shown, picked again
  EXPECT_EQ(P.BaudRate(), br110);
  box.SetComPort(nullptr);
}

TYPED_TEST(Selector, MatchesWithoutRegardToCase) {
  auto& box = this->box;
  this->D.SetPorts({"com3"});
  this->P.SetPort("COM3");
  box.SetPortSource(&this->D);
  box.SetComProperty(cpPort);
  box.SetComPort(&this->P);
  EXPECT_EQ(box.Text(), "com3");
  box.SetComPort(nullptr);
}

TYPED_TEST(Selector, ListsThePortsWithTheirDescriptionsAndSelectsNoUnlistedOne) {
  auto& box = this->box;
  std::vector<TComPortInfo> ports(2);
  ports[0].Name = "COM2";
  ports[0].Description = "USB serial converter (Acme)";
  ports[1].Name = "COM1";
  this->D.SetPortInfo(ports);
  this->P.SetPort("/dev/ttyUSB9");
  box.SetPortSource(&this->D);
  box.SetComProperty(cpPort);
  box.SetComPort(&this->P);
  ASSERT_EQ(box.ItemCount(), 2);
  EXPECT_EQ(box.ItemText(1), "COM2");
  EXPECT_EQ(TypeParam::ToolTip(box, 1), "USB serial converter (Acme)");
  EXPECT_EQ(box.ItemIndex(), -1);
  EXPECT_EQ(box.Text(), "");
  EXPECT_EQ(TypeParam::Shown(box), "");
  box.SetComPort(nullptr);
}

}  // namespace

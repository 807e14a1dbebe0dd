// SPDX-License-Identifier: MIT
// The Configure button: the setup dialog, opening the port, and storing the
// five values, driven through the button as the operator does.
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "AppTest.h"
#include "CPortSetup.h"
#include "Main.h"
#include "Modal.h"
#include "RecordingDriver.h"

using namespace vxpanel;
using cport::TComSetupFrm;
using cport::test::TRecordingDriver;
using cport::test::WhenShown;
using vxpanel::test::TPrivateSettings;
using vxpanel::test::WaitFor;

namespace {

void Pick(cport::TComComboBox* box, const QString& text) {
  ASSERT_TRUE(cport::test::PickEntry(box, text)) << text.toStdString();
}

class Configure : public ::testing::Test {
 protected:
  TPrivateSettings Settings;
  TRecordingDriver Driver;
  std::unique_ptr<TMainForm> F;

  void SetUp() override {
    Driver.SetPorts({"COM1", "COM2"});
    F = std::make_unique<TMainForm>(&Driver);  // first start: the key is created
    F->Timer1->stop();                         // the cycle must not open the port behind the test
  }
  void TearDown() override { F.reset(); }
  // Presses Configure; the dialog is answered by act.
  void Press(std::function<void(TComSetupFrm&)> act) {
    WhenShown<TComSetupFrm>(std::move(act));
    F->Button6->click();
  }
};

TEST_F(Configure, CancelRewritesAllFiveValuesAndRecreatesARemovedKey) {
  ASSERT_TRUE(QFile::remove(Settings.File()));
  F->CP.SetPort("COM2");  // differs from what was stored
  Press([](TComSetupFrm& f) { f.Button2->click(); });
  EXPECT_TRUE(F->CP.Connected());
  const auto v = Settings.Values();
  EXPECT_EQ(v.at("Port"), "COM2");
  EXPECT_EQ(v.at("DataBits"), "3");
  EXPECT_EQ(v.at("Parity"), "0");
  EXPECT_EQ(v.at("FlowControl"), "2");
  EXPECT_EQ(v.at("BaudRate"), "7");
  EXPECT_TRUE(Settings.Reports().isEmpty());
}

TEST_F(Configure, OkStoresTheChoicesAndOpensThePort) {
  Press([](TComSetupFrm& f) {
    Pick(f.Combo1, "COM2");
    Pick(f.Combo2, "115200");
    Pick(f.Combo3, "7");
    Pick(f.Combo5, "Even");
    Pick(f.Combo6, "Hardware");
    f.Button1->click();
  });
  EXPECT_TRUE(F->CP.Connected());
  EXPECT_EQ(Driver.Last("Open").Port, "COM2");
  const auto v = Settings.Values();
  EXPECT_EQ(v.at("Port"), "COM2");
  EXPECT_EQ(v.at("BaudRate"), "13");
  EXPECT_EQ(v.at("DataBits"), "2");
  EXPECT_EQ(v.at("Parity"), "2");
  EXPECT_EQ(v.at("FlowControl"), "0");
}

TEST_F(Configure, APortThatCannotBeOpenedIsShownAndNothingIsStored) {
  const auto before = Settings.Values();
  Driver.FailAlways("Open", 13);
  Press([](TComSetupFrm& f) {
    Pick(f.Combo2, "19200");
    f.Button1->click();
  });
  ASSERT_TRUE(WaitFor([&] { return !Settings.Reports().isEmpty(); }));
  EXPECT_EQ(Settings.Reports(), QStringList{"Unable to open com port (win error code: 13)"});
  EXPECT_EQ(Settings.Values(), before);
  EXPECT_EQ(F->CP.BaudRate(), cport::br19200);  // the choice stays with the port
  EXPECT_FALSE(F->CP.Connected());
}

TEST_F(Configure, AKeyThatCanNeitherBeOpenedNorMadeEndsSilently) {
  Settings.Block();
  Press([](TComSetupFrm& f) { f.Button2->click(); });
  EXPECT_TRUE(F->CP.Connected());
  QCoreApplication::processEvents();
  EXPECT_TRUE(Settings.Reports().isEmpty());
}

}  // namespace

// SPDX-License-Identifier: MIT
// vxterm's window, headless, as a person uses it, the test playing the
// device on pseudo-terminals: keys and input lines reach the far end with
// their endings, received lines show with their times and hex rows as rows,
// an unplugged device is said and waited for without a box and comes back,
// the toggles and Break reach the driver, a file goes out with its progress
// and can be cancelled, and the session's settings are kept.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <fstream>

#include "CPortLed.h"
#include "CPortSetup.h"
#include "CPortTerm.h"
#include "InputBar.h"
#include "Modal.h"
#include "Pty.h"
#include "QtWait.h"
#include "RecordingDriver.h"
#include "Session.h"
#include "Window.h"

using namespace vxterm;
using cport::test::TPty;
using vxterm::test::Q;
using vxterm::test::TempDir;
using vxterm::test::WaitFor;
namespace fs = std::filesystem;

namespace {

const std::string kStamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";

TSettings SettingsFor(const std::string& port) {
  TSettings s;
  s.Line.Port = port;
  s.Line.Baud = 115200;
  return s;
}

// The terminal's screen, one string per row.
std::vector<std::string> Screen(TTermWindow& w) {
  const cport::TVtEmulator& e = w.Terminal().Emulator();
  std::vector<std::string> rows;
  for (int r = 0; r < e.Rows(); ++r) {
    const int line = e.ScrollbackCount() + r;
    rows.push_back(e.Text(line, 0, line, e.Columns()));
  }
  return rows;
}

// Whether a line of the screen (a wrapped one joined) matches pattern.
bool Shows(TTermWindow& w, const std::string& pattern) {
  const cport::TVtEmulator& e = w.Terminal().Emulator();
  const int top = e.ScrollbackCount();
  const std::string text = e.Text(top, 0, top + e.Rows() - 1, e.Columns());
  const QRegularExpression re(QRegularExpression::anchoredPattern(QString::fromStdString(pattern)));
  size_t start = 0;
  for (size_t end; start <= text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (re.match(QString::fromStdString(text.substr(start, end - start))).hasMatch()) return true;
  }
  return false;
}

std::string Dump(TTermWindow& w) {
  std::string s;
  for (const std::string& row : Screen(w)) s += row + "|\n";
  return s;
}

TEST(Window, KeysAndInputLinesReachTheFarEndWithTheirEndings) {
  TPty pty;
  TTermWindow w(SettingsFor(pty.Path()));
  w.show();
  w.Start();
  ASSERT_EQ(w.Session().State(), EState::Connected);
  QTest::keyClicks(&w.Terminal(), "%05t");
  QTest::keyClick(&w.Terminal(), Qt::Key_Return);
  EXPECT_EQ(pty.Receive(5), "%05t\r");

  w.LineInputAction->trigger();
  ASSERT_TRUE(w.Input().isVisible());
  auto* ending = w.Input().findChild<QComboBox*>();
  struct TCase {
    int Index;  // none, CR, LF, CR LF
    std::string Arrives;
  };
  for (const TCase& c : {TCase{0, "%05?"}, TCase{1, "%05?\r"}, TCase{2, "%05?\n"}, TCase{3, "%05?\r\n"}}) {
    ending->setCurrentIndex(c.Index);
    QTest::keyClicks(w.Input().Edit(), "%05?");
    QTest::keyClick(w.Input().Edit(), Qt::Key_Return);
    EXPECT_EQ(pty.Receive(c.Arrives.size()), c.Arrives);
    EXPECT_TRUE(w.Input().Edit()->text().isEmpty());
  }
  // Up brings the line back; hex input sends exactly its bytes.
  QTest::keyClick(w.Input().Edit(), Qt::Key_Up);
  EXPECT_EQ(w.Input().Edit()->text(), "%05?");
  w.Input().Edit()->clear();
  w.Input().findChild<QCheckBox*>()->setChecked(true);
  QTest::keyClicks(w.Input().Edit(), "23 30 35 74 0D");
  QTest::keyClick(w.Input().Edit(), Qt::Key_Return);
  EXPECT_EQ(pty.Receive(5), "#05t\r");
  // A bad byte is named, the line stays, and nothing goes out.
  QTest::keyClicks(w.Input().Edit(), "23 3G");
  QTest::keyClick(w.Input().Edit(), Qt::Key_Return);
  EXPECT_EQ(w.Input().Edit()->text(), "23 3G");
  bool named = false;
  for (auto* l : w.Input().findChildren<QLabel*>()) named = named || (l->isVisible() && l->text().contains("'3G'"));
  EXPECT_TRUE(named);
  EXPECT_EQ(pty.Drain(50), "");
}

TEST(Window, ReceivedLinesShowWithTheirTimesAndHexAsRows) {
  TPty pty;
  TTermWindow w(SettingsFor(pty.Path()));
  w.show();
  w.TimestampsAction->trigger();
  w.Start();
  pty.Send("#02t00062\r");
  ASSERT_TRUE(WaitFor([&] { return Shows(w, kStamp + " #02t00062"); })) << Dump(w);
  w.HexAction->trigger();
  pty.Send("#02?\r");
  // 80 columns: no room for the printable characters beside the time.
  ASSERT_TRUE(WaitFor([&] { return Shows(w, kStamp + "  23 30 32 3F 0D"); })) << Dump(w);
  EXPECT_TRUE(WaitFor([&] { return w.CountsLabel->text().startsWith("received 15 B"); }))
      << w.CountsLabel->text().toStdString();
  EXPECT_EQ(w.LineLabel->text(), Q(pty.Path()) + " 115200 8N1, no flow control");
}

TEST(Window, AnUnpluggedDeviceIsSaidWithoutABoxAndComesBackUnderItsName) {
  const auto dir = TempDir();
  const fs::path link = dir / "ttyUSB0";
  auto first = std::make_unique<TPty>();
  fs::create_symlink(first->Path(), link);
  TTermWindow w(SettingsFor(link.string()));
  w.show();
  w.Start();
  ASSERT_EQ(w.Session().State(), EState::Connected);
  cport::TComLed* conn = w.Lamps[0];
  EXPECT_TRUE(conn->State());
  first->Send("hello\r\n");
  ASSERT_TRUE(WaitFor([&] { return Shows(w, "hello"); }));
  fs::remove(link);
  first->HangUp();
  ASSERT_TRUE(WaitFor([&] { return w.Session().State() == EState::Waiting; }));
  EXPECT_TRUE(Shows(w, "-- .*ttyUSB0 went away \\(the line hung up\\); waiting for it to come back --")) << Dump(w);
  EXPECT_EQ(w.StateLabel->text(), "waiting for " + Q(link));
  EXPECT_FALSE(conn->State());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(qApp->findChildren<QMessageBox*>().isEmpty());
  EXPECT_TRUE(Shows(w, "hello"));  // the session is kept

  TPty second;
  fs::create_symlink(second.Path(), link);
  ASSERT_TRUE(WaitFor([&] { return w.Session().State() == EState::Connected; }));
  EXPECT_TRUE(conn->State());
  EXPECT_EQ(w.StateLabel->text(), "connected");
  QTest::keyClicks(&w.Terminal(), "x");
  EXPECT_EQ(second.Receive(1), "x");
  // Disconnect ends it for good: no waiting.
  w.ConnectAction->trigger();
  EXPECT_EQ(w.Session().State(), EState::Disconnected);
  EXPECT_EQ(w.ConnectAction->text(), "Connect");
}

TEST(Window, TheTogglesAndBreakReachTheDriver) {
  cport::test::TRecordingDriver driver;
  TTermWindow w(SettingsFor("COM1"), nullptr, &driver);
  w.Start();
  ASSERT_EQ(w.Session().State(), EState::Connected);
  ASSERT_TRUE(w.DTRAction->isEnabled() && w.RTSAction->isEnabled());
  driver.ClearCalls();
  w.DTRAction->trigger();
  EXPECT_EQ(driver.Last("EscapeCommFunction").A, cport::ESC_CLRDTR);
  w.RTSAction->trigger();
  EXPECT_EQ(driver.Last("EscapeCommFunction").A, cport::ESC_CLRRTS);
  w.RTSAction->trigger();
  EXPECT_EQ(driver.Last("EscapeCommFunction").A, cport::ESC_SETRTS);
  w.BreakAction->trigger();
  EXPECT_EQ(driver.Last("EscapeCommFunction").A, cport::ESC_SETBREAK);
  ASSERT_TRUE(WaitFor([&] { return driver.Last("EscapeCommFunction").A == cport::ESC_CLRBREAK; }));
  // The modem lines light their lamps.
  driver.SetModemStatus(cport::MS_CTS_BIT | cport::MS_RLSD_BIT);
  driver.RaiseEvents(cport::EV_CTS_BIT | cport::EV_RLSD_BIT);
  ASSERT_TRUE(WaitFor([&] { return w.Lamps[3]->State() && w.Lamps[5]->State(); }));
  EXPECT_FALSE(w.Lamps[4]->State());
}

// "Port..." edits the line: new settings go to the open port, another port
// is connected instead.
TEST(Window, ThePortDialogChangesTheLineAndAnotherPortIsConnectedInstead) {
  cport::test::TRecordingDriver driver;
  driver.SetPorts({"COM1", "COM2"});
  TSettings s = SettingsFor("COM1");
  s.Line.Baud = 9600;
  TTermWindow w(s, nullptr, &driver);
  w.Start();
  ASSERT_EQ(w.Session().State(), EState::Connected);
  cport::test::WhenShown<cport::TComSetupFrm>([](cport::TComSetupFrm& f) {
    ASSERT_TRUE(cport::test::PickEntry(f.Combo2, "57600"));
    f.Button1->click();
  });
  w.PortAction->trigger();
  EXPECT_EQ(driver.Last("SetCommState").Dcb.BaudRate, 57600u);
  EXPECT_EQ(driver.Count("Open"), 1);
  EXPECT_EQ(w.LineLabel->text(), "COM1 57600 8N1, no flow control");
  cport::test::WhenShown<cport::TComSetupFrm>([](cport::TComSetupFrm& f) {
    ASSERT_TRUE(cport::test::PickEntry(f.Combo1, "COM2"));
    f.Button1->click();
  });
  w.PortAction->trigger();
  EXPECT_EQ(driver.Count("Open"), 2);
  EXPECT_EQ(driver.Last("Open").Port, "COM2");
  EXPECT_EQ(w.Session().State(), EState::Connected);
  EXPECT_EQ(w.LineLabel->text(), "COM2 57600 8N1, no flow control");
  // Cancel changes nothing.
  cport::test::WhenShown<cport::TComSetupFrm>([](cport::TComSetupFrm& f) { f.reject(); });
  w.PortAction->trigger();
  EXPECT_EQ(driver.Count("Open"), 2);
}

TEST(Window, AFileGoesOutWithItsProgressAndTheCancelButtonStopsIt) {
  TPty pty;
  TTermWindow w(SettingsFor(pty.Path()));
  const auto file = TempDir() / "big.bin";
  std::ofstream(file, std::ios::binary) << std::string(4 * 1024 * 1024, 'x');
  w.SetFileChooser([&](TTermWindow::EFileQuestion q, bool&) {
    return q == TTermWindow::EFileQuestion::SendFile ? Q(file) : QString();
  });
  w.show();
  w.Start();
  // The far end reads nothing: the line holds the file up.
  w.SendFileAction->trigger();
  ASSERT_TRUE(WaitFor([&] { return w.FileProgress->isVisible() && w.FileProgress->value() > 0; }));
  EXPECT_FALSE(w.SendFileAction->isEnabled());
  QTest::mouseClick(w.CancelFileButton, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return !w.FileProgress->isVisible(); }));
  EXPECT_LT(w.FileProgress->value(), 1000);
  EXPECT_TRUE(Shows(w, "-- Sending big.bin stopped after .* bytes: cancelled --")) << Dump(w);
  EXPECT_TRUE(w.SendFileAction->isEnabled());
}

TEST(Window, WhatTheSessionEndsWithIsWhatTheNextOneStartsWith) {
  TPty pty;
  const auto file = TempDir() / "vxterm.conf";
  QSettings store(Q(file), QSettings::IniFormat);
  {
    TTermWindow w(SettingsFor(pty.Path()), &store);
    w.show();
    w.Start();
    w.HexAction->trigger();
    w.LineInputAction->trigger();
    w.DTRAction->trigger();
    QTest::keyClicks(w.Input().Edit(), "%05t");
    QTest::keyClick(w.Input().Edit(), Qt::Key_Return);
    w.close();
  }
  QStringList warnings;
  const TSettings s = LoadSettings(store, warnings);
  EXPECT_TRUE(warnings.isEmpty());
  EXPECT_EQ(s.Line.Port, pty.Path());
  EXPECT_EQ(s.Line.Baud, 115200u);
  EXPECT_TRUE(s.View.Hex && s.View.LineInput && !s.View.DTR && !s.View.Timestamps);
  EXPECT_EQ(s.History, QStringList{"%05t"});
  EXPECT_FALSE(s.Geometry.isEmpty());
  TTermWindow again(s, &store);
  EXPECT_TRUE(again.HexAction->isChecked() && again.LineInputAction->isChecked());
  EXPECT_FALSE(again.DTRAction->isChecked());
}

}  // namespace

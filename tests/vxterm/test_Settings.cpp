// SPDX-License-Identifier: MIT
// The per-user settings: what a session leaves is what the next one finds,
// a damaged file costs its bad values only, the command line wins for its
// run, and the line settings reach the port and come back from it.
#include <gtest/gtest.h>

#include <QSettings>

#include "QtWait.h"
#include "RecordingDriver.h"
#include "Settings.h"

using namespace vxterm;
using vxterm::test::Q;
using vxterm::test::TempDir;

namespace {

TEST(Settings, WhatASessionStoresTheNextOneReads) {
  const auto file = TempDir() / "vxterm.conf";
  TSettings s;
  s.Line = {"/dev/ttyUSB1", 57600, cport::dbSeven, cport::prOdd, cport::sbTwoStopBits, cport::fcSoftware};
  s.Terminal.Emulation = EEmulation::None;
  s.Terminal.Columns = 132;
  s.Terminal.Charset = ECharset::Latin1;
  s.Terminal.Font = "DejaVu Sans Mono,11";
  for (int i = 0; i < 16; ++i) s.Terminal.Colors << QString("#%1%1%1").arg(i * 16, 2, 16, QChar('0'));
  s.Terminal.Cursor = ECursorShape::Bar;
  s.View = {true, true, 250, true, ELineEnding::CRLF, false, false};
  s.Geometry = QByteArray("\x01\x00geometry\xff", 11);
  s.History = {"%05t", "%@05SR"};
  {
    QSettings store(Q(file), QSettings::IniFormat);
    SaveSettings(store, s);
  }
  QSettings store(Q(file), QSettings::IniFormat);
  QStringList warnings;
  const TSettings r = LoadSettings(store, warnings);
  EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
  EXPECT_EQ(r.Line, s.Line);
  EXPECT_EQ(r.Terminal, s.Terminal);
  EXPECT_EQ(r.View, s.View);
  EXPECT_EQ(r.Geometry, s.Geometry);
  EXPECT_EQ(r.History, s.History);
  // The values are the command line's words, for a person to read and edit.
  EXPECT_EQ(store.value("port/parity").toString(), "odd");
  EXPECT_EQ(store.value("port/stop").toString(), "2");
}

TEST(Settings, ADamagedFileCostsOnlyItsBadValuesEachNamedInAWarning) {
  const auto file = TempDir() / "vxterm.conf";
  {
    QSettings store(Q(file), QSettings::IniFormat);
    store.setValue("port/name", "/dev/ttyACM0");
    store.setValue("port/baud", "-9600");
    store.setValue("port/data", "8");
    store.setValue("port/parity", "purple");
    store.setValue("terminal/columns", "100000");
    store.setValue("terminal/local-echo", "maybe");
    store.setValue("terminal/colors", QStringList{"#000000", "red"});
    store.setValue("view/hex-pause", "0");
    store.setValue("view/line-ending", "lf");
  }
  QSettings store(Q(file), QSettings::IniFormat);
  QStringList warnings;
  const TSettings r = LoadSettings(store, warnings);
  const TSettings defaults;
  EXPECT_EQ(r.Line.Port, "/dev/ttyACM0");
  EXPECT_EQ(r.Line.Baud, defaults.Line.Baud);
  EXPECT_EQ(r.Line.Parity, defaults.Line.Parity);
  EXPECT_EQ(r.Terminal.Columns, defaults.Terminal.Columns);
  EXPECT_EQ(r.Terminal.LocalEcho, defaults.Terminal.LocalEcho);
  EXPECT_TRUE(r.Terminal.Colors.isEmpty());
  EXPECT_EQ(r.View.HexPauseMs, defaults.View.HexPauseMs);
  EXPECT_EQ(r.View.Ending, ELineEnding::LF);  // good values survive beside bad ones
  ASSERT_EQ(warnings.size(), 6) << warnings.join('\n').toStdString();
  const QString all = warnings.join('\n');
  for (const char* key : {"port/baud", "port/parity", "terminal/columns", "terminal/local-echo", "terminal/colors",
                          "view/hex-pause"})
    EXPECT_TRUE(all.contains(key)) << key;
  EXPECT_TRUE(all.contains("'purple'")) << all.toStdString();
}

TEST(Settings, TheCommandLineOverridesWhatItNames) {
  TSettings s;
  s.Line = {"/dev/ttyS0", 9600, cport::dbEight, cport::prNone, cport::sbOneStopBit, cport::fcNone};
  s.View.Hex = false;
  TOptions o;
  o.Port = "/dev/ttyUSB0";
  o.Parity = cport::prEven;
  o.Hex = true;
  o.AppendLF = true;
  ApplyOptions(s, o);
  EXPECT_EQ(s.Line.Port, "/dev/ttyUSB0");
  EXPECT_EQ(s.Line.Parity, cport::prEven);
  EXPECT_EQ(s.Line.Baud, 9600u);  // not named: the stored one
  EXPECT_TRUE(s.View.Hex);
  EXPECT_TRUE(s.Terminal.AppendLF);
  EXPECT_FALSE(s.View.Timestamps);
}

TEST(Settings, LineSettingsReachThePortAndComeBack) {
  cport::test::TRecordingDriver driver;
  cport::TComPort port(nullptr, &driver);
  struct TCase {
    uint32_t Baud;
    cport::TBaudRate Rate;  // brCustom: a rate without a name
  };
  for (const TCase c : {TCase{115200, cport::br115200}, TCase{9600, cport::br9600}, TCase{250000, cport::brCustom}}) {
    const TLineSettings line{"/dev/ttyUSB0", c.Baud, cport::dbSeven, cport::prMark, cport::sbTwoStopBits,
                             cport::fcHardware};
    ApplyLineSettings(port, line);
    EXPECT_EQ(port.BaudRate(), c.Rate) << c.Baud;
    EXPECT_EQ(LineSettingsOf(port), line) << c.Baud;
  }
  port.Open();
  EXPECT_EQ(driver.Last("SetCommState").Dcb.BaudRate, 250000u);
  EXPECT_TRUE(driver.Last("SetCommState").Dcb.Has(cport::TDCB::DCB_OutxCtsFlow));
}

}  // namespace

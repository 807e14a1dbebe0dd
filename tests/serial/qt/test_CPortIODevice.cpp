// SPDX-License-Identifier: MIT
// The port as a Qt I/O device on a pseudo-terminal: text lines both ways
// through QTextStream, readyRead from the event loop and waitForReadyRead
// without one, and the far end or the owner ending the line.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QThread>
#include <functional>

#include "CPortIODevice.h"
#include "Pty.h"

using namespace cport;
using cport::test::TPty;

namespace {

// Runs the event loop until pred holds or ms have passed.
bool Spin(const std::function<bool()>& pred, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

class IODevice : public ::testing::Test {
 protected:
  TPty Pty;
  TComPort P;
  void SetUp() override {
    UseQtEventLoop();
    P.SetPort(Pty.Path());
  }
  void TearDown() override { SetWakeMainThread(nullptr); }
};

TEST_F(IODevice, LinesBothWaysThroughQTextStream) {
  TComIODevice dev(&P);
  ASSERT_TRUE(dev.open(QIODevice::ReadWrite | QIODevice::Text)) << dev.errorString().toStdString();
  EXPECT_TRUE(P.Connected()) << "open() opens the port";
  QTextStream ts(&dev);
  int announced = 0;
  QObject::connect(&dev, &QIODevice::readyRead, [&] { ++announced; });
  qint64 written = 0;
  QObject::connect(&dev, &QIODevice::bytesWritten, [&](qint64 n) { written += n; });

  Pty.Send("alp");
  Pty.Send("ha\r\nbeta\r\n");
  ASSERT_TRUE(Spin([&] { return dev.bytesAvailable() == 13; }));
  EXPECT_GE(announced, 1);
  EXPECT_TRUE(dev.canReadLine());
  EXPECT_EQ(ts.readLine(), "alpha");
  EXPECT_EQ(ts.readLine(), "beta");

  ts << "ping\r\n";
  ts.flush();
  EXPECT_EQ(Pty.Receive(6), "ping\r\n");
  ASSERT_TRUE(Spin([&] { return written == 6; }));

  // Without the event loop.
  Pty.Send("gamma\r\n");
  ASSERT_TRUE(dev.waitForReadyRead(10000));
  EXPECT_EQ(dev.readLine(), "gamma\n");
  dev.write("x");
  EXPECT_TRUE(dev.waitForBytesWritten(0));
  EXPECT_EQ(written, 7);
  EXPECT_FALSE(dev.waitForReadyRead(50)) << "nothing more came";

  dev.close();
  EXPECT_FALSE(P.Connected()) << "close() closes what open() opened";
}

TEST_F(IODevice, APortThatGoesAwayEndsTheDeviceAfterItsBytes) {
  struct TCase {
    const char* Guard;
    bool OpenedByOwner;
    std::function<void(TPty&, TComPort&)> End;
    const char* Why;
  };
  const TCase cases[] = {
      {"FarEndHangsUp", false, [](TPty& pty, TComPort&) { pty.HangUp(); },
       "The port went away (unplugged or hung up)"},
      {"OwnerCloses", true, [](TPty&, TComPort& port) { port.Close(); }, "The port was closed"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Guard);
    TPty pty;
    TComPort port;
    port.SetPort(pty.Path());
    if (c.OpenedByOwner) port.Open();
    TComIODevice dev(&port);
    ASSERT_TRUE(dev.open(QIODevice::ReadOnly));
    int announced = 0;
    QByteArray atFinish;
    bool openAtFinish = false;
    QObject::connect(&dev, &QIODevice::readyRead, [&] { ++announced; });
    QObject::connect(&dev, &QIODevice::readChannelFinished, [&] {
      openAtFinish = dev.isOpen();
      atFinish = dev.readAll();
    });
    pty.Send("last words\n");
    ASSERT_TRUE(Spin([&] { return announced == 1; }));
    c.End(pty, port);
    ASSERT_TRUE(Spin([&] { return !dev.isOpen(); }));
    EXPECT_TRUE(openAtFinish);
    EXPECT_EQ(atFinish, "last words\n");
    EXPECT_EQ(dev.errorString(), c.Why);
    EXPECT_FALSE(port.Connected() && !c.OpenedByOwner) << "what the device opened it closes";
  }
}

}  // namespace

// SPDX-License-Identifier: MIT
// A session over pseudo-terminals, the test playing the device: what
// arrives reaches the view and the log in order and whole, also when the
// device hangs up in the middle of a line; the port comes back by itself
// under its name; what is sent arrives with its ending; a file goes out
// with its progress and can be cancelled; the control lines reach the
// driver.
#include <gtest/gtest.h>

#include <QRegularExpression>

#include <sys/ioctl.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "LineInput.h"
#include "Pty.h"
#include "QtWait.h"
#include "RecordingDriver.h"
#include "Session.h"

using namespace vxterm;
using cport::test::TPty;
using vxterm::test::Q;
using vxterm::test::ReadFile;
using vxterm::test::TempDir;
using vxterm::test::WaitFor;
namespace fs = std::filesystem;

namespace {

const std::string kStamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";

// A session on a real port with what it shows collected.
struct TRig {
  explicit TRig(const std::string& port, uint32_t baud = 9600, cport::TComDriver* driver = nullptr)
      : Port(nullptr, driver), Session(Port) {
    TLineSettings line = Session.Line();
    line.Port = port;
    line.Baud = baud;
    Session.SetLine(line);
    QObject::connect(&Session, &TSession::ViewBytes, [this](const QByteArray& b) { View += b.toStdString(); });
    QObject::connect(&Session, &TSession::ViewText, [this](const QString& t) { View += t.toStdString(); });
    QObject::connect(&Session, &TSession::Message, [this](const QString& m) { Messages << m; });
  }
  cport::TComPort Port;
  TSession Session;
  std::string View;
  QStringList Messages;
};

bool Matches(const std::string& text, const std::string& pattern) {
  // Qt's expressions: <regex> trips GCC's uninitialised-use warning under
  // the sanitizers.
  const QRegularExpression re(QRegularExpression::anchoredPattern(QString::fromStdString(pattern)));
  return re.match(QString::fromStdString(text)).hasMatch();
}

TEST(Session, LinesReachViewAndLogInOrderWithTheirTimeAndAHangUpMidLineLosesNothing) {
  TPty pty;
  TRig rig(pty.Path());
  const auto log = TempDir() / "session.log";
  rig.Session.SetTimestamps(true);
  rig.Session.SetLog(Q(log), TLogFile::EMode::Text);
  rig.Session.Connect();
  ASSERT_EQ(rig.Session.State(), EState::Connected) << rig.Messages.join('\n').toStdString();
  pty.Send("first\r\nsecond\r");
  pty.Send("\nthi");
  ASSERT_TRUE(WaitFor([&] { return rig.Session.ReceivedCount() == 18; }));
  // The line that is still open is in the file already.
  EXPECT_TRUE(Matches(ReadFile(log), "(.*\n)*" + kStamp + " thi")) << ReadFile(log);
  pty.HangUp();
  ASSERT_TRUE(WaitFor([&] { return rig.Session.State() == EState::Waiting; }));
  const std::string port = pty.Path();
  EXPECT_TRUE(Matches(ReadFile(log), "-- " + kStamp + " Connected to " + port + " 9600 8N1, no flow control --\n" +
                                          kStamp + " first\n" + kStamp + " second\n" + kStamp + " thi\n" + "-- " +
                                          kStamp + " " + port + " went away: the line hung up --\n"))
      << ReadFile(log);
  EXPECT_TRUE(Matches(rig.View, kStamp + " first\n" + kStamp + " second\n" + kStamp + " thi\n")) << rig.View;
  EXPECT_TRUE(rig.Messages.last().contains("waiting for it to come back")) << rig.Messages.last().toStdString();
  EXPECT_FALSE(rig.Port.Connected());
}

TEST(Session, ComesBackUnderTheSameNameWithItsLogReopened) {
  const auto dir = TempDir();
  const fs::path link = dir / "ttyVX";
  const auto log = dir / "session.log";
  auto first = std::make_unique<TPty>();
  fs::create_symlink(first->Path(), link);
  TRig rig(link.string());
  rig.Session.SetLog(Q(log), TLogFile::EMode::Text);
  rig.Session.Connect();
  ASSERT_EQ(rig.Session.State(), EState::Connected);
  first->Send("before\n");
  ASSERT_TRUE(WaitFor([&] { return rig.Session.ReceivedCount() == 7; }));
  // The adapter is pulled: its name goes with it.
  fs::remove(link);
  first->HangUp();
  ASSERT_TRUE(WaitFor([&] { return rig.Session.State() == EState::Waiting; }));
  // ... and comes back under the same name, on a new terminal.
  TPty second;
  fs::create_symlink(second.Path(), link);
  ASSERT_TRUE(WaitFor([&] { return rig.Session.State() == EState::Connected; }));
  second.Send("after\n");
  ASSERT_TRUE(WaitFor([&] { return rig.Session.ReceivedCount() == 13; }));
  rig.Session.Send("typed\r");
  EXPECT_EQ(second.Receive(6), "typed\r");
  EXPECT_EQ(rig.View, "before\nafter\n");
  const std::string name = link.string();
  EXPECT_TRUE(Matches(ReadFile(log), "-- " + kStamp + " Connected to " + name + " 9600 8N1, no flow control --\n" +
                                          "before\n-- " + kStamp + " " + name + " went away: the line hung up --\n" +
                                          "-- " + kStamp + " Connected to " + name +
                                          " 9600 8N1, no flow control --\nafter\n"))
      << ReadFile(log);
}

TEST(Session, APortThatIsNotThereIsWaitedForAndDisconnectEndsTheWait) {
  const auto dir = TempDir();
  const fs::path link = dir / "ttyLATE";
  TRig rig(link.string());
  rig.Session.Connect();
  EXPECT_EQ(rig.Session.State(), EState::Waiting);
  EXPECT_TRUE(rig.Messages.last().startsWith("Waiting for " + Q(link))) << rig.Messages.last().toStdString();
  rig.Session.Disconnect();
  EXPECT_EQ(rig.Session.State(), EState::Disconnected);
  TPty pty;
  fs::create_symlink(pty.Path(), link);
  EXPECT_FALSE(WaitFor([&] { return rig.Session.State() != EState::Disconnected; }, 300));
  rig.Session.Connect();
  EXPECT_EQ(rig.Session.State(), EState::Connected);
}

TEST(Session, TypedBytesAndInputLinesArriveWithTheChosenEnding) {
  TPty pty;
  TRig rig(pty.Path());
  rig.Session.Connect();
  ASSERT_EQ(rig.Session.State(), EState::Connected);
  struct TCase {
    ELineEnding Ending;
    std::string Arrives;
  };
  for (const TCase& c : {TCase{ELineEnding::None, "%05t"}, TCase{ELineEnding::CR, "%05t\r"},
                         TCase{ELineEnding::LF, "%05t\n"}, TCase{ELineEnding::CRLF, "%05t\r\n"}}) {
    rig.Session.Send(EncodeText("%05t", c.Ending, ECharset::Utf8).Bytes);
    EXPECT_EQ(pty.Receive(c.Arrives.size()), c.Arrives);
  }
  rig.Session.Send(EncodeHex("23 30 35 3F 0D").Bytes);
  EXPECT_EQ(pty.Receive(5), "#05?\r");
  ASSERT_TRUE(WaitFor([&] { return rig.Session.SentCount() == 4 + 5 + 5 + 6 + 5; }));
}

TEST(Session, AHexRowEndsWhenItsPauseHasPassedWithoutAnotherByte) {
  TPty pty;
  TRig rig(pty.Path());
  rig.Session.SetHex(true);
  rig.Session.SetHexPause(50);
  rig.Session.Connect();
  pty.Send("#02?123\r");
  ASSERT_TRUE(WaitFor([&] { return rig.View.find('\n') != std::string::npos; }));
  EXPECT_EQ(rig.View, "23 30 32 3F 31 32 33 0D" + std::string(26, ' ') + "#02?123.\n");
}

std::string RandomBytes(size_t n) {
  std::mt19937 gen(7);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

TEST(Session, AFileGoesOutWholeWithItsProgressAndACancelStopsIt) {
  TPty pty;
  TRig rig(pty.Path(), 115200);
  rig.Session.Connect();
  ASSERT_EQ(rig.Session.State(), EState::Connected);
  const auto dir = TempDir();
  const std::string bytes = RandomBytes(64 * 1024);
  std::ofstream(dir / "small.bin", std::ios::binary) << bytes;
  std::vector<qint64> progress;
  QStringList finished;
  bool completed = false;
  QObject::connect(&rig.Session, &TSession::FileProgress, [&](qint64 done, qint64) { progress.push_back(done); });
  QObject::connect(&rig.Session, &TSession::FileFinished, [&](bool ok, const QString& m) {
    completed = ok;
    finished << m;
  });
  QString error;
  ASSERT_TRUE(rig.Session.SendFile(Q(dir / "small.bin"), error)) << error.toStdString();
  std::string arrived;
  ASSERT_TRUE(WaitFor([&] {
    arrived += pty.Drain();
    return finished.size() == 1 && arrived.size() == bytes.size();
  }));
  EXPECT_TRUE(arrived == bytes);
  EXPECT_TRUE(completed);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_GT(progress.size(), 2u);
  EXPECT_EQ(progress.back(), qint64(bytes.size()));
  EXPECT_EQ(rig.Session.SentCount(), int64_t(bytes.size()));

  // Nobody reads at the far end: the terminal's buffer fills and the line
  // holds the rest.
  std::ofstream(dir / "big.bin", std::ios::binary) << RandomBytes(4 * 1024 * 1024);
  ASSERT_TRUE(rig.Session.SendFile(Q(dir / "big.bin"), error));
  ASSERT_FALSE(rig.Session.SendFile(Q(dir / "small.bin"), error));  // one file at a time
  ASSERT_TRUE(WaitFor([&] { return progress.back() > 0 && rig.Session.Transmitter().Busy(); }));
  rig.Session.CancelFile();
  ASSERT_TRUE(WaitFor([&] { return finished.size() == 2; }));
  EXPECT_FALSE(completed);
  EXPECT_TRUE(finished.last().contains("cancelled")) << finished.last().toStdString();
  EXPECT_LT(rig.Session.Transmitter().FileDone(), rig.Session.Transmitter().FileTotal());
  // What the far end gets is what the count says went out, a chunk cut
  // short by the cancel included.
  EXPECT_EQ(int64_t(pty.Drain(100).size()), rig.Session.Transmitter().FileDone());
  EXPECT_EQ(rig.Session.SentCount(), int64_t(bytes.size()) + rig.Session.Transmitter().FileDone());
  // The line is free again.
  EXPECT_EQ(rig.Session.State(), EState::Connected);
  rig.Session.Send("!");
  EXPECT_EQ(pty.Receive(1), "!");

  // The device goes away in the middle of a file: the file ends, said so,
  // and the session waits for the device.
  ASSERT_TRUE(rig.Session.SendFile(Q(dir / "big.bin"), error));
  ASSERT_TRUE(WaitFor([&] { return rig.Session.Transmitter().Busy(); }));
  pty.HangUp();
  ASSERT_TRUE(WaitFor([&] { return finished.size() == 3 && rig.Session.State() == EState::Waiting; }));
  EXPECT_FALSE(completed);
  EXPECT_TRUE(finished.last().contains("stopped after")) << finished.last().toStdString();
  EXPECT_FALSE(rig.Session.Transmitter().Busy());
}

// Disconnect in the middle of a file: the far end got exactly what the
// counts say went out, the write cut short by the abort included.
TEST(Session, ADisconnectMidFileCountsWhatReachedTheLine) {
  TPty pty;
  TRig rig(pty.Path(), 115200);
  rig.Session.Connect();
  const auto file = TempDir() / "big.bin";
  std::ofstream(file, std::ios::binary) << RandomBytes(1024 * 1024);
  QString error;
  ASSERT_TRUE(rig.Session.SendFile(Q(file), error)) << error.toStdString();
  int queued = 0;  // nobody reads at the far end: a chunk stays under way
  ASSERT_TRUE(WaitFor([&] { return ::ioctl(pty.Master(), FIONREAD, &queued) == 0 && queued > 0; }));
  rig.Session.Disconnect();
  EXPECT_EQ(int64_t(pty.Drain(100).size()), rig.Session.Transmitter().FileDone());
  EXPECT_EQ(rig.Session.SentCount(), rig.Session.Transmitter().FileDone());
}

// A report pauses the port's reports; vxterm then reads on its own
// schedule (unreported bytes too), and resumes once a read finds nothing,
// or the next bytes would never be read.
TEST(Session, AfterAReportTheSessionReadsOnItsOwnUntilTheLineIsQuiet) {
  cport::test::TRecordingDriver driver;
  TRig rig("COM1", 9600, &driver);
  rig.Session.Connect();
  driver.ClearCalls();
  auto holds = [&] {
    std::string h;
    for (const auto& c : driver.Calls())
      if (c.Op == "HoldArrivals") h += c.A ? 'P' : 'R';
    return h;
  };
  for (const std::string line : {"one\n", "two\n"}) {
    driver.Receive(line);
    driver.RaiseEvents(cport::EV_RXCHAR_BIT);
    ASSERT_TRUE(WaitFor([&] { return rig.View.ends_with(line); })) << rig.View;
    driver.Receive("more\n");  // unreported: paused
    ASSERT_TRUE(WaitFor([&] { return rig.View.ends_with(line + "more\n") && holds().ends_with('R'); })) << holds();
  }
  EXPECT_EQ(holds(), "PRPR");
}

// The device found gone as a chunk starts: the session hears of it and
// ends the file, and the file is not ended a second time.
TEST(Session, AFileWhoseNextWriteFindsTheDeviceGoneEndsOnce) {
  cport::test::TRecordingDriver driver;
  TRig rig("COM1", 9600, &driver);
  rig.Session.Connect();
  const auto file = TempDir() / "f.bin";
  std::ofstream(file, std::ios::binary) << std::string(1000, 'x');
  QStringList finished;
  QObject::connect(&rig.Session, &TSession::FileFinished, [&](bool, const QString& m) { finished << m; });
  driver.FailAlways("StartWrite", EIO);
  QString error;
  ASSERT_TRUE(rig.Session.SendFile(Q(file), error)) << error.toStdString();
  ASSERT_TRUE(WaitFor([&] { return !finished.empty(); }));
  EXPECT_EQ(finished.size(), 1) << finished.join('\n').toStdString();
  EXPECT_TRUE(finished[0].contains("went away")) << finished[0].toStdString();
}

TEST(Session, TheControlLinesReachTheDriverAndNeitherPulsesAtOpening) {
  cport::test::TRecordingDriver driver;
  TRig rig("COM1", 9600, &driver);
  rig.Session.SetDTR(false);
  rig.Session.Connect();
  ASSERT_EQ(rig.Session.State(), EState::Connected);
  // The lines are set with the rest of the line settings, not by name: a
  // device without them does not fail.
  EXPECT_EQ(driver.Last("SetCommState").Dcb.DtrControl(), cport::DTR_CODE_DISABLE);
  EXPECT_EQ(driver.Last("SetCommState").Dcb.RtsControl(), cport::RTS_CODE_ENABLE);
  auto escapes = [&] {
    std::vector<uint32_t> e;
    for (const auto& c : driver.Calls())
      if (c.Op == "EscapeCommFunction") e.push_back(c.A);
    return e;
  };
  EXPECT_TRUE(escapes().empty());
  rig.Session.SetDTR(true);
  rig.Session.SetRTS(false);
  rig.Session.SendBreak(20);
  EXPECT_EQ(escapes(), (std::vector<uint32_t>{cport::ESC_SETDTR, cport::ESC_CLRRTS, cport::ESC_SETBREAK}));
  ASSERT_TRUE(WaitFor([&] { return escapes().size() == 4; }));
  EXPECT_EQ(escapes().back(), cport::ESC_CLRBREAK);
  // New line settings keep the toggles' lines; with hardware flow control
  // RTS belongs to the line.
  TLineSettings line = rig.Session.Line();
  line.Flow = cport::fcHardware;
  rig.Session.SetLine(line);
  EXPECT_EQ(driver.Last("SetCommState").Dcb.DtrControl(), cport::DTR_CODE_ENABLE);
  EXPECT_EQ(driver.Last("SetCommState").Dcb.RtsControl(), cport::RTS_CODE_HANDSHAKE);
  EXPECT_FALSE(rig.Session.RTSFree());
  driver.ClearCalls();
  rig.Session.SetRTS(true);
  EXPECT_TRUE(escapes().empty());
  // Nothing of that made a message but the connection's own.
  EXPECT_FALSE(rig.Messages.join('\n').contains("failed")) << rig.Messages.join('\n').toStdString();
}

}  // namespace

// SPDX-License-Identifier: MIT
// Frames and streams on a real terminal device (a pseudo-terminal): two
// splitters behind the event thread, a handler closing the port, and the
// port as a C++ stream reading lines and writing frames.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "CPortPacket.h"
#include "CPortStream.h"
#include "Pty.h"

using namespace cport;
using cport::test::TPty;
using cport::test::WaitUntil;

namespace {

class PtyFrames : public ::testing::Test {
 protected:
  TPty Pty;
  TComPort P;
  void SetUp() override { P.SetPort(Pty.Path()); }
  // Read time-outs: take what waits, or wait up to ms for the first byte.
  void FirstByteWithin(int32_t ms) {
    TComTimeouts t;
    t.SetReadInterval(-1);
    t.SetReadTotalM(-1);
    t.SetReadTotalC(ms);
    P.SetTimeouts(t);
  }
};

// Both splitters hear every byte, whatever pieces the line brings them in.
TEST_F(PtyFrames, TwoSplittersOnOnePortEachSeeEveryPacketInOrder) {
  TComDataPacket lines, records;
  lines.SetStopString("\r\n");
  records.SetStartString("#");
  records.SetStopString("\r");
  std::vector<std::string> gotLines, gotRecords;
  std::string junk;
  lines.OnPacket = [&](TComDataPacket*, const std::string& b) { gotLines.push_back(b); };
  records.OnPacket = [&](TComDataPacket*, const std::string& b) { gotRecords.push_back(b); };
  records.OnDiscard = [&](TComDataPacket*, const std::string& b) { junk += b; };
  lines.SetComPort(&P);
  records.SetComPort(&P);
  P.Open();
  constexpr int kFrames = 400;
  std::string all;
  char frame[16];
  for (int i = 0; i < kFrames; ++i) all.append(frame, static_cast<size_t>(std::snprintf(frame, sizeof frame, "#%04d\r\n", i)));
  std::thread far([&] {
    for (size_t at = 0; at < all.size(); at += 13) Pty.Send(all.substr(at, 13));
  });
  const bool arrived = WaitUntil([&] { return gotLines.size() == kFrames && gotRecords.size() == kFrames; });
  far.join();
  ASSERT_TRUE(arrived) << gotLines.size() << " lines, " << gotRecords.size() << " records";
  for (int i = 0; i < kFrames; ++i) {
    std::snprintf(frame, sizeof frame, "#%04d", i);
    ASSERT_EQ(gotLines[static_cast<size_t>(i)], frame);
    ASSERT_EQ(gotRecords[static_cast<size_t>(i)], frame + 1);
  }
  EXPECT_EQ(junk, std::string(kFrames - 1, '\n'));  // the last one waits for the next start
  P.Close();
}

TEST_F(PtyFrames, AHandlerClosingThePortEndsItsArrival) {
  TComDataPacket s;
  s.SetStopString("\r");
  std::vector<std::string> packets;
  std::string discarded;
  s.OnPacket = [&](TComDataPacket*, const std::string& b) {
    packets.push_back(b);
    if (b == "BYE") P.Close();
  };
  s.OnDiscard = [&](TComDataPacket*, const std::string& b) { discarded += b; };
  s.SetComPort(&P);
  P.Open();
  const std::string sent = "a\rBYE\rafter\rmore";
  Pty.Send(sent);
  // The batch waits for this thread: let every byte be queued first, so
  // that all come in one arrival.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (P.InputCount() < static_cast<int32_t>(sent.size()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(WaitUntil([&] { return !P.Connected(); }));
  EXPECT_EQ(packets, (std::vector<std::string>{"a", "BYE"}));
  EXPECT_EQ(discarded, "after\rmore");
  EXPECT_EQ(s.ComPort(), &P);
}

TEST_F(PtyFrames, TheStreamReadsLinesAndWritesFrames) {
  P.SetEvents({});
  P.Open();
  FirstByteWithin(3000);
  TComStream s(P);
  std::string line;
  Pty.Send("#02SR016\r#02?001");
  ASSERT_TRUE(std::getline(s, line, '\r'));
  EXPECT_EQ(line, "#02SR016");
  Pty.Send("002\r");
  ASSERT_TRUE(std::getline(s, line, '\r'));  // the second line came in two pieces
  EXPECT_EQ(line, "#02?001002");

  s << "%05?" << '\r' << std::flush;
  EXPECT_EQ(Pty.Receive(5), "%05?\r");
  s << "%05t\r";  // goes out before the answer is awaited
  Pty.Send("#02t\r");
  ASSERT_TRUE(std::getline(s, line, '\r'));
  EXPECT_EQ(Pty.Receive(5), "%05t\r");

  FirstByteWithin(100);
  EXPECT_FALSE(std::getline(s, line, '\r')) << "nothing more came";
  EXPECT_TRUE(s.eof());
  s.clear();
  Pty.Send("broken");
  EXPECT_TRUE(std::getline(s, line, '\r'));
  EXPECT_EQ(line, "broken");
  EXPECT_TRUE(s.eof()) << "a line without its end says so";
  s.clear();
  Pty.Send(" line\r");
  ASSERT_TRUE(std::getline(s, line, '\r'));
  EXPECT_EQ(line, " line");
  P.Close();
}

TEST_F(PtyFrames, AFailedWriteMakesTheStreamBad) {
  P.SetEvents({});
  P.Open();
  TComTimeouts t = P.Timeouts();
  t.SetWriteTotalM(0);
  t.SetWriteTotalC(50);
  P.SetTimeouts(t);
  {
    TComStream s(P);  // the far end reads nothing: the line fills up
    s << std::string(8 << 20, 'x') << std::flush;
    EXPECT_TRUE(s.bad()) << "short write";
    P.Close();
  }
  TComStream s(P);
  s << "x" << std::flush;
  EXPECT_TRUE(s.bad()) << "closed port";
  s.clear();
  s.exceptions(std::ios::badbit);
  try {
    s << "x" << std::flush;
    ADD_FAILURE() << "no exception";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), CError_WriteFailed);
  }
}

}  // namespace

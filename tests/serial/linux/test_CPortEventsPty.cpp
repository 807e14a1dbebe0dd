// SPDX-License-Identifier: MIT
// The event thread on a real terminal device (a pseudo-terminal): arrivals,
// the drained output queue, a vanished line, waiting for one event, and many
// opens and closes with bytes flowing.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "CPort.h"
#include "ComDriverLinux.h"
#include "Pty.h"

using namespace cport;
using cport::test::TPty;
using cport::test::WaitUntil;

namespace {

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Stand-in for the modem-line wait (a pseudo-terminal has none): it blocks
// in the kernel on an empty pipe, which a signal ends unless its handler
// restarts the call, as with the real wait.
int gLinePipe[2] = {-1, -1};
std::atomic<int> gInLineWait{0};
int PipeLineWait(int) {
  ++gInLineWait;
  char c;
  const ssize_t n = ::read(gLinePipe[0], &c, 1);
  --gInLineWait;
  return n == 1 ? 0 : -1;
}
void ProgramHandler(int) {}

class PtyEvents : public ::testing::Test {
 protected:
  TPty Pty;
  TComPort P;
  void SetUp() override { P.SetPort(Pty.Path()); }
};

TEST_F(PtyEvents, EachArrivalIsReportedOnceWhileTheBytesStayQueued) {
  std::atomic<int> events{0};
  std::atomic<int> lastCount{0};
  P.OnRxChar = [&](TCustomComPort*, int32_t n) {
    ++events;
    lastCount = n;
  };
  P.Open();
  Pty.Send("abc");
  ASSERT_TRUE(WaitUntil([&] { return events.load() >= 1; }));
  EXPECT_EQ(lastCount.load(), 3);
  Pty.Send("de");
  ASSERT_TRUE(WaitUntil([&] { return lastCount.load() == 5; }));
  // Nobody read: a wait that stayed ready for queued bytes would have
  // reported again and again.
  EXPECT_LE(events.load(), 2);
  EXPECT_EQ(P.InputCount(), 5);
  char buf[8];
  EXPECT_EQ(P.Read(buf, 8), 5);
  P.Close();
}

TEST_F(PtyEvents, TheInputQueueCountsAsFullAtEightyPercentOfItsSize) {
  std::atomic<int> waiting{0}, full{0};
  P.OnRxChar = [&](TCustomComPort*, int32_t n) { waiting = n; };
  P.OnRx80Full = [&](TCustomComPort*) { ++full; };
  TComBuffer b;
  b.SetInputSize(100);
  P.SetBuffer(b);
  P.Open();
  Pty.Send(std::string(79, 'a'));
  // A batch runs whole on this thread: once its count shows, its other
  // events have run too.
  ASSERT_TRUE(WaitUntil([&] { return waiting.load() == 79; }));
  EXPECT_EQ(full.load(), 0) << "79 of 100";
  Pty.Send("b");
  ASSERT_TRUE(WaitUntil([&] { return waiting.load() == 80; }));
  EXPECT_EQ(full.load(), 1) << "80 of 100";
  P.Close();
}

TEST_F(PtyEvents, TheDrainedOutputQueueIsReported) {
  std::atomic<int> empties{0};
  P.OnTxEmpty = [&](TCustomComPort*) { ++empties; };
  P.Open();
  P.WriteStr("#05p00050\r");
  ASSERT_TRUE(WaitUntil([&] { return empties.load() == 1; }));
  EXPECT_EQ(Pty.Receive(10), "#05p00050\r");
  P.Close();
}

TEST_F(PtyEvents, AVanishedLineIsReportedOnceAndTheThreadSleepsAfterwards) {
  std::atomic<int> errors{0};
  std::atomic<uint8_t> bits{0};
  P.OnError = [&](TCustomComPort*, TComErrors e) {
    ++errors;
    bits = e.Bits();
  };
  P.Open();
  Pty.HangUp();
  ASSERT_TRUE(WaitUntil([&] { return errors.load() == 1; }));
  EXPECT_EQ(bits.load(), TComErrors{ceIO}.Bits());
  // A thread spinning on the dead line would burn a whole core meanwhile.
  const double cpu0 = ProcessCpuSeconds();
  EXPECT_FALSE(WaitUntil([&] { return errors.load() > 1; }, 500));
  EXPECT_LT(ProcessCpuSeconds() - cpu0, 0.25);
  P.Close();
}

TEST_F(PtyEvents, WaitForEventOnTheDevice) {
  P.SetEvents({});
  P.Open();
  TComEvents e{evRxChar};
  const auto t0 = std::chrono::steady_clock::now();
  P.WaitForEvent(e, nullptr, 0);
  EXPECT_TRUE(e.Empty());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));

  // Only what arrives while waiting counts, so keep sending until the wait
  // has seen a byte.
  std::atomic<bool> done{false};
  std::thread sender([&] {
    while (!done) {
      Pty.Send("z");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  e = TComEvents{evRxChar, evCTS};
  P.WaitForEvent(e, nullptr, 10000);
  done = true;
  sender.join();
  EXPECT_EQ(e, TComEvents{evRxChar});

  auto stop = P.Driver().CreateSignal();
  stop->Set();
  e = TComEvents{evRxChar};
  P.WaitForEvent(e, stop.get(), -1);  // ended by the stop signal
  EXPECT_TRUE(e.Empty());
  P.Close();
}

// A read takes from the terminal whatever has come, also bytes that arrive
// while a handler runs; what it leaves behind in the driver is reported as
// an arrival of its own, or it would wait for the next one.
TEST_F(PtyEvents, BytesAReadLeavesBehindAreReported) {
  std::string got;
  P.OnRxChar = [&](TCustomComPort* p, int32_t n) {
    if (got.empty()) {
      Pty.Send("B");
      int queued = 0;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (queued == 0 && std::chrono::steady_clock::now() < deadline) ::ioctl(Pty.Slave(), FIONREAD, &queued);
    }
    char buf[8];
    got.append(buf, static_cast<size_t>(p->Read(buf, n)));
  };
  P.Open();
  Pty.Send("A");
  EXPECT_TRUE(WaitUntil([&] { return got == "AB"; }, 5000)) << got;
  P.Close();
}

TEST_F(PtyEvents, ClosingDiscardsWhatIsStillQueued) {
  P.Open();
  Pty.Send("left behind");
  ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 11; }));
  P.Close();
  P.SetEvents({});
  P.Open();
  EXPECT_EQ(P.InputCount(), 0);
  P.Close();
}

// The usual reconnect: a handler closes its port and opens it at once.
TEST_F(PtyEvents, AHandlerMayCloseAndReopenItsPortAtOnce) {
  for (TSyncMethod m : {smThreadSync, smNone, smWindowSync}) {
    TComPort p;
    p.SetPort(Pty.Path());
    p.SetSyncMethod(m);
    std::atomic<int> reopened{0};  // 1 reopened, -1 refused
    p.OnRxChar = [&](TCustomComPort* self, int32_t) {
      if (reopened.load() != 0) return;
      self->Close();
      try {
        self->Open();
        reopened = 1;
      } catch (const EComPort&) {
        reopened = -1;
      }
    };
    p.Open();
    Pty.Send("x");
    ASSERT_TRUE(WaitUntil([&] { return reopened.load() != 0; })) << m;
    EXPECT_EQ(reopened.load(), 1) << m;
    EXPECT_TRUE(p.Connected()) << m;
    p.Close();
    Pty.Drain();
  }
}

TEST_F(PtyEvents, TheModemHelperEndsAtCloseWhateverTheProgramDoesWithSignals) {
  ASSERT_EQ(::pipe(gLinePipe), 0);
  lnx::SetModemLineWaitForTesting(PipeLineWait);
  const int sig = SIGRTMIN + 3;
  struct sigaction original {};
  sigaction(sig, nullptr, &original);
  auto handle = [sig](void (*handler)(int), int flags) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = flags;
    sigaction(sig, &sa, nullptr);
  };
  const struct {
    const char* Name;
    bool ProgramDisposition;  // the program set the signal's disposition
    std::function<void()> Apply;
  } cases[] = {
      {"blocked in the opening thread", false,
       [sig] {
         sigset_t set;
         sigemptyset(&set);
         sigaddset(&set, sig);
         pthread_sigmask(SIG_BLOCK, &set, nullptr);
       }},
      {"ignored", true, [&] { handle(SIG_IGN, 0); }},
      {"handled with SA_RESTART", true, [&] { handle(ProgramHandler, SA_RESTART); }},
  };
  for (const auto& c : cases) {
    c.Apply();
    struct sigaction program {};
    sigaction(sig, nullptr, &program);
    {
      TComPort p;
      p.SetPort(Pty.Path());
      p.SetEvents({evCTS});
      p.Open();
      ASSERT_TRUE(WaitUntil([] { return gInLineWait.load() == 1; })) << c.Name;
      std::atomic<bool> closed{false};
      std::thread closer([&] {
        p.Close();
        closed = true;
      });
      const bool ended = WaitUntil([&] { return closed.load(); });
      if (!ended) {
        ASSERT_EQ(::write(gLinePipe[1], "x", 1), 1);  // let the helper go, so the test can end
      }
      closer.join();
      EXPECT_TRUE(ended) << c.Name << ": Close hung";
    }
    struct sigaction after {};
    sigaction(sig, nullptr, &after);
    if (c.ProgramDisposition) {  // left as the program set it
      EXPECT_EQ(after.sa_handler, program.sa_handler) << c.Name;
      EXPECT_EQ(after.sa_flags & SA_RESTART, program.sa_flags & SA_RESTART) << c.Name;
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    sigaction(sig, &original, nullptr);
  }
  lnx::SetModemLineWaitForTesting(nullptr);
  ::close(gLinePipe[0]);
  ::close(gLinePipe[1]);
}

// The event character is seen as it arrives, while every byte still
// reaches the reader once and in order, and the count includes them all.
TEST_F(PtyEvents, TheEventCharacterRaisesRxFlagAndEveryByteIsReadOnceInOrder) {
  std::atomic<int> flags{0};
  P.SetEventChar('\r');
  P.OnRxFlag = [&](TCustomComPort*) { ++flags; };
  P.Open();
  Pty.Send("%05t");
  ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 4; }));
  EXPECT_EQ(flags.load(), 0);
  Pty.Send("\r#02");
  ASSERT_TRUE(WaitUntil([&] { return flags.load() == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 8; }));
  std::string got;
  EXPECT_EQ(P.ReadStr(got, 3), 3);
  EXPECT_EQ(got, "%05");
  Pty.Send("?x\r");
  ASSERT_TRUE(WaitUntil([&] { return flags.load() == 2; }));
  ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 8; }));
  EXPECT_EQ(P.ReadStr(got, 20), 8);
  EXPECT_EQ(got, "t\r#02?x\r");
  EXPECT_EQ(P.InputCount(), 0);
  P.Close();
}

// Handlers on the event thread read what arrives while the main thread
// writes and changes the line: run under ThreadSanitizer in CI.
TEST_F(PtyEvents, SettingsChangeWhileEventsAreWatchedAndBytesFlowBothWays) {
  std::mutex m;
  std::string received;
  std::atomic<int> empties{0};
  P.SetSyncMethod(smNone);
  P.SetTriggersOnRxChar(false);
  P.OnRxBuf = [&](TCustomComPort*, const void* b, int32_t n) {
    std::lock_guard<std::mutex> lock(m);
    received.append(static_cast<const char*>(b), static_cast<size_t>(n));
  };
  P.OnTxEmpty = [&](TCustomComPort*) { ++empties; };
  P.Open();
  std::atomic<bool> stop{false};
  std::atomic<size_t> echoed{0};
  std::thread farEnd([&] {
    while (!stop) {
      Pty.Send("ping");
      echoed += Pty.Drain(1).size();
    }
  });
  const TBaudRate rates[] = {br9600, br115200, br1200, br57600};
  for (int i = 0; i < 200; ++i) {
    P.SetBaudRate(rates[i % 4]);
    P.SetDataBits(i % 2 ? dbSeven : dbEight);
    P.SetEventChar(i % 2 ? '\r' : '\n');
    P.SetDiscardNull(i % 3 == 0);
    ASSERT_EQ(P.WriteStr("pong"), 4);
  }
  ASSERT_TRUE(WaitUntil([&] { return echoed.load() >= 800; }));
  stop = true;
  farEnd.join();
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(m);
    return !received.empty() && received.size() % 4 == 0;
  }));
  P.Close();
  EXPECT_GT(empties.load(), 0);
  std::lock_guard<std::mutex> lock(m);
  for (size_t i = 0; i < received.size(); i += 4) ASSERT_EQ(received.substr(i, 4), "ping") << i;
}

TEST_F(PtyEvents, ManyOpensAndClosesWithBytesFlowingLoseNothing) {
  std::atomic<int> rxEvents{0};
  P.OnRxChar = [&](TCustomComPort*, int32_t) { ++rxEvents; };
  for (int i = 0; i < 1000; ++i) {
    P.Open();
    const std::string ping = "ping" + std::to_string(i);
    Pty.Send(ping);
    ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == static_cast<int32_t>(ping.size()); })) << i;
    std::string got;
    P.ReadStr(got, 64);
    ASSERT_EQ(got, ping) << i;
    const std::string pong = "pong" + std::to_string(i);
    ASSERT_EQ(P.WriteStr(pong), static_cast<int32_t>(pong.size()));
    ASSERT_EQ(Pty.Receive(pong.size()), pong) << i;
    P.Close();
  }
  EXPECT_GT(rxEvents.load(), 0);
}

}  // namespace

// SPDX-License-Identifier: MIT
// The event thread on a real terminal device (a pseudo-terminal): arrivals,
// the drained output queue, a vanished line, waiting for one event, and many
// opens and closes with bytes flowing.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include "CPort.h"
#include "ComDriverLinux.h"
#include "Pty.h"
#include "Watchdog.h"

using namespace cport;
using cport::test::TPty;
using cport::test::WaitUntil;
using cport::test::WaitUntilPolling;

namespace {

long ResidentKb() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Stand-in for the modem-line wait (a pseudo-terminal has none): it blocks
// in the kernel on an empty pipe, in a call that is no cancellation point,
// as the real wait does.
int gLinePipe[2] = {-1, -1};
std::atomic<int> gLineWaits{0};
__attribute__((noinline, no_sanitize("thread"))) long BlockingRead(int fd) {
  char c;
  return ::syscall(SYS_read, fd, &c, 1);
}
long (*volatile gBlockingRead)(int) = BlockingRead;  // a call the compiler cannot know will not throw
int PipeLineWait(int) {
  ++gLineWaits;
  return gBlockingRead(gLinePipe[0]) == 1 ? 0 : -1;
}
// The same, but it pauses before it blocks: the stop may come in the pause.
int LateLineWait(int fd) {
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  return PipeLineWait(fd);
}
std::atomic<int> gProgramHandlerRuns{0};
void ProgramHandler(int) { ++gProgramHandlerRuns; }

class PtyEvents : public ::testing::Test {
 protected:
  TPty Pty;
  TComPort P;
  void SetUp() override { P.SetPort(Pty.Path()); }
};

// WaitForEvent, on a port opened without an event thread.
class PtyWait : public PtyEvents {
  void SetUp() override {
    PtyEvents::SetUp();
    P.SetEvents({});
    P.SetEventChar('\r');
    P.Open();
  }
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

// Not while a long write is still pending, and once when it completes;
// repeated, as an early report used to come only now and then.  Batches
// are handed over in order: once a byte from the far end has been
// reported, every event before it has been too.
TEST_F(PtyEvents, TxEmptyComesOnceWhenAPendingWriteCompletes) {
  std::atomic<int> empties{0}, arrivals{0};
  P.SetEvents({evTxEmpty, evRxChar});
  P.OnTxEmpty = [&](TCustomComPort*) { ++empties; };
  P.OnRxChar = [&](TCustomComPort*, int32_t) { ++arrivals; };
  P.Timeouts().SetWriteTotalM(0);
  P.Timeouts().SetWriteTotalC(0);
  P.Open();
  auto settled = [&] {
    const int before = arrivals.load();
    Pty.Send(".");
    return WaitUntil([&] { return arrivals.load() > before; });
  };
  const std::string big(1 << 20, 'x');
  PAsync a = nullptr;
  InitAsync(a);
  for (int run = 0; run < 8; ++run) {
    empties = 0;
    P.WriteAsync(big.data(), static_cast<int32_t>(big.size()), a);
    ASSERT_EQ(Pty.Receive(1 << 16).size(), 1u << 16);
    ASSERT_TRUE(settled());
    EXPECT_EQ(empties.load(), 0) << "run " << run << ": evTxEmpty while the write was pending";
    ASSERT_EQ(Pty.Receive(big.size() - (1 << 16), 20000).size(), big.size() - (1 << 16));
    EXPECT_EQ(P.WaitForAsync(a), static_cast<int32_t>(big.size()));
    ASSERT_TRUE(WaitUntil([&] { return empties.load() > 0; }) && settled()) << run;
    EXPECT_EQ(empties.load(), 1) << run;
  }
  DoneAsync(a);
  P.Close();
}

// Paused, arrivals wake nobody and a lamp hears of bytes from the reads;
// resuming reports what waits; a hang-up is heard anyway.  An arrival is judged unheard after a later evTxEmpty: batches
// come in order, and an armed wait has the arrival's edge before that kick.
TEST_F(PtyEvents, APausedPortReportsArrivalsOnlyOnceResumed) {
  std::atomic<int> arrivals{0}, empties{0};
  std::atomic<uint8_t> errors{0};
  P.OnRxChar = [&](TCustomComPort*, int32_t) { ++arrivals; };
  P.OnTxEmpty = [&](TCustomComPort*) { ++empties; };
  P.OnError = [&](TCustomComPort*, TComErrors e) { errors = e.Bits(); };
  TComLink lamp;
  int lampOn = 0;
  lamp.OnRx = [&](TCustomComPort*, bool on) { lampOn += on; };
  P.RegisterLink(&lamp);
  auto arriveUnheard = [&](const std::string& bytes) {
    const int before = arrivals.load(), emptiesBefore = empties.load();
    Pty.Send(bytes);
    EXPECT_TRUE(WaitUntil([&] { return P.InputCount() == int(bytes.size()); }));
    P.WriteStr("x");
    EXPECT_TRUE(WaitUntil([&] { return empties.load() > emptiesBefore; }));
    EXPECT_EQ(arrivals.load(), before) << "reported while paused";
    Pty.Receive(1);
  };
  P.Open();
  P.PauseRxChar();
  arriveUnheard("ab");
  char buf[8];
  EXPECT_EQ(P.Read(buf, 8), 2);
  EXPECT_EQ(lampOn, 1) << "bytes read while paused left the lamp dark";
  arriveUnheard("cd");
  P.ResumeRxChar();
  EXPECT_TRUE(WaitUntil([&] { return arrivals.load() == 1; })) << "the waiting bytes went unreported";
  P.PauseRxChar();
  Pty.HangUp();
  EXPECT_TRUE(WaitUntil([&] { return errors.load() == TComErrors{ceIO}.Bits(); })) << "hang-up unheard while paused";
  P.Close();
  P.UnRegisterLink(&lamp);
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

// Bytes that were there before the wait are not reported by it; the event
// character sent while it sleeps is, and every byte stays readable once the
// wait has put the mask back.
TEST_F(PtyWait, WaitForEventReportsWhatArrivesWhileItWaits) {
  Pty.Send("old");
  ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 3; }));
  TComEvents e{evRxChar};
  P.WaitForEvent(e, nullptr, 300);
  EXPECT_TRUE(e.Empty()) << "bytes from before the wait reported";

  const int self = test::ThreadId();
  std::thread sender([&] {
    WaitUntilPolling(self);
    Pty.Send("ab\rcd");
  });
  e = TComEvents{evRxFlag};
  P.WaitForEvent(e, nullptr, 10000);
  sender.join();
  EXPECT_EQ(e, TComEvents{evRxFlag});
  std::string got;
  P.ReadStr(got, 20);
  EXPECT_EQ(got, "oldab\rcd");
}

// A new stop signal may get the descriptor number of one destroyed before:
// the wait listens to the object it is given.
TEST_F(PtyWait, WaitForEventHearsEachNewStopSignal) {
  TComEvents first{evRxChar}, got{evRxChar};
  P.WaitForEvent(first, P.Driver().CreateSignal().get(), 0);
  auto stop = P.Driver().CreateSignal();
  test::TOnThread waiter([&] { P.WaitForEvent(got, stop.get(), -1); });
  EXPECT_TRUE(waiter.Asleep());
  stop->Set();
  const bool heard = waiter.Ended();
  if (!heard) Pty.Send("x");  // let the waiter go, so the test can end
  EXPECT_TRUE(heard) << "the stop signal went unheard";
  EXPECT_EQ(waiter.Code(), 0);
}

// A Set racing a Reset leaves the signal set or not set, never half of
// each: a wait on a signal that reads as not set then sleeps.
TEST_F(PtyWait, ASignalSetAndResetAtOnceLeavesAWaitAsleep) {
  auto stop = P.Driver().CreateSignal();
  std::atomic<int> ready{0}, go{0}, done{0};
  std::thread setter([&] {
    for (int r = 1; r <= 500; ++r) {
      while (ready.load() < r) {
      }
      go = r;
      stop->Set();
      done = r;
    }
  });
  int spun = 0;
  for (int r = 1; r <= 500; ++r) {
    ready = r;
    while (go.load() < r) {
    }
    stop->Reset();  // while the other thread sets it
    while (done.load() < r) {
    }
    if (stop->IsSet()) stop->Reset();
    TComEvents e{evRxChar};
    const uint64_t before = lnx::WakeupsForTesting();
    P.WaitForEvent(e, stop.get(), 1);
    spun += lnx::WakeupsForTesting() - before > 20;
  }
  setter.join();
  EXPECT_EQ(spun, 0) << "waits spun instead of sleeping";
}

// Close ends a WaitForEvent of another thread and waits for it to leave;
// the stop signal may be set afterwards.
TEST_F(PtyWait, CloseEndsAWaitForEventOfAnotherThread) {
  auto stop = P.Driver().CreateSignal();
  TComEvents e{evRxChar};
  test::TOnThread waiter([&] { P.WaitForEvent(e, stop.get(), -1); });
  EXPECT_TRUE(waiter.Asleep());
  test::SetTestDeadline(20);
  P.Close();
  EXPECT_TRUE(waiter.Ended()) << "Close did not end the wait";
  stop->Set();
  EXPECT_EQ(waiter.Code(), 21);
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

// Whatever the program does with signals, before or after Open: the watch
// of the modem lines ends at Close and never runs the program's handler.
TEST_F(PtyEvents, TheModemHelperEndsAtCloseWhateverTheProgramDoesWithSignals) {
  ASSERT_EQ(::pipe(gLinePipe), 0);
  std::vector<struct sigaction> original(static_cast<size_t>(SIGRTMAX + 1));
  sigset_t all;
  sigemptyset(&all);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
    sigaction(sig, nullptr, &original[static_cast<size_t>(sig)]);
    sigaddset(&all, sig);
  }
  auto handleAll = [](void (*handler)(int), int flags) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sa.sa_flags = flags;
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaction(sig, &sa, nullptr);
  };
  const struct {
    const char* Name;
    bool AfterOpen;
    std::function<void()> Apply;
    lnx::TModemLineWait Wait = PipeLineWait;
  } cases[] = {
      {"blocked in the opening thread", false, [&] { pthread_sigmask(SIG_BLOCK, &all, nullptr); }},
      {"ignored", false, [&] { handleAll(SIG_IGN, 0); }},
      {"handled with SA_RESTART", false, [&] { handleAll(ProgramHandler, SA_RESTART); }},
      {"ignored after Open", true, [&] { handleAll(SIG_IGN, 0); }},
      {"handled with SA_RESTART after Open", true, [&] { handleAll(ProgramHandler, SA_RESTART); }},
      {"set to its default after Open", true, [&] { handleAll(SIG_DFL, 0); }},
      {"closed before the helper waits", false, [] {}, LateLineWait},
  };
  for (const auto& c : cases) {
    lnx::SetModemLineWaitForTesting(c.Wait);
    if (!c.AfterOpen) c.Apply();
    TComPort p;
    p.SetPort(Pty.Path());
    p.SetEvents({evCTS});
    const int waits = gLineWaits.load();
    p.Open();
    ASSERT_TRUE(c.Wait != PipeLineWait || WaitUntil([&] { return gLineWaits.load() > waits; })) << c.Name;
    if (c.AfterOpen) c.Apply();
    {
      test::TOnThread closer([&] { p.Close(); });
      if (!closer.Ended()) {
        ADD_FAILURE() << c.Name << ": Close hung";
        ASSERT_EQ(::write(gLinePipe[1], "x", 1), 1);  // let the helper go, so the test can end
      }
    }
    EXPECT_EQ(gProgramHandlerRuns.load(), 0) << c.Name << ": the program's handler ran";
    pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaction(sig, &original[static_cast<size_t>(sig)], nullptr);
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

// The driver's own queue, where arrivals go while the event character is
// watched: a pending read (without time limits) sees bytes that reach it
// just as the read starts; the count never counts a byte twice, nor keeps
// one a purge took; and the queue holds what is queued, not what has
// passed through it.
TEST_F(PtyEvents, TheDriversOwnQueueIsJudgedCountedAndSizedWithTheTerminal) {
  P.SetEvents({evRxFlag});
  P.SetEventChar('\r');
  P.Open();
  P.Timeouts().SetReadInterval(0);
  constexpr int kReads = 5000;
  std::counting_semaphore<kReads> go{0};
  test::TOnThread sender([&] {
    for (int i = 0; i < kReads; ++i) {
      go.acquire();
      Pty.Send("x");
    }
  });
  PAsync a = nullptr;
  InitAsync(a);
  char c;
  int reads = 0;
  for (bool done = true; reads < kReads && done; ++reads) {
    go.release();
    P.ReadAsync(&c, 1, a);
    for (int spin = 0; spin < 1000 && !P.IsAsyncCompleted(a); ++spin) std::this_thread::yield();
    done = WaitUntil([&] { return P.IsAsyncCompleted(a); }, 5000);
    EXPECT_TRUE(done) << "read " << reads << " stalled with " << P.InputCount() << " bytes waiting";
  }
  go.release(kReads - reads);
  EXPECT_TRUE(sender.Ended());
  DoneAsync(a);
  P.ClearBuffer(true, false);
  P.SetTimeouts(TComTimeouts{});
  const std::string burst(4000, 'x');
  int over = 0, leftByPurge = 0;
  for (int round = 0; round < 3000; ++round) {
    Pty.Send(burst);
    for (int counted = 0; counted < 4000;) over = std::max(over, (counted = P.InputCount()) - 4000);
    P.ClearBuffer(true, false);
    leftByPurge = std::max(leftByPurge, P.InputCount());
  }
  EXPECT_EQ(over, 0) << "bytes counted that were never sent";
  EXPECT_EQ(leftByPurge, 0) << "bytes left by a purge";
  const long before = ResidentKb();
  std::vector<char> buf(burst.size());
  Pty.Send("abc");  // always three bytes more than were read
  for (int i = 0; i < 4096; ++i) {  // 16 MB
    Pty.Send(burst);
    ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 4003; })) << i;
    ASSERT_EQ(P.Read(buf.data(), 4000), 4000);
  }
  EXPECT_LT(ResidentKb() - before, 8 * 1024) << "kB more resident after 16 MB";
}

// What was read reaches OnRxBuf, not what was counted: dropped zero bytes
// leave no stale bytes behind.
TEST_F(PtyEvents, OnRxBufGetsTheBytesReadNotTheBytesCounted) {
  std::atomic<int32_t> count{0};
  std::string got;
  P.SetEvents({evRxChar});
  P.SetDiscardNull(true);
  P.SetTriggersOnRxChar(false);
  P.OnRxBuf = [&](TCustomComPort*, const void* b, int32_t n) {
    got.assign(static_cast<const char*>(b), static_cast<size_t>(n));  // runs on this thread
    count = n;
  };
  P.Open();
  Pty.Send(std::string("a\0b\0", 4));
  ASSERT_TRUE(WaitUntil([&] { return count.load() != 0; }));
  EXPECT_EQ(got, "ab");
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

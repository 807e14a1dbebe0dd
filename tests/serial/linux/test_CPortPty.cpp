// SPDX-License-Identifier: MIT
// The port on a real terminal device: a pseudo-terminal whose far end the
// test plays.  Opening and closing, every transfer form, time-outs, status
// and control, and what termios really carries.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "CPort.h"
#include "ComHooksLinux.h"
#include "Pty.h"
#include "PtyPortFixture.h"
#include "Watchdog.h"

using namespace cport;
using cport::test::TPty;
using cport::test::WaitUntil;
using cport::test::WaitUntilPolling;
using cport::test::kLimitCases;
using cport::test::TLimitCase;
using cport::test::LineOf;
using cport::test::MsSince;
using cport::test::PtyPort;
using cport::test::TRescue;
using Clock = std::chrono::steady_clock;

namespace {

// -- opening and closing ---------------------------------------------------------------

TEST_F(PtyPort, OpenAndCloseReportInOrder) {
  std::vector<std::string> log;
  P.OnBeforeOpen = [&](TCustomComPort*) { log.push_back("before open"); };
  P.OnAfterOpen = [&](TCustomComPort*) { log.push_back("after open"); };
  P.OnCTSChange = [&](TCustomComPort*, bool on) { log.push_back(std::string("cts ") + (on ? "on" : "off")); };
  P.OnDSRChange = [&](TCustomComPort*, bool on) { log.push_back(std::string("dsr ") + (on ? "on" : "off")); };
  P.OnRLSDChange = [&](TCustomComPort*, bool on) { log.push_back(std::string("rlsd ") + (on ? "on" : "off")); };
  P.OnBeforeClose = [&](TCustomComPort*) { log.push_back("before close"); };
  P.OnAfterClose = [&](TCustomComPort* p) { log.push_back(p->Connected() ? "after close, open" : "after close"); };
  P.Open();
  P.Open();  // already open: nothing
  EXPECT_TRUE(P.Connected());
  P.Close();
  P.Close();  // already closed: nothing
  // A pseudo-terminal has no modem lines: they read as off.
  EXPECT_EQ(log, (std::vector<std::string>{"before open", "after open", "cts off", "dsr off", "rlsd off", "cts off",
                                           "dsr off", "rlsd off", "before close", "after close"}));
}

TEST_F(PtyPort, ASecondOpenOfTheSamePortIsRefused) {
  P.Open();
  TComPort second;
  second.SetEvents({});
  second.SetPort(Pty.Path());
  try {
    second.Open();
    FAIL() << "second open succeeded";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 1);
    EXPECT_TRUE(e.SystemErrorCode() == EWOULDBLOCK || e.SystemErrorCode() == EBUSY) << e.SystemErrorCode();
  }
  EXPECT_FALSE(second.Connected());
  P.Close();
  EXPECT_NO_THROW(second.Open());  // free again
}

TEST(PortOpen, FailuresLeaveThePortClosedAfterOneBeforeOpenReport) {
  char file[] = "/tmp/cport-notatty-XXXXXX";
  const int fd = ::mkstemp(file);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "keep", 4), 4);
  ::close(fd);
  struct {
    std::string Name;
    int Errno;
  } cases[] = {{file, ENOTTY}, {"/dev/cport-no-such-device", ENOENT}, {"/dev/pts/../pts/0", EINVAL}, {"", ENOENT}};
  for (auto& c : cases) {
    TComPort p;
    p.SetEvents({});
    p.SetPort(c.Name);
    int before = 0, after = 0;
    p.OnBeforeOpen = [&](TCustomComPort*) { ++before; };
    p.OnAfterOpen = [&](TCustomComPort*) { ++after; };
    try {
      p.Open();
      ADD_FAILURE() << c.Name << " opened";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ComErrorCode(), 1) << c.Name;
      EXPECT_EQ(e.SystemErrorCode(), c.Errno) << c.Name;
      EXPECT_EQ(std::string(e.what()), "Unable to open com port (win error code: " + std::to_string(c.Errno) + ")");
    }
    EXPECT_FALSE(p.Connected());
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 0);
  }
  std::ifstream in(file);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");  // refused before anything was written
  ::unlink(file);
}

TEST_F(PtyPort, ClosingGivesTheLineBackAsItWasFound) {
  const auto before = LineOf(Pty);
  ASSERT_TRUE(before.c_lflag & ICANON);
  P.Open();
  EXPECT_FALSE(LineOf(Pty).c_lflag & ICANON);
  P.Close();
  const auto after = LineOf(Pty);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
}

// -- what termios carries -----------------------------------------------------------------

TEST_F(PtyPort, TheLineCarriesTheSettings) {
  P.Open();
  auto t = LineOf(Pty);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_ospeed, 9600u);

  // (A pseudo-terminal forces eight bits without parity whatever it is
  // asked; those two are checked on the mapping itself.)
  P.BeginUpdate();
  P.SetStopBits(sbTwoStopBits);
  P.FlowControl().SetFlowControl(fcSoftware);
  P.Parity().SetCheck(true);
  P.SetBaudRate(br115200);
  P.EndUpdate();
  t = LineOf(Pty);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_iflag & INPCK);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(t.c_cc[VSTART], 17);
  EXPECT_EQ(t.c_cc[VSTOP], 19);
  EXPECT_EQ(t.c_ospeed, 115200u);
}

// Flags an earlier program or setting left on the line must not survive a
// setting without them: CTS flow left on would stall output for good.
TEST_F(PtyPort, FlagsLeftOnTheLineAreCleared) {
  struct {
    const char* Name;
    tcflag_t Iflag, Cflag;
  } left[] = {{"CRTSCTS", 0, CRTSCTS}, {"IXON", IXON, 0}, {"IXOFF", IXOFF, 0},
              {"CSTOPB", 0, CSTOPB},   {"INPCK", INPCK, 0}, {"PARMRK", PARMRK, 0}};
  auto expectNoneLeft = [&](const char* when) {
    const auto t = LineOf(Pty);
    for (auto& l : left)
      EXPECT_TRUE(!(t.c_iflag & l.Iflag) && !(t.c_cflag & l.Cflag)) << l.Name << " left on " << when;
  };
  struct termios2 t = LineOf(Pty);
  for (auto& l : left) {
    t.c_iflag |= l.Iflag;
    t.c_cflag |= l.Cflag;
  }
  ASSERT_EQ(::ioctl(Pty.Slave(), TCSETS2, &t), 0);
  P.Open();
  expectNoneLeft("at open");
  // And on the open port, from one setting to the next.
  P.BeginUpdate();
  P.FlowControl().SetFlowControl(fcHardware);
  P.SetStopBits(sbTwoStopBits);
  P.Parity().SetCheck(true);
  P.EndUpdate();
  ASSERT_TRUE(LineOf(Pty).c_cflag & CRTSCTS);
  P.BeginUpdate();
  P.FlowControl().SetFlowControl(fcNone);
  P.SetStopBits(sbOneStopBit);
  P.Parity().SetCheck(false);
  P.EndUpdate();
  expectNoneLeft("by the previous setting");
}

TEST_F(PtyPort, RatesWithoutAConstantAndCustomRatesAreReadBack) {
  P.Open();
  P.SetBaudRate(br56000);
  auto t = LineOf(Pty);
  EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
  EXPECT_EQ(t.c_ospeed, 56000u);
  EXPECT_EQ(t.c_ispeed, 56000u);
  P.SetCustomBaudRate(31250);
  P.SetBaudRate(brCustom);
  EXPECT_EQ(LineOf(Pty).c_ospeed, 31250u);
  P.SetBaudRate(br9600);  // back to a constant
  t = LineOf(Pty);
  EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(B9600));
}

TEST_F(PtyPort, AnImpossibleSettingIsRefusedWithCode7) {
  P.Open();
  P.SetCustomBaudRate(0);
  try {
    P.SetBaudRate(brCustom);
    FAIL() << "rate 0 accepted";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 7);
    EXPECT_EQ(e.SystemErrorCode(), EINVAL);
  }
  EXPECT_EQ(LineOf(Pty).c_ospeed, 9600u);  // the line keeps what it had
}

// -- transfers ------------------------------------------------------------------------------

TEST_F(PtyPort, WriteStrSendsTheFrameExactly) {
  P.Open();
  EXPECT_EQ(P.WriteStr("#05p00050\r"), 10);
  EXPECT_EQ(Pty.Receive(10), "#05p00050\r");
  EXPECT_EQ(P.WriteStr(""), 0);
  EXPECT_EQ(P.Write("\0\x01\xFF", 3), 3);  // binary, no translation
  EXPECT_EQ(Pty.Receive(3), std::string("\0\x01\xFF", 3));
  EXPECT_EQ(Pty.Drain(50), "");
}

TEST_F(PtyPort, DefaultReadsReturnAtOnceWithWhatHasArrived) {
  P.Open();
  char buf[100] = {};
  const auto t0 = Clock::now();
  EXPECT_EQ(P.Read(buf, 20), 0);
  EXPECT_LT(MsSince(t0), 1000);

  Pty.Send("1234567");
  ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 7; }));
  EXPECT_EQ(P.Read(buf, 20), 7);
  EXPECT_EQ(std::string(buf, 7), "1234567");
  EXPECT_EQ(P.InputCount(), 0);

  Pty.Send("abcdefghijklmnopqrstuvwxy");
  ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 25; }));
  EXPECT_EQ(P.Read(buf, 20), 20);
  EXPECT_EQ(std::string(buf, 20), "abcdefghijklmnopqrst");
  EXPECT_EQ(P.InputCount(), 5);
}

TEST_F(PtyPort, ReadStrTakesTheLengthOfWhatWasRead) {
  P.Open();
  Pty.Send("hello");
  ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 5; }));
  std::string s = "previous";
  EXPECT_EQ(P.ReadStr(s, 20), 5);
  EXPECT_EQ(s, "hello");
  EXPECT_EQ(P.ReadStr(s, 0), 0);
  EXPECT_EQ(s, "");
}

TEST_F(PtyPort, ARecordWithoutATransferCompletesAtOnce) {
  P.Open();
  PAsync a = nullptr;
  InitAsync(a);
  EXPECT_EQ(P.WaitForAsync(a), 0);
  EXPECT_TRUE(P.IsAsyncCompleted(a));
  DoneAsync(a);
  EXPECT_EQ(a, nullptr);
}

TEST_F(PtyPort, NoRecordIsRefusedWithCode4) {
  P.Open();
  char buf[4];
  PAsync none = nullptr;
  const std::function<void()> calls[] = {
      [&] { P.WriteAsync(buf, 4, none); },
      [&] { P.ReadAsync(buf, 4, none); },
      [&] { P.WaitForAsync(none); },
      [&] { P.IsAsyncCompleted(none); },
  };
  for (auto& call : calls) {
    try {
      call();
      ADD_FAILURE() << "accepted";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ComErrorCode(), 4);
      EXPECT_STREQ(e.what(), "Invalid Async parameter");
    }
  }
}

TEST_F(PtyPort, AnOverlappedReadCompletesWhenItsBytesArrive) {
  P.Open();
  TComTimeouts t;
  t.SetReadInterval(0);
  t.SetReadTotalC(10000);
  P.SetTimeouts(t);
  char buf[8] = {};
  PAsync a = nullptr;
  InitAsync(a);
  EXPECT_EQ(P.ReadAsync(buf, 4, a), 0);  // pending
  EXPECT_FALSE(P.IsAsyncCompleted(a));
  Pty.Send("wxyz");
  EXPECT_EQ(P.WaitForAsync(a), 4);
  EXPECT_EQ(std::string(buf, 4), "wxyz");
  // The record may serve the next transfer.
  EXPECT_EQ(P.WriteAsync("ok", 2, a), 2);
  EXPECT_EQ(P.WaitForAsync(a), 2);
  EXPECT_EQ(a->DataSize, 2);
  DoneAsync(a);
  EXPECT_EQ(Pty.Receive(2), "ok");
}

TEST_F(PtyPort, AReadWithATotalLimitReturnsWhatArrivedWhenItExpires) {
  P.Open();
  TComTimeouts t;
  t.SetReadInterval(0);
  t.SetReadTotalM(0);
  t.SetReadTotalC(300);
  P.SetTimeouts(t);
  Pty.Send("abc");
  char buf[64];
  const auto t0 = Clock::now();
  EXPECT_EQ(P.Read(buf, 64), 3);
  const auto ms = MsSince(t0);
  EXPECT_GE(ms, 290);   // it waited for the rest
  EXPECT_LT(ms, 5000);  // and no longer than its limit (generously)
}

TEST_F(PtyPort, AReadWithAnIntervalLimitEndsWhenTheLineFallsSilent) {
  P.Open();
  TComTimeouts t;
  t.SetReadInterval(1000);  // far above the 20 ms gap: a busy machine must not split the read
  t.SetReadTotalC(0);
  P.SetTimeouts(t);
  std::thread feeder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Pty.Send("12");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Pty.Send("345");
  });
  char buf[64];
  const auto t0 = Clock::now();
  const int32_t n = P.Read(buf, 64);  // no total limit: waits for the first byte
  feeder.join();
  EXPECT_EQ(n, 5);
  EXPECT_EQ(std::string(buf, 5), "12345");
  EXPECT_LT(MsSince(t0), 5000);
}

TEST_F(PtyPort, AReadOfNothingEndsByItsTotalLimit) {
  P.Open();
  for (const TLimitCase& c : kLimitCases) {
    TComTimeouts t;
    t.SetReadInterval(0);
    t.SetReadTotalM(c.Multiplier);
    t.SetReadTotalC(c.Constant);
    P.SetTimeouts(t);
    char buf[10];
    int32_t n;
    int64_t ms;
    {
      TRescue rescue(10000, [&] { Pty.Send("0123456789"); });
      const auto t0 = Clock::now();
      n = P.Read(buf, 10);
      ms = MsSince(t0);
    }
    EXPECT_EQ(n, 0) << c.Multiplier << "/" << c.Constant << ": no limit, ended by the rescue";
    EXPECT_GE(ms, c.Ms - 5) << c.Multiplier << "/" << c.Constant;
    EXPECT_LT(ms, c.Ms + 5000) << c.Multiplier << "/" << c.Constant;
  }
}

TEST_F(PtyPort, AWriteHeldByXoffEndsByItsTimeout) {
  P.FlowControl().SetXonXoffOut(true);
  P.Open();
  // XOFF from the far end, then a marker: once the marker is queued the
  // line discipline has taken the XOFF.
  Pty.Send("\x13M");
  ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 1; }));
  for (const TLimitCase& c : kLimitCases) {
    TComTimeouts t;
    t.SetWriteTotalM(c.Multiplier);
    t.SetWriteTotalC(c.Constant);
    P.SetTimeouts(t);
    int32_t n;
    int64_t ms;
    {
      TRescue rescue(10000, [&] { Pty.Send("\x11"); });
      const auto t0 = Clock::now();
      n = P.WriteStr("#05p00050\r");
      ms = MsSince(t0);
    }
    EXPECT_LT(n, 10) << c.Multiplier << "/" << c.Constant << ": no limit, ended by the rescue";
    EXPECT_GE(ms, c.Ms - 5) << c.Multiplier << "/" << c.Constant;
    EXPECT_LT(ms, c.Ms + 5000) << c.Multiplier << "/" << c.Constant;
  }
  // Nothing of it goes out later when the far end lets output go again.
  Pty.Send("\x11");
  EXPECT_EQ(P.WriteStr("X"), 1);
  EXPECT_EQ(Pty.Receive(1), "X");
}


// Also while the event character is watched, when the driver holds what
// has arrived in a queue of its own.
TEST_F(PtyPort, PurgeEmptiesTheInputQueue) {
  for (bool watched : {false, true}) {
    P.SetEvents(watched ? TComEvents{evRxFlag} : TComEvents{});
    P.SetEventChar('s');  // the first byte: moved into the driver's queue before it is reported
    std::atomic<int> flags{0};
    P.OnRxFlag = [&](TCustomComPort*) { ++flags; };
    P.Open();
    Pty.Send("stale bytes");
    ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 11 && flags.load() == watched; }));
    P.ClearBuffer(false, false);  // no flags: still fine
    EXPECT_EQ(P.InputCount(), 11);
    P.ClearBuffer(true, false);
    EXPECT_EQ(P.InputCount(), 0) << watched;
    char buf[20];
    EXPECT_EQ(P.Read(buf, 20), 0) << watched;
    EXPECT_EQ(P.OutputCount(), 0);
    P.ClearBuffer(true, true);
    P.Close();
  }
}

TEST_F(PtyPort, ADeviceWithoutModemLinesOrCountersReportsNothingSet) {
  P.Open();
  EXPECT_TRUE(P.Signals().Empty());
  EXPECT_TRUE(P.LastErrors().Empty());
  EXPECT_EQ(P.StateFlags(), 0);
  // Switching a line the device does not have is a failure of its own.
  try {
    P.SetDTR(true);
    FAIL() << "DTR on a pseudo-terminal";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 12);
  }
}

// Output held by XOFF: a record released while its write is pending ends
// that write first, and a string handed to WriteStrAsync may go at once.
TEST_F(PtyPort, ARecordOwnsWhatItsPendingWriteNeeds) {
  P.Open();
  P.SetXonXoff(false);
  PAsync a = nullptr, b = nullptr;
  InitAsync(a);
  P.WriteAsync("held", 4, a);
  DoneAsync(a);
  InitAsync(b);  // likely where the released record was
  P.WriteStrAsync(std::string(32, 'f'), b);  // on the heap, and gone at once
  std::string reuse(32, '!');               // likely where the string was
  P.SetXonXoff(true);
  EXPECT_EQ(P.WaitForAsync(b), 32);
  DoneAsync(b);
  EXPECT_EQ(Pty.Receive(32), std::string(32, 'f'));
}

// Transfers and queries on other threads while the owner closes the port:
// each completes before the close or fails as on a closed port (or as
// aborted); none touches a released device.
TEST_F(PtyPort, TransfersOnOtherThreadsWhileThePortCloses) {
  P.Open();
  std::atomic<int> rounds{0};
  auto loop = [&](auto op) {
    return [&, op] {
      for (;; ++rounds) op();
    };
  };
  char buf[8];
  test::TOnThread writer(loop([&] { P.WriteStr("x"); }));
  test::TOnThread reader(loop([&] { P.Read(buf, 8); }));
  test::TOnThread counter(loop([&] { P.InputCount(); }));
  ASSERT_TRUE(WaitUntil([&] { return rounds.load() > 100; }));
  P.Close();
  for (auto* t : {&writer, &reader, &counter}) {
    EXPECT_TRUE(t->Ended());
    EXPECT_TRUE(t->Error() == EBADF || t->Error() == ECANCELED) << t->Error();
  }
  EXPECT_EQ(writer.Code(), 2);
  EXPECT_EQ(reader.Code(), 3);
  EXPECT_EQ(counter.Code(), 10);
}

// The port's lock belongs to the process: a child forked while it is open
// never holds it (running or gone), and other processes stay out.
TEST_F(PtyPort, ChildrenOfTheProgramNeverHoldThePort) {
  int hold[2];
  ASSERT_EQ(::pipe(hold), 0);
  P.Open();
  const pid_t child = ::fork();  // a child that does not exec, and lives on
  if (child == 0) {
    char c;
    _exit(::read(hold[0], &c, 1));
  }
  P.Close();
  EXPECT_NO_THROW(P.Open()) << "the child kept the port";
  const pid_t other = ::fork();  // another process taking the port as this one does
  if (other == 0) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    _exit(::fcntl(::open(Pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK), F_SETLK, &whole) == 0);
  }
  int status = 0;
  ::waitpid(other, &status, 0);
  EXPECT_EQ(status, 0) << "another process took the open port";
  ASSERT_EQ(::write(hold[1], "x", 1), 1);
  ::waitpid(child, &status, 0);
  ::close(hold[0]);
  ::close(hold[1]);
  P.Close();
  // Programs start others while ports open and close.
  std::atomic<bool> stop{false};
  std::thread spawner([&] {
    char* argv[] = {const_cast<char*>("true"), nullptr};
    for (pid_t pid; !stop;)
      if (::posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ) == 0) ::waitpid(pid, nullptr, 0);
  });
  int refused = 0;
  for (int i = 0; i < 500; ++i) try {
      P.Open();
      P.Close();
    } catch (const EComPort&) {
      ++refused;
    }
  stop = true;
  spawner.join();
  EXPECT_EQ(refused, 0);
}

TEST_F(PtyPort, TransmitCharAndXoffControlTheOutput) {
  P.Open();
  P.TransmitChar('!');
  EXPECT_EQ(Pty.Receive(1), "!");
  P.SetXonXoff(false);  // as if XOFF had come: output holds
  PAsync a = nullptr;
  InitAsync(a);
  P.WriteAsync("held", 4, a);
  EXPECT_EQ(Pty.Drain(100), "");
  P.SetXonXoff(true);
  EXPECT_EQ(P.WaitForAsync(a), 4);
  DoneAsync(a);
  EXPECT_EQ(Pty.Receive(4), "held");
}

TEST_F(PtyPort, DiscardNullDropsZeroBytes) {
  P.SetDiscardNull(true);
  P.Open();
  Pty.Send(std::string("a\0b\0\0c", 6));
  ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 6; }));
  std::string s;
  P.ReadStr(s, 20);
  EXPECT_EQ(s, "abc");
}

// Checking parity marks bytes received in error; a 0xFF received well then
// comes doubled from the kernel and must reach the reader once, also when a
// read ends inside such a pair and the next one takes the rest.
TEST_F(PtyPort, WithParityCheckingA0xFFByteArrivesOnce) {
  for (int32_t chunk : {4, 2}) {
    P.Parity().SetCheck(true);
    P.Parity().SetReplace(chunk == 4);
    TComTimeouts t;
    t.SetReadInterval(0);
    t.SetReadTotalC(5000);
    P.SetTimeouts(t);
    P.Open();
    Pty.Send("a\xFF\xFF" "b");
    std::string got(4, '-');
    // A read that times out ends the loop: a lost byte fails, not hangs.
    for (int32_t n = 0, last = 1; n < 4 && last > 0; n += last) last = P.Read(got.data() + n, std::min(chunk, 4 - n));
    EXPECT_EQ(got, "a\xFF\xFF" "b") << "reads of " << chunk;
    P.Close();
  }
}

TEST_F(PtyPort, OpeningAndClosingOftenLeaksNothing) {
  const int fdsBefore = [] {
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd) n += ::fcntl(fd, F_GETFD) != -1;
    return n;
  }();
  for (int i = 0; i < 200; ++i) {
    P.Open();
    P.WriteStr("x");
    P.Close();
  }
  Pty.Receive(200);
  int fdsAfter = 0;
  for (int fd = 0; fd < 1024; ++fd) fdsAfter += ::fcntl(fd, F_GETFD) != -1;
  EXPECT_EQ(fdsAfter, fdsBefore);
}

}  // namespace

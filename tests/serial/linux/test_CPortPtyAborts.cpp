// SPDX-License-Identifier: MIT
// Transfers on a pseudo-terminal that end otherwise than by their bytes:
// aborts from other threads, purge flags, close and hang-up, and the order
// of writes nobody waits for.
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
#include "Watchdog.h"
#include "PtyPortFixture.h"

using namespace cport;
using cport::test::TPty;
using cport::test::WaitUntil;
using cport::test::WaitUntilPolling;
using Clock = std::chrono::steady_clock;
using cport::test::MsSince;
using cport::test::PtyPort;
using cport::test::TDevice;
using cport::test::TRescue;

namespace {

TEST_F(PtyPort, AbortEndsAPendingReadAsAFailure) {
  P.Open();
  TComTimeouts t;
  t.SetReadInterval(0);  // no limits at all: waits until the count is there
  P.SetTimeouts(t);
  char buf[4];
  PAsync a = nullptr;
  InitAsync(a);
  P.ReadAsync(buf, 4, a);
  P.AbortAllAsync();
  try {
    P.WaitForAsync(a);
    ADD_FAILURE() << "aborted read completed";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 3);
    EXPECT_EQ(e.SystemErrorCode(), ECANCELED);
  }
  DoneAsync(a);
}

// Twice on one open port, each time with the reader asleep in its wait: a
// wake-up mark left behind by the first abort would lose the second.
TEST_F(PtyPort, AbortFromAnotherThreadEndsAWaitingRead) {
  P.Open();
  NoLimits();
  char buf[4];
  PAsync a = nullptr;
  InitAsync(a);
  for (int round = 0; round < 2; ++round) {
    test::TOnThread reader([&] {
      P.ReadAsync(buf, 4, a);
      P.WaitForAsync(a);
    });
    EXPECT_TRUE(reader.Asleep());
    P.AbortAllAsync();
    const bool ended = reader.Ended();
    if (!ended) Pty.Send("wake");  // let the reader go, so the test can end
    EXPECT_TRUE(ended) << "round " << round << ": the abort was lost";
    EXPECT_EQ(reader.Code(), 3) << "round " << round;
    EXPECT_EQ(reader.Error(), ECANCELED) << "round " << round;
  }
  DoneAsync(a);
}

// Two reads nobody waits for: the helper thread that moves them sleeps.
TEST_F(PtyPort, PendingReadsNobodyWaitsForLeaveTheHelperAsleep) {
  P.Open();
  NoLimits();
  char buf[8];
  PAsync a1 = nullptr, a2 = nullptr;
  InitAsync(a1);
  InitAsync(a2);
  P.ReadAsync(buf, 4, a1);
  ASSERT_TRUE(WaitUntilPolling(0));  // the helper, asleep
  P.ReadAsync(buf + 4, 4, a2);       // wakes it
  const uint64_t before = lnx::WakeupsForTesting();
  EXPECT_FALSE(WaitUntil([&] { return lnx::WakeupsForTesting() > before + 100; }, 500)) << "a thread spins";
  DoneAsync(a1);
  DoneAsync(a2);
}

// A read started behind a pending one waits for its turn, also when it
// would return at once by itself, and then takes what the first one left.
TEST_F(PtyPort, AReadStartedBehindAPendingOneWaitsItsTurn) {
  P.Open();
  NoLimits();
  char buf[12] = {};
  PAsync a1 = nullptr, a2 = nullptr;
  InitAsync(a1);
  InitAsync(a2);
  P.ReadAsync(buf, 4, a1);
  P.SetTimeouts(TComTimeouts{});  // back to returning at once
  P.ReadAsync(buf + 4, 8, a2);
  EXPECT_FALSE(P.IsAsyncCompleted(a2));
  Pty.Send("abcdefgh");
  EXPECT_EQ(P.WaitForAsync(a1), 4);
  EXPECT_EQ(P.WaitForAsync(a2), 4);
  EXPECT_EQ(std::string(buf, 8), "abcdefgh");
  DoneAsync(a1);
  DoneAsync(a2);
}

// The last thread to leave a device that is being destroyed lets the
// destruction go on.
TEST(PtyDevice, DestroyingTheDeviceEndsAWaitOfAnotherThread) {
  TDevice dev;
  TIoRequest req;
  char buf[4];
  ASSERT_EQ(dev.D->StartRead(req, buf, 4).Status, TIoStatus::Pending);
  TIoResult res;
  {
    test::TOnThread waiter([&, d = dev.D.get()] { res = d->GetResult(req, true); });
    EXPECT_TRUE(waiter.Asleep());
    test::SetTestDeadline(20);
    dev.D.reset();
  }
  EXPECT_EQ(res.Error, ECANCELED);
}

// Each abort flag ends the pending transfers of its own direction only: a
// read waiting for bytes that do not come, and a write held by XOFF, whose
// bytes must not go out later once aborted.
TEST(PtyDevice, EachAbortFlagEndsTheTransfersOfItsDirection) {
  const struct {
    uint32_t Flags;
    bool ReadEnds, WriteEnds;
  } cases[] = {{PURGE_RXABORT_FLAG, true, false},
               {PURGE_TXABORT_FLAG, false, true},
               {PURGE_RXABORT_FLAG | PURGE_TXABORT_FLAG, true, true}};
  for (const auto& c : cases) {
    TDevice dev;
    TIoRequest rd, wr, marker;
    char buf[4];
    dev.D->EscapeCommFunction(ESC_SETXOFF);
    dev.D->StartWrite(wr, "held", 4);
    dev.D->StartRead(rd, buf, 4);
    dev.D->PurgeComm(c.Flags);
    EXPECT_EQ(dev.D->GetResult(rd, false).Error, c.ReadEnds ? ECANCELED : 0) << c.Flags;
    EXPECT_EQ(dev.D->GetResult(wr, false).Error, c.WriteEnds ? ECANCELED : 0) << c.Flags;
    dev.D->EscapeCommFunction(ESC_SETXON);
    dev.D->StartWrite(marker, "M", 1);  // writes keep their order
    EXPECT_EQ(dev.Pty.Receive(c.WriteEnds ? 1 : 5), c.WriteEnds ? "M" : "heldM") << c.Flags;
    dev.Pty.Send("wxyz");
    EXPECT_EQ(dev.D->GetResult(rd, true).Transferred, c.ReadEnds ? 0u : 4u) << c.Flags;
  }
}

// Whether or not the port is open again (on another line), a read that
// Close aborted stays aborted and never reports completion.
TEST_F(PtyPort, AReadAbortedByCloseStaysAborted) {
  TPty other;
  for (bool reopened : {false, true}) {
    P.SetPort(Pty.Path());
    P.Open();
    NoLimits();
    char buf[4];
    PAsync a = nullptr;
    InitAsync(a);
    P.ReadAsync(buf, 4, a);
    if (reopened) {
      P.SetPort(other.Path());  // closes (aborting the read) and opens the other line
      other.Send("abcd");
      ASSERT_TRUE(WaitUntil([&] { return P.InputCount() == 4; }));
    } else {
      P.Close();
    }
    for (int i = 0; i < 2; ++i) {
      try {
        P.WaitForAsync(a);
        ADD_FAILURE() << "an aborted read returned, reopened " << reopened;
      } catch (const EComPort& e) {
        EXPECT_EQ(e.SystemErrorCode(), ECANCELED);
      }
    }
    DoneAsync(a);
    P.Close();
  }
}

// Overlapped writes go out in the order they were started and finish by
// themselves while the caller does nothing.
TEST_F(PtyPort, OverlappedWritesKeepTheirOrderAndFinishUnattended) {
  P.SetEvents({evTxEmpty});
  std::atomic<int> empties{0};
  P.OnTxEmpty = [&](TCustomComPort*) { ++empties; };
  TComTimeouts t;
  t.SetWriteTotalM(0);
  t.SetWriteTotalC(0);
  P.SetTimeouts(t);
  P.Open();
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  PAsync a1 = nullptr, a2 = nullptr;
  InitAsync(a1);
  InitAsync(a2);
  P.WriteAsync(big.data(), static_cast<int32_t>(big.size()), a1);  // far more than the line holds
  P.WriteAsync("TAIL", 4, a2);
  const std::string got = Pty.Receive(big.size() + 4, 20000);
  ASSERT_EQ(got.size(), big.size() + 4);
  EXPECT_EQ(got.substr(big.size()), "TAIL");
  EXPECT_TRUE(got.compare(0, big.size(), big) == 0);
  EXPECT_TRUE(WaitUntil([&] { return empties.load() >= 1; }));
  EXPECT_TRUE(P.IsAsyncCompleted(a1));
  EXPECT_EQ(P.WaitForAsync(a1), static_cast<int32_t>(big.size()));
  EXPECT_EQ(P.WaitForAsync(a2), 4);
  // A blocking write started behind a pending one waits for it.
  P.WriteAsync(big.data(), static_cast<int32_t>(big.size()), a1);
  std::thread drain([&] { EXPECT_EQ(Pty.Receive(big.size() + 3, 20000).substr(big.size()), "END"); });
  EXPECT_EQ(P.WriteStr("END"), 3);
  drain.join();
  EXPECT_EQ(P.WaitForAsync(a1), static_cast<int32_t>(big.size()));
  DoneAsync(a1);
  DoneAsync(a2);
  P.Close();  // before the counter its handler uses goes
}

TEST_F(PtyPort, AHungUpLineFailsReadsAndWritesInsteadOfLookingEmpty) {
  P.Open();
  Pty.HangUp();
  char buf[20];
  try {
    P.Read(buf, 20);
    FAIL() << "read after hangup returned";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 3);
    EXPECT_EQ(e.SystemErrorCode(), EIO);
  }
  try {
    P.WriteStr("x");
    FAIL() << "write after hangup returned";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 2);
  }
  EXPECT_NO_THROW(P.Close());
  EXPECT_FALSE(P.Connected());
}

TEST_F(PtyPort, TransfersOnAClosedPortFail) {
  char buf[4];
  EXPECT_THROW(P.Read(buf, 4), EComPort);
  try {
    P.WriteStr("#05p00050\r");
    FAIL();
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 2);
    EXPECT_EQ(e.SystemErrorCode(), EBADF);
  }
}


}  // namespace

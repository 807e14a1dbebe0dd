// SPDX-License-Identifier: MIT
// Line events through the recording driver, which can raise every event and
// report modem lines and error flags: dispatch order, the three ways of
// handing events over, links, open and close reports, waiting for one event.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "CPort.h"
#include "Pty.h"
#include "RecordingDriver.h"
#include "Reports.h"

using namespace cport;
using cport::test::TRecordingDriver;
using cport::test::WaitUntil;

namespace {

// A thread-safe list of what happened.
class TLog {
 public:
  void Add(const std::string& s) {
    std::lock_guard<std::mutex> lock(FMutex);
    FItems.push_back(s);
  }
  std::vector<std::string> Items() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FItems;
  }
  size_t Size() const { return Items().size(); }
  void Clear() {
    std::lock_guard<std::mutex> lock(FMutex);
    FItems.clear();
  }

 private:
  mutable std::mutex FMutex;
  std::vector<std::string> FItems;
};

std::string OnOff(bool on) { return on ? " on" : " off"; }

void AttachAll(TComPort& p, TLog& log) {
  p.OnRxChar = [&](TCustomComPort*, int32_t n) { log.Add("rxchar " + std::to_string(n)); };
  p.OnRxBuf = [&](TCustomComPort*, const void* b, int32_t n) {
    log.Add("rxbuf " + std::string(static_cast<const char*>(b), static_cast<size_t>(n)));
  };
  p.OnTxEmpty = [&](TCustomComPort*) { log.Add("txempty"); };
  p.OnBreak = [&](TCustomComPort*) { log.Add("break"); };
  p.OnRing = [&](TCustomComPort*) { log.Add("ring"); };
  p.OnCTSChange = [&](TCustomComPort*, bool on) { log.Add("cts" + OnOff(on)); };
  p.OnDSRChange = [&](TCustomComPort*, bool on) { log.Add("dsr" + OnOff(on)); };
  p.OnRLSDChange = [&](TCustomComPort*, bool on) { log.Add("rlsd" + OnOff(on)); };
  p.OnRxFlag = [&](TCustomComPort*) { log.Add("rxflag"); };
  p.OnError = [&](TCustomComPort*, TComErrors e) { log.Add("error " + std::to_string(e.Bits())); };
  p.OnRx80Full = [&](TCustomComPort*) { log.Add("rx80full"); };
}

void AttachLink(TComLink& l, TLog& log) {
  l.OnConn = [&](TCustomComPort*, bool on) { log.Add("link conn" + OnOff(on)); };
  l.OnCTSChange = [&](TCustomComPort*, bool on) { log.Add("link cts" + OnOff(on)); };
  l.OnDSRChange = [&](TCustomComPort*, bool on) { log.Add("link dsr" + OnOff(on)); };
  l.OnRLSDChange = [&](TCustomComPort*, bool on) { log.Add("link rlsd" + OnOff(on)); };
  l.OnRing = [&](TCustomComPort*) { log.Add("link ring"); };
  l.OnTxEmpty = [&](TCustomComPort*) { log.Add("link txempty"); };
  l.OnRxFlag = [&](TCustomComPort*) { log.Add("link rxflag"); };
  l.OnTx = [&](TCustomComPort*, bool on) { log.Add("link tx" + OnOff(on)); };
  l.OnRx = [&](TCustomComPort*, bool on) { log.Add("link rx" + OnOff(on)); };
  l.OnError = [&](TCustomComPort*, TComErrors e) { log.Add("link error " + std::to_string(e.Bits())); };
  l.OnTxBuf = [&](TCustomComPort*, const void* b, int32_t n) {
    log.Add("link txbuf " + std::string(static_cast<const char*>(b), static_cast<size_t>(n)));
  };
}

class Events : public ::testing::Test {
 protected:
  TRecordingDriver D;
  TComPort P{nullptr, &D};
  TLog Log;
  // Raises a batch and waits until n entries have been logged.
  bool Batch(uint32_t bits, size_t n) {
    D.RaiseEvents(bits);
    return WaitUntil([&] { return Log.Size() >= n; });
  }
};

TEST_F(Events, ABatchIsReportedInTheFixedOrder) {
  P.Open();
  AttachAll(P, Log);
  D.Receive("abc");
  D.SetErrorWord(CE_FRAME_BIT);
  D.SetModemStatus(MS_CTS_BIT | MS_RLSD_BIT);
  ASSERT_TRUE(Batch(0x05FF, 10));
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"error 1", "rxchar 3", "txempty", "break", "ring", "cts on",
                                                   "dsr off", "rxflag", "rlsd on", "rx80full"}));
  P.Close();
}

TEST_F(Events, AnErrorEventWithoutFlagsCallsNoHandler) {
  P.Open();
  AttachAll(P, Log);
  D.Receive("x");
  ASSERT_TRUE(Batch(EV_ERR_BIT | EV_RXCHAR_BIT | EV_CTS_BIT, 2));
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"rxchar 1", "cts off"}));
  P.Close();
}

TEST_F(Events, ParityErrorsShowOnlyWhileChecked) {
  P.Open();
  AttachAll(P, Log);
  D.SetErrorWord(CE_RXPARITY_BIT | CE_OVERRUN_BIT);
  ASSERT_TRUE(Batch(EV_ERR_BIT, 1));
  EXPECT_EQ(Log.Items().front(), "error " + std::to_string(TComErrors{ceOverrun}.Bits()));
  P.Close();
}

TEST_F(Events, WithoutHandlersReceivedBytesStayQueuedAndErrorsAreCleared) {
  P.Open();  // the control panel's port: all ten events, no handler
  D.Receive("#02?...");
  D.SetErrorWord(CE_FRAME_BIT);
  const int before = D.Count("ClearCommError");
  D.RaiseEvents(EV_RXCHAR_BIT | EV_ERR_BIT);
  ASSERT_TRUE(WaitUntil([&] { return D.Count("ClearCommError") >= before + 2; }));
  EXPECT_EQ(P.InputCount(), 7);
  EXPECT_TRUE(P.LastErrors().Empty());  // the dispatch took them
  P.Close();
}

TEST_F(Events, WithoutTriggersABurstIsReadInOnePieceForOnRxBuf) {
  P.SetTriggersOnRxChar(false);
  P.Open();
  AttachAll(P, Log);
  D.Receive("burst!");
  ASSERT_TRUE(Batch(EV_RXCHAR_BIT, 1));
  EXPECT_EQ(Log.Items(), std::vector<std::string>{"rxbuf burst!"});
  EXPECT_EQ(P.InputCount(), 0);
  EXPECT_EQ(D.Last("StartRead").A, 6u);  // one read of exactly the counted size
  P.Close();
}

TEST_F(Events, LinksTakeTheBytesOnceBeforeOnRxChar) {
  TComLink a, b;
  std::vector<const void*> buffers;
  a.OnRxBuf = [&](TCustomComPort*, const void* buf, int32_t n) {
    buffers.push_back(buf);
    Log.Add("a " + std::string(static_cast<const char*>(buf), static_cast<size_t>(n)));
  };
  b.OnRxBuf = [&](TCustomComPort*, const void* buf, int32_t n) {
    buffers.push_back(buf);
    Log.Add("b " + std::string(static_cast<const char*>(buf), static_cast<size_t>(n)));
  };
  P.RegisterLink(&a);
  P.RegisterLink(&b);
  P.Open();
  AttachAll(P, Log);
  D.Receive("xyz");
  D.ClearCalls();
  ASSERT_TRUE(Batch(EV_RXCHAR_BIT, 3));
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"rxbuf xyz", "a xyz", "b xyz"}));
  EXPECT_EQ(D.Count("StartRead"), 1);
  ASSERT_EQ(buffers.size(), 2u);
  EXPECT_EQ(buffers[0], buffers[1]);
  P.Close();
  P.UnRegisterLink(&a);
  P.UnRegisterLink(&b);
}

TEST_F(Events, LinkRegistrationIsRefusedTwiceWithCode18) {
  TComLink l;
  P.RegisterLink(&l);
  for (auto call : {std::function<void()>([&] { P.RegisterLink(&l); }),
                    std::function<void()>([&] {
                      TComLink other;
                      P.UnRegisterLink(&other);
                    })}) {
    try {
      call();
      ADD_FAILURE() << "accepted";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ComErrorCode(), 18);
      EXPECT_STREQ(e.what(), "Link (un)registration failed");
    }
  }
  P.UnRegisterLink(&l);
}

TEST_F(Events, OpenAndCloseAreReportedToLinksAndHandlers) {
  TComLink l;
  AttachLink(l, Log);
  P.RegisterLink(&l);
  P.OnBeforeOpen = [&](TCustomComPort*) { Log.Add("before open"); };
  P.OnAfterOpen = [&](TCustomComPort*) { Log.Add("after open"); };
  P.OnBeforeClose = [&](TCustomComPort*) { Log.Add("before close"); };
  P.OnAfterClose = [&](TCustomComPort* p) { Log.Add(p->Connected() || D.DeviceOpen() ? "after close early" : "after close"); };
  P.OnCTSChange = [&](TCustomComPort*, bool on) { Log.Add("cts" + OnOff(on)); };
  P.OnDSRChange = [&](TCustomComPort*, bool on) { Log.Add("dsr" + OnOff(on)); };
  P.OnRLSDChange = [&](TCustomComPort*, bool on) { Log.Add("rlsd" + OnOff(on)); };
  D.SetModemStatus(MS_CTS_BIT | MS_DSR_BIT);
  P.Open();
  P.Close();
  EXPECT_EQ(Log.Items(),
            (std::vector<std::string>{"before open", "link conn on", "after open", "link cts on", "cts on",
                                      "link dsr on", "dsr on", "link rlsd off", "rlsd off", "link cts off",
                                      "link dsr off", "link rlsd off", "cts off", "dsr off", "rlsd off",
                                      "before close", "link conn off", "after close"}));
  P.UnRegisterLink(&l);
}

TEST_F(Events, TransfersTellLinksWhatMoved) {
  TComLink l;
  AttachLink(l, Log);
  P.SetEvents({});
  P.Open();
  P.RegisterLink(&l);
  Log.Clear();
  P.WriteStr("abc");
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"link tx on", "link txbuf abc"}));
  Log.Clear();
  D.Receive("12345");
  char buf[8];
  P.Read(buf, 2);  // bytes remain: nothing to tell
  EXPECT_TRUE(Log.Items().empty());
  P.Read(buf, 8);  // the queue is empty now
  EXPECT_EQ(Log.Items(), std::vector<std::string>{"link rx off"});
  P.UnRegisterLink(&l);
}

TEST_F(Events, TxEmptyRingAndRxFlagReachLinksFirst) {
  TComLink l;
  AttachLink(l, Log);
  P.RegisterLink(&l);
  P.Open();
  AttachAll(P, Log);
  Log.Clear();
  ASSERT_TRUE(Batch(EV_TXEMPTY_BIT | EV_RING_BIT | EV_RXFLAG_BIT, 7));
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"link tx off", "link txempty", "txempty", "link ring", "ring",
                                                   "link rxflag", "rxflag"}));
  P.Close();
  P.UnRegisterLink(&l);
}

TEST_F(Events, LineErrorsReachLinksBeforeTheHandler) {
  TComLink l;
  AttachLink(l, Log);
  P.RegisterLink(&l);
  P.Open();
  AttachAll(P, Log);
  Log.Clear();
  D.SetErrorWord(CE_IOE_BIT);
  ASSERT_TRUE(Batch(EV_ERR_BIT, 2));
  const std::string io = std::to_string(TComErrors{ceIO}.Bits());
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"link error " + io, "error " + io}));
  P.Close();
  P.UnRegisterLink(&l);
}

// A link taken off the list while the port tells its links of something
// hears no more of it: its owner may be gone already.
TEST_F(Events, ALinkRemovedDuringAFanOutIsNotCalledAfterwards) {
  for (bool onBytes : {true, false}) {
    TComLink a, b;
    auto drop = [&](TCustomComPort* p, const char* what) { p->UnRegisterLink(&b), Log.Add(what); };
    if (onBytes) {
      a.OnRxBuf = [&](TCustomComPort* p, const void*, int32_t) { drop(p, "a rx"); };
      b.OnRxBuf = [&](TCustomComPort*, const void*, int32_t) { Log.Add("b rx"); };
    } else {
      a.OnConn = [&](TCustomComPort* p, bool on) {
        if (!on) drop(p, "a off");
      };
      b.OnConn = [&](TCustomComPort*, bool) { Log.Add("b conn"); };
    }
    P.RegisterLink(&a);
    P.RegisterLink(&b);
    P.Open();
    Log.Clear();
    if (onBytes) {
      D.Receive("x");
      ASSERT_TRUE(Batch(EV_RXCHAR_BIT, 1));
    }
    P.Close();
    EXPECT_EQ(Log.Items(), std::vector<std::string>{onBytes ? "a rx" : "a off"});
    P.UnRegisterLink(&a);
  }
}

// -- the three ways of handing events over --------------------------------------------

TEST_F(Events, ThreadSyncRunsHandlersOnTheMainThread) {
  std::atomic<bool> onMain{false};
  P.OnRing = [&](TCustomComPort*) {
    onMain = IsMainThread();
    Log.Add("ring");
  };
  P.Open();
  ASSERT_TRUE(Batch(EV_RING_BIT, 1));
  EXPECT_TRUE(onMain);
  P.Close();
}

TEST_F(Events, NoSyncRunsHandlersOnTheEventThread) {
  P.SetSyncMethod(smNone);
  std::atomic<bool> onMain{true};
  P.OnRing = [&](TCustomComPort*) {
    onMain = IsMainThread();
    Log.Add("ring");
  };
  P.Open();
  D.RaiseEvents(EV_RING_BIT);
  // No pumping of the main thread's queue: the handler runs anyway.
  for (int i = 0; i < 10000 && Log.Size() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(Log.Size(), 1u);
  EXPECT_FALSE(onMain);
  P.Close();
}

TEST_F(Events, WindowSyncPostsOneMessagePerEventInOrder) {
  P.SetSyncMethod(smWindowSync);
  P.Open();
  EXPECT_TRUE(P.HasMessageWindow());
  AttachAll(P, Log);
  D.SetModemStatus(MS_RLSD_BIT);
  ASSERT_TRUE(Batch(EV_RING_BIT | EV_RLSD_BIT, 2));
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"ring", "rlsd on"}));
  P.Close();
  EXPECT_FALSE(P.HasMessageWindow());
}

TEST_F(Events, WindowSyncReportsAFailingHandlerAndGoesOn) {
  P.SetSyncMethod(smWindowSync);
  cport::test::TReportCatcher reports;
  P.OnRing = [&](TCustomComPort*) {
    Log.Add("ring");
    throw std::runtime_error("ring handler failed");
  };
  P.OnBreak = [&](TCustomComPort*) { Log.Add("break"); };
  P.Open();
  ASSERT_TRUE(Batch(EV_RING_BIT, 1));
  ASSERT_TRUE(Batch(EV_BREAK_BIT, 2));  // the thread went on
  EXPECT_EQ(reports.Reports(), std::vector<std::string>{"ring handler failed"});
  P.Close();
}

TEST_F(Events, AWindowMessageHandledAfterCloseIsIgnored) {
  P.SetSyncMethod(smWindowSync);
  P.Open();
  AttachAll(P, Log);
  P.WindowMethod(CM_COMPORT, EV_RING_BIT, 0);
  EXPECT_EQ(Log.Items().back(), "ring");
  P.Close();
  const size_t afterClose = Log.Size();
  P.WindowMethod(CM_COMPORT, EV_RING_BIT, 0);
  P.WindowMethod(CM_COMPORT, 0x0200, 0);  // no such event
  EXPECT_EQ(Log.Size(), afterClose);
}

TEST_F(Events, AFailedBatchEndsTheThreadSilentlyUntilReopened) {
  P.OnRing = [&](TCustomComPort*) {
    Log.Add("ring");
    throw std::runtime_error("handler failed");
  };
  P.OnBreak = [&](TCustomComPort*) { Log.Add("break"); };
  P.Open();
  ASSERT_TRUE(Batch(EV_RING_BIT, 1));
  // The thread ended: a further event is not reported.
  ASSERT_TRUE(WaitUntil([&] { return D.Last("SetCommMask").A == 0; }));
  D.RaiseEvents(EV_BREAK_BIT);
  EXPECT_FALSE(WaitUntil([&] { return Log.Size() > 1; }, 200));
  P.Close();  // finds the thread ended; no wait
  P.Open();
  ASSERT_TRUE(Batch(EV_BREAK_BIT, 2));
  P.Close();
}

TEST_F(Events, CloseDoesNotDeadlockAgainstAWaitingBatch) {
  P.OnRing = [&](TCustomComPort*) { Log.Add("ring"); };
  std::atomic<bool> queued{false};
  SetWakeMainThread([&] { queued = true; });
  P.Open();
  D.RaiseEvents(EV_RING_BIT);
  // The batch is queued for the main thread, which does not pump: the
  // thread sits in its synchronised call while Close waits for it.
  for (int i = 0; i < 10000 && !queued; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  SetWakeMainThread(nullptr);
  ASSERT_TRUE(queued);
  P.Close();
  EXPECT_FALSE(P.Connected());
  EXPECT_EQ(Log.Items(), std::vector<std::string>{"ring"});  // run by Close while it waited
}

// The main thread closes while a batch waits for it; Close runs the batch,
// and its handler closes (or destroys) the port again.
TEST_F(Events, AHandlerClosingInsideCloseReportsOnceAndReleasesTheDevice) {
  for (bool destroy : {false, true}) {
    auto* p = new TComPort(nullptr, &D);
    int beforeClose = 0, afterClose = 0;
    p->OnBeforeClose = [&](TCustomComPort*) { ++beforeClose; };
    p->OnAfterClose = [&](TCustomComPort*) { ++afterClose; };
    p->OnRing = [&](TCustomComPort* self) {
      if (destroy)
        delete self;
      else
        self->Close();
    };
    std::atomic<bool> queued{false};
    SetWakeMainThread([&] { queued = true; });
    p->Open();
    D.RaiseEvents(EV_RING_BIT);
    for (int i = 0; i < 10000 && !queued; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SetWakeMainThread(nullptr);
    ASSERT_TRUE(queued);
    if (destroy) {
      p->Close();  // the handler destroys the port inside this call
    } else {
      p->Close();
      EXPECT_FALSE(p->Connected());
      delete p;
    }
    EXPECT_EQ(beforeClose, 1) << destroy;
    EXPECT_EQ(afterClose, 1) << destroy;
    EXPECT_EQ(D.OpenDevices(), 0) << destroy;
  }
}

TEST_F(Events, AHandlerMayCloseOrDestroyItsOwnPort) {
  for (TSyncMethod m : {smThreadSync, smNone, smWindowSync}) {
    auto* p = new TComPort(nullptr, &D);
    p->SetSyncMethod(m);
    std::atomic<bool> closed{false};
    p->OnRing = [&](TCustomComPort* self) {
      self->Close();
      closed = true;
    };
    p->Open();
    D.RaiseEvents(EV_RING_BIT);
    ASSERT_TRUE(WaitUntil([&] { return closed.load(); })) << m;
    EXPECT_FALSE(p->Connected());
    p->OnBreak = [&](TCustomComPort* self) {
      closed = true;  // before: deleting the port destroys this handler too
      delete self;
    };
    closed = false;
    p->Open();
    D.RaiseEvents(EV_BREAK_BIT);
    ASSERT_TRUE(WaitUntil([&] { return closed.load(); })) << m;
    ASSERT_TRUE(WaitUntil([&] { return D.OpenDevices() == 0; })) << m;
  }
}

// -- waiting for one event ------------------------------------------------------------------

TEST_F(Events, WaitForEventIsRefusedBesideTheEventThread) {
  P.Open();
  TComEvents e{evRxChar};
  try {
    P.WaitForEvent(e, nullptr, 0);
    FAIL() << "waited beside the thread";
  } catch (const EComPort& ex) {
    EXPECT_EQ(ex.ComErrorCode(), 20);
    EXPECT_STREQ(ex.what(), "Cannot wait for event if event thread is created");
  }
  P.Close();
}

TEST_F(Events, WaitForEventWithoutAThread) {
  P.SetEvents({});
  P.Open();
  EXPECT_FALSE(P.EventThreadCreated());
  TComEvents e{evRxChar, evCTS};
  P.WaitForEvent(e, nullptr, 0);  // idle line, no time: at once, nothing
  EXPECT_TRUE(e.Empty());
  EXPECT_EQ(D.Last("SetCommMask").A, 0u);  // the mask is emptied afterwards

  D.RaiseEvents(EV_CTS_BIT | EV_RING_BIT);
  e = TComEvents{evRxChar, evCTS};
  P.WaitForEvent(e, nullptr, 5000);
  EXPECT_EQ(e, TComEvents{evCTS});  // what is not asked for is not reported

  auto stop = D.CreateSignal();
  std::thread stopper([&] { stop->Set(); });
  e = TComEvents{evRing};
  P.WaitForEvent(e, stop.get(), -1);
  stopper.join();
  EXPECT_TRUE(e.Empty());

  D.FailNext("WaitCommEvent", 5);
  try {
    P.WaitForEvent(e, nullptr, 0);
    FAIL();
  } catch (const EComPort& ex) {
    EXPECT_EQ(ex.ComErrorCode(), 21);
    EXPECT_EQ(ex.SystemErrorCode(), 5);
  }
}

}  // namespace

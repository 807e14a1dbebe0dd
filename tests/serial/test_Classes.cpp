// SPDX-License-Identifier: MIT
#include "Classes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "Pty.h"
#include "Reports.h"

using namespace cport;
using cport::test::WaitUntil;

namespace {

enum TColour : uint8_t { cRed, cGreen, cBlue };
using TColours = TSet<TColour, uint8_t>;

TEST(TSetTest, MembersMapToOrdinalBits) {
  TColours s{cRed, cBlue};
  EXPECT_EQ(s.Bits(), 0b101);
  EXPECT_TRUE(s.Contains(cBlue));
  EXPECT_FALSE(s.Contains(cGreen));
  s.Exclude(cRed).Include(cGreen);
  EXPECT_EQ(s, (TColours{cGreen, cBlue}));
  EXPECT_EQ((TColours{cRed, cGreen} * TColours{cGreen, cBlue}), TColours{cGreen});
  EXPECT_EQ((TColours{cRed, cGreen} - TColours{cGreen}), TColours{cRed});
  EXPECT_TRUE(TColours{}.Empty());
}

// -- components ---------------------------------------------------------------

struct TCounted : TComponent {
  explicit TCounted(TComponent* owner, int* destroyed) : TComponent(owner), FDestroyed(destroyed) {}
  ~TCounted() override { ++*FDestroyed; }
  void Loaded() override { ++LoadedCalls; }
  int* FDestroyed;
  int LoadedCalls = 0;
};

struct TWatcher : IFreeNotification {
  std::vector<TComponent*> Seen;
  void FreeNotify(TComponent* c) override { Seen.push_back(c); }
};

TEST(TComponentTest, OwnerDestroysWhatItOwns) {
  int destroyed = 0;
  auto* owner = new TCounted(nullptr, &destroyed);
  auto* a = new TCounted(owner, &destroyed);
  new TCounted(a, &destroyed);
  EXPECT_EQ(owner->Components().size(), 1u);
  delete owner;
  EXPECT_EQ(destroyed, 3);
}

TEST(TComponentTest, DeletingAnOwnedComponentLeavesItsOwner) {
  int destroyed = 0;
  TCounted owner(nullptr, &destroyed);
  delete new TCounted(&owner, &destroyed);
  EXPECT_TRUE(owner.Components().empty());
}

TEST(TComponentTest, DestructionIsToldToEveryRegisteredReceiverOnce) {
  int destroyed = 0;
  TWatcher kept, removed;
  auto* c = new TCounted(nullptr, &destroyed);
  const auto address = reinterpret_cast<uintptr_t>(static_cast<TComponent*>(c));
  c->FreeNotification(&kept);
  c->FreeNotification(&kept);
  c->FreeNotification(&removed);
  c->RemoveFreeNotification(&removed);
  delete c;
  ASSERT_EQ(kept.Seen.size(), 1u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(kept.Seen[0]), address);
  EXPECT_TRUE(removed.Seen.empty());
}

TEST(TComponentTest, EndLoadingRunsLoadedOnce) {
  int destroyed = 0;
  TCounted c(nullptr, &destroyed);
  c.EndLoading();  // not loading: nothing to end
  EXPECT_EQ(c.LoadedCalls, 0);
  c.BeginLoading();
  EXPECT_TRUE(c.Loading());
  c.EndLoading();
  c.EndLoading();
  EXPECT_FALSE(c.Loading());
  EXPECT_EQ(c.LoadedCalls, 1);
}

// -- threads ------------------------------------------------------------------

class TLambdaThread : public TThread {
 public:
  explicit TLambdaThread(std::function<void(TLambdaThread&)> body) : FBody(std::move(body)) {}
  ~TLambdaThread() override {
    Terminate();
    WaitFor();
  }
  void Sync(const std::function<void()>& f) { Synchronize(f); }

 protected:
  void Execute() override { FBody(*this); }

 private:
  std::function<void(TLambdaThread&)> FBody;
};

TEST(TThreadTest, SynchronizeRunsOnTheMainThreadAndWaits) {
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  TLambdaThread t([&](TLambdaThread& self) {
    self.Sync([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
  });
  t.Start();
  ASSERT_TRUE(WaitUntil([&] { return returned.load(); }));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
}

TEST(TThreadTest, AnExceptionInASynchronisedCallReturnsToTheThread) {
  std::string caught;
  TLambdaThread t([&](TLambdaThread& self) {
    try {
      self.Sync([] { throw std::runtime_error("handler failed"); });
    } catch (const std::exception& e) {
      caught = e.what();
    }
  });
  t.Start();
  ASSERT_TRUE(WaitUntil([&] { return t.Finished(); }));
  t.WaitFor();
  EXPECT_EQ(caught, "handler failed");
}

TEST(TThreadTest, AnExceptionLeavingExecuteEndsTheThreadAndIsKept) {
  TLambdaThread t([](TLambdaThread&) { throw std::runtime_error("boom"); });
  t.Start();
  t.WaitFor();
  ASSERT_TRUE(t.FatalException());
  EXPECT_THROW(std::rethrow_exception(t.FatalException()), std::runtime_error);
}

TEST(TThreadTest, WaitForOnTheMainThreadRunsOnlyThatThreadsCalls) {
  // Another thread's synchronised call stays queued while the main thread
  // waits for the first one, which is itself blocked in Synchronize.
  std::atomic<bool> otherQueued{false};
  std::atomic<bool> otherRan{false};
  TLambdaThread other([&](TLambdaThread& self) {
    otherQueued = true;
    self.Sync([&] { otherRan = true; });
  });
  other.Start();
  while (!otherQueued) std::this_thread::yield();

  std::atomic<bool> ownRan{false};
  TLambdaThread waited([&](TLambdaThread& self) { self.Sync([&] { ownRan = true; }); });
  waited.Start();
  waited.WaitFor();  // would deadlock if it did not run waited's call
  EXPECT_TRUE(ownRan);
  EXPECT_FALSE(otherRan);
  ASSERT_TRUE(WaitUntil([&] { return otherRan.load(); }));
}

TEST(TThreadTest, TheWakeHookIsCalledWhenACallIsQueued) {
  std::atomic<int> wakes{0};
  SetWakeMainThread([&] { ++wakes; });
  TLambdaThread t([](TLambdaThread& self) { self.Sync([] {}); });
  t.Start();
  ASSERT_TRUE(WaitUntil([&] { return t.Finished(); }));
  SetWakeMainThread(nullptr);
  EXPECT_GE(wakes.load(), 1);
}

// Sleeps until a synchronised call comes, or another thread says its
// condition changed: both end the wait of a main loop without polling.
TEST(TThreadTest, SynchronizeUntilRunsCallsAsTheyComeAndHearsOtherThreads) {
  std::atomic<int> ran{0};
  TLambdaThread t([&](TLambdaThread& self) {
    for (int i = 0; i < 3; ++i) self.Sync([&] { ++ran; });
  });
  t.Start();
  EXPECT_TRUE(SynchronizeUntil([&] { return ran.load() == 3; }, 10000));
  t.WaitFor();

  std::atomic<bool> flag{false};
  std::thread other([&] {
    flag = true;
    WakeSynchronizeWaiters();
  });
  EXPECT_TRUE(SynchronizeUntil([&] { return flag.load(); }, -1));
  other.join();
  EXPECT_FALSE(SynchronizeUntil([] { return false; }, 20));
}

TEST(TThreadTest, AReleasedThreadDeletesItselfWhenItEnds) {
  struct TSelfDeleting : TThread {
    std::atomic<bool>& Go;
    std::atomic<int>& Deleted;
    TSelfDeleting(std::atomic<bool>& go, std::atomic<int>& deleted) : Go(go), Deleted(deleted) {}
    ~TSelfDeleting() override { ++Deleted; }
    void Execute() override {
      while (!Go) std::this_thread::yield();
    }
  };
  std::atomic<bool> go{false};
  std::atomic<int> deleted{0};
  auto t = std::make_unique<TSelfDeleting>(go, deleted);
  t->Start();
  TThread::ReleaseWhenFinished(std::move(t));
  EXPECT_EQ(deleted.load(), 0);
  go = true;
  ASSERT_TRUE(WaitUntil([&] { return deleted.load() == 1; }));
}

// -- message windows ----------------------------------------------------------

TEST(TMessageWindowTest, PostedMessagesArriveInOrderOnTheCreatingThread) {
  std::vector<uintptr_t> got;
  std::thread::id ranOn;
  TMessageWindow w([&](uint32_t, uintptr_t wParam, intptr_t) {
    got.push_back(wParam);
    ranOn = std::this_thread::get_id();
  });
  std::thread poster([&] {
    for (uintptr_t i = 1; i <= 3; ++i) w.PostMessage(0x401, i, 0);
  });
  poster.join();
  EXPECT_TRUE(got.empty());  // nothing runs until the thread looks
  CheckSynchronize();
  EXPECT_EQ(got, (std::vector<uintptr_t>{1, 2, 3}));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(TMessageWindowTest, MessagesStillQueuedWhenTheWindowGoesAreDropped) {
  int calls = 0;
  {
    TMessageWindow w([&](uint32_t, uintptr_t, intptr_t) { ++calls; });
    w.PostMessage(1, 0, 0);
  }
  CheckSynchronize();
  EXPECT_EQ(calls, 0);
}

TEST(TMessageWindowTest, AFailingHandlerGoesToTheApplicationReport) {
  cport::test::TReportCatcher reports;
  int calls = 0;
  TMessageWindow w([&](uint32_t, uintptr_t, intptr_t) {
    if (++calls == 1) throw std::runtime_error("handler failed");
  });
  w.PostMessage(1, 0, 0);
  w.PostMessage(1, 0, 0);
  CheckSynchronize();
  EXPECT_EQ(reports.Reports(), std::vector<std::string>{"handler failed"});
  EXPECT_EQ(calls, 2);  // the second message still arrives
}

}  // namespace

// SPDX-License-Identifier: MIT
#include "Classes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <typeinfo>

#include "Platform.h"

namespace cport {

// ---------------------------------------------------------------------------
// TPersistent

void TPersistent::Assign(const TPersistent& source) { source.AssignTo(*this); }

void TPersistent::AssignTo(TPersistent& dest) const {
  throw EConvertError(std::string("Cannot assign a ") + ClassName() + " to a " + dest.ClassName());
}

// ---------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  NotifyDestruction();
  // Owned components go first, newest first, as they may refer to older ones.
  while (!FComponents.empty()) {
    TComponent* child = FComponents.back();
    FComponents.pop_back();
    child->FOwner = nullptr;
    delete child;
  }
  if (FOwner) {
    auto& siblings = FOwner->FComponents;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

void TComponent::NotifyDestruction() {
  FDestroying = true;
  if (FNotified) return;
  FNotified = true;
  // A receiver may unregister others while being told; work on a copy.
  auto receivers = FFreeNotifies;
  FFreeNotifies.clear();
  for (IFreeNotification* r : receivers) r->FreeNotify(this);
}

void TComponent::BeginLoading() { FLoading = true; }

void TComponent::EndLoading() {
  if (!FLoading) return;
  FLoading = false;
  Loaded();
}

void TComponent::FreeNotification(IFreeNotification* receiver) {
  if (receiver && std::find(FFreeNotifies.begin(), FFreeNotifies.end(), receiver) == FFreeNotifies.end())
    FFreeNotifies.push_back(receiver);
}

void TComponent::RemoveFreeNotification(IFreeNotification* receiver) {
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), receiver), FFreeNotifies.end());
}

// ---------------------------------------------------------------------------
// Application exception report

namespace {

std::mutex gHandlerMutex;
TExceptionHandler gExceptionHandler;

void DefaultExceptionHandler(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "\n");
  }
}

}  // namespace

void SetApplicationExceptionHandler(TExceptionHandler handler) {
  std::lock_guard<std::mutex> lock(gHandlerMutex);
  gExceptionHandler = std::move(handler);
}

void HandleApplicationException(std::exception_ptr error) {
  TExceptionHandler handler;
  {
    std::lock_guard<std::mutex> lock(gHandlerMutex);
    handler = gExceptionHandler;
  }
  try {
    if (handler)
      handler(error);
    else
      DefaultExceptionHandler(error);
  } catch (...) {
    // A failing report must not take down the caller that handed it over.
  }
}

// ---------------------------------------------------------------------------
// Calls queued for a thread

namespace {

struct TQueuedCall {
  uint64_t Seq = 0;
  std::thread::id Target;
  const void* Owner = nullptr;  // the TThread or TMessageWindow that queued it
  std::function<void()> Call;
  bool Synchronous = false;
  bool Done = false;
  std::exception_ptr Error;
};

class TCallQueue {
 public:
  // Never destroyed: a thread released to end by itself may still be
  // leaving while the program exits.
  static TCallQueue& Instance() {
    static TCallQueue* q = new TCallQueue;
    return *q;
  }

  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<std::shared_ptr<TQueuedCall>> Calls;
  uint64_t NextSeq = 1;
  std::function<void()> Wake;
  std::thread::id MainThread;
  uint64_t Wakes = 0;  // counts WakeSynchronizeWaiters() calls

  bool HasCallForLocked(std::thread::id self) const {
    return std::any_of(Calls.begin(), Calls.end(), [&](const auto& c) { return c->Target == self; });
  }

  void Push(const std::shared_ptr<TQueuedCall>& call) {
    std::function<void()> wake;
    {
      std::lock_guard<std::mutex> lock(Mutex);
      call->Seq = NextSeq++;
      Calls.push_back(call);
      wake = Wake;
    }
    Changed.notify_all();
    if (wake) wake();
  }

  // Takes the oldest call for this thread queued up to limit, if any; with
  // owner set, only that owner's synchronous calls.
  std::shared_ptr<TQueuedCall> TakeLocked(std::thread::id self, uint64_t limit, const void* owner) {
    for (auto it = Calls.begin(); it != Calls.end(); ++it) {
      const auto& c = *it;
      if (c->Seq > limit) break;
      if (c->Target != self) continue;
      if (owner && (c->Owner != owner || !c->Synchronous)) continue;
      auto taken = c;
      Calls.erase(it);
      return taken;
    }
    return nullptr;
  }

  void Run(const std::shared_ptr<TQueuedCall>& call) {
    if (call->Synchronous) {
      try {
        call->Call();
      } catch (...) {
        call->Error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(Mutex);
        call->Done = true;
      }
      Changed.notify_all();
    } else {
      try {
        call->Call();
      } catch (...) {
        HandleApplicationException(std::current_exception());
      }
    }
  }

 private:
  TCallQueue() : MainThread(std::this_thread::get_id()) {}
};

// Static initialisation runs on the process's first thread: that is the
// main thread unless the program says otherwise.
[[maybe_unused]] const bool gMainThreadCaptured = (TCallQueue::Instance(), true);

}  // namespace

void SetMainThread(std::thread::id id) {
  auto& q = TCallQueue::Instance();
  std::lock_guard<std::mutex> lock(q.Mutex);
  q.MainThread = id;
}

bool IsMainThread() {
  auto& q = TCallQueue::Instance();
  std::lock_guard<std::mutex> lock(q.Mutex);
  return q.MainThread == std::this_thread::get_id();
}

void SetWakeMainThread(std::function<void()> hook) {
  auto& q = TCallQueue::Instance();
  std::lock_guard<std::mutex> lock(q.Mutex);
  q.Wake = std::move(hook);
}

bool CheckSynchronize() {
  auto& q = TCallQueue::Instance();
  const auto self = std::this_thread::get_id();
  uint64_t limit;
  {
    std::lock_guard<std::mutex> lock(q.Mutex);
    limit = q.NextSeq - 1;
  }
  bool ran = false;
  for (;;) {
    std::shared_ptr<TQueuedCall> call;
    {
      std::lock_guard<std::mutex> lock(q.Mutex);
      call = q.TakeLocked(self, limit, nullptr);
    }
    if (!call) break;
    q.Run(call);
    ran = true;
  }
  return ran;
}

bool SynchronizeUntil(const std::function<bool()>& done, int timeoutMs) {
  auto& q = TCallQueue::Instance();
  const auto self = std::this_thread::get_id();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(q.Mutex);
      seen = q.Wakes;
    }
    CheckSynchronize();
    if (done()) return true;
    std::unique_lock<std::mutex> lock(q.Mutex);
    auto ready = [&] { return q.Wakes != seen || q.HasCallForLocked(self); };
    if (timeoutMs < 0) {
      q.Changed.wait(lock, ready);
    } else if (!q.Changed.wait_until(lock, deadline, ready)) {
      lock.unlock();
      CheckSynchronize();
      return done();
    }
  }
}

void WakeSynchronizeWaiters() {
  auto& q = TCallQueue::Instance();
  {
    std::lock_guard<std::mutex> lock(q.Mutex);
    ++q.Wakes;
  }
  q.Changed.notify_all();
}

// ---------------------------------------------------------------------------
// TThread

TThread::TThread() = default;

TThread::~TThread() {
  Terminate();
  if (FThread.joinable()) WaitFor();
}

void TThread::Start() {
  std::lock_guard<std::mutex> lock(FStartMutex);
  FThread = std::thread([this] {
    { std::lock_guard<std::mutex> started(FStartMutex); }
    Run();
  });
}

void TThread::Run() {
  FId.store(std::this_thread::get_id());
  platform::SetCurrentThreadPriority(FPriority);
  try {
    Execute();
  } catch (...) {
    FFatal = std::current_exception();
  }
  auto& q = TCallQueue::Instance();
  bool selfDelete;
  {
    std::lock_guard<std::mutex> lock(q.Mutex);
    FFinished.store(true);
    selfDelete = FFreeOnTerminate;
  }
  q.Changed.notify_all();
  if (selfDelete) {
    FThread.detach();
    delete this;
  }
}

void TThread::ReleaseWhenFinished(std::unique_ptr<TThread> thread) {
  if (!thread) return;
  auto& q = TCallQueue::Instance();
  {
    std::lock_guard<std::mutex> lock(q.Mutex);
    if (!thread->FFinished.load() && thread->FThread.joinable()) {
      thread->FFreeOnTerminate = true;
      thread.release();
      return;
    }
  }
  thread.reset();  // ended already: join and delete here
}

void TThread::WaitFor() {
  if (!FThread.joinable()) return;
  if (FThread.get_id() == std::this_thread::get_id()) return;  // never join oneself
  auto& q = TCallQueue::Instance();
  const auto self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(q.Mutex);
  if (q.MainThread == self) {
    for (;;) {
      if (FFinished.load()) break;
      auto call = q.TakeLocked(self, UINT64_MAX, this);
      if (call) {
        lock.unlock();
        q.Run(call);
        lock.lock();
        continue;
      }
      q.Changed.wait(lock);
    }
  }
  lock.unlock();
  FThread.join();
}

void TThread::Synchronize(const std::function<void()>& method) {
  auto& q = TCallQueue::Instance();
  if (IsMainThread()) {
    method();
    return;
  }
  auto call = std::make_shared<TQueuedCall>();
  call->Owner = this;
  call->Call = method;
  call->Synchronous = true;
  {
    std::lock_guard<std::mutex> lock(q.Mutex);
    call->Target = q.MainThread;
  }
  q.Push(call);
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(q.Mutex);
    q.Changed.wait(lock, [&] { return call->Done; });
    // Take the failure out under the lock: the main thread may drop the
    // last reference to the call, and the exception must then end here,
    // on the thread that handles it, not there while this one reads it.
    error = std::move(call->Error);
  }
  if (error) std::rethrow_exception(error);
}

// ---------------------------------------------------------------------------
// TMessageWindow

TMessageWindow::TMessageWindow(TWindowProc proc)
    : FProc(std::move(proc)), FThread(std::this_thread::get_id()) {}

TMessageWindow::~TMessageWindow() {
  auto& q = TCallQueue::Instance();
  std::lock_guard<std::mutex> lock(q.Mutex);
  q.Calls.erase(std::remove_if(q.Calls.begin(), q.Calls.end(),
                               [this](const std::shared_ptr<TQueuedCall>& c) { return c->Owner == this; }),
                q.Calls.end());
}

void TMessageWindow::PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  auto call = std::make_shared<TQueuedCall>();
  call->Target = FThread;
  call->Owner = this;
  // The procedure is copied: a handler may destroy this window while it runs.
  call->Call = [proc = FProc, msg, wParam, lParam] { proc(msg, wParam, lParam); };
  TCallQueue::Instance().Push(call);
}

}  // namespace cport

// SPDX-License-Identifier: MIT
// Small runtime layer under the serial port component: sets of enumeration
// values, the exception base, components with an owner, a loading state and
// destruction notices, and threads that can run a call on the main thread.
//
// Standard C++ only, so that programs without a GUI can use the component.
//
// Threading contract:
//  - The "main thread" is the thread that ran static initialisation (the
//    process's first thread) unless SetMainThread() names another one.
//  - TThread::Synchronize() queues a call for the main thread and blocks until
//    the main thread has run it through CheckSynchronize().  A GUI installs a
//    wake hook (SetWakeMainThread) that makes its event loop call
//    CheckSynchronize(); programs without an event loop call it themselves.
//  - TMessageWindow delivers posted messages on the thread that created it,
//    also through CheckSynchronize() run on that thread.
//  - Everything else here is meant for one thread at a time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cport {

// A set of enumeration values held in the bits of Storage, bit n for the
// value of ordinal n.
template <class E, class Storage>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> values) {
    for (E v : values) FBits |= Bit(v);
  }
  static constexpr TSet FromBits(Storage bits) {
    TSet s;
    s.FBits = bits;
    return s;
  }
  constexpr Storage Bits() const { return FBits; }
  constexpr bool Contains(E v) const { return (FBits & Bit(v)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr TSet& Include(E v) {
    FBits |= Bit(v);
    return *this;
  }
  constexpr TSet& Exclude(E v) {
    FBits &= static_cast<Storage>(~Bit(v));
    return *this;
  }
  constexpr TSet operator+(TSet o) const { return FromBits(FBits | o.FBits); }
  constexpr TSet operator*(TSet o) const { return FromBits(FBits & o.FBits); }
  constexpr TSet operator-(TSet o) const { return FromBits(FBits & static_cast<Storage>(~o.FBits)); }
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr Storage Bit(E v) { return static_cast<Storage>(Storage{1} << static_cast<unsigned>(v)); }
  Storage FBits = 0;
};

// Base of all failures raised by the component; carries a ready message.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const { return FMessage; }

 private:
  std::string FMessage;
};

// Raised when a value is copied onto an object of an unrelated class.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Values that can be copied onto one another, refused between unrelated
// classes.
class TPersistent {
 public:
  virtual ~TPersistent() = default;
  // Copies source onto this object; source decides through AssignTo.
  void Assign(const TPersistent& source);
  virtual const char* ClassName() const = 0;

 protected:
  // Copies this object onto dest.  The base refuses with EConvertError.
  virtual void AssignTo(TPersistent& dest) const;
};

class TComponent;

// Receiver of a component's destruction notice.
class IFreeNotification {
 public:
  virtual void FreeNotify(TComponent* component) = 0;

 protected:
  ~IFreeNotification() = default;
};

// A component is owned by its owner (which destroys it), can be in its
// loading state while the owner applies stored initial settings, and tells
// registered receivers when it is destroyed.
class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  const std::vector<TComponent*>& Components() const { return FComponents; }

  // The owner brackets the application of stored initial settings.
  // EndLoading leaves the state and runs Loaded().
  void BeginLoading();
  void EndLoading();
  bool Loading() const { return FLoading; }
  bool Destroying() const { return FDestroying; }

  void FreeNotification(IFreeNotification* receiver);
  void RemoveFreeNotification(IFreeNotification* receiver);

 protected:
  virtual void Loaded() {}
  // Derived destructors call this first so that receivers hear of the
  // destruction before any state is torn down; the base calls it too.
  void NotifyDestruction();

 private:
  TComponent* FOwner;
  std::vector<TComponent*> FComponents;
  std::vector<IFreeNotification*> FFreeNotifies;
  bool FLoading = false;
  bool FDestroying = false;
  bool FNotified = false;
};

// Where failures end that no caller can receive (the end of loading, a
// window message handler).  The default writes the message to stderr; a GUI
// installs a handler that shows it.
using TExceptionHandler = std::function<void(std::exception_ptr)>;
void SetApplicationExceptionHandler(TExceptionHandler handler);
void HandleApplicationException(std::exception_ptr error);

// ---------------------------------------------------------------------------
// Threads

enum TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

void SetMainThread(std::thread::id id = std::this_thread::get_id());
bool IsMainThread();

// Called (from any thread) when a call is queued for the main thread; the
// hook must make the main thread run CheckSynchronize() soon.  It may be
// called often and must not block.
void SetWakeMainThread(std::function<void()> hook);

// Runs the queued calls that target the calling thread (synchronised calls
// on the main thread, posted messages on a window's thread).  Returns true
// if any call ran.  Calls queued while it runs wait for the next call.
bool CheckSynchronize();

// Runs the calls queued for the calling thread as they come until done()
// holds or timeoutMs has passed (-1: no limit); true when done() held.  It
// sleeps in between: done() is asked again after queued calls ran and
// whenever another thread calls WakeSynchronizeWaiters(), so a condition
// that another thread makes true must be followed by that call.
bool SynchronizeUntil(const std::function<bool()>& done, int timeoutMs);
void WakeSynchronizeWaiters();

class TThread {
 public:
  TThread();
  virtual ~TThread();  // derived destructors must stop the thread first
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts Execute() on a new thread.  Throws std::system_error when the
  // system cannot create one.
  void Start();
  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }
  bool Finished() const { return FFinished.load(); }
  // Waits for Execute() to return.  On the main thread it runs, while
  // waiting, the synchronised calls queued by this thread (and nothing
  // else), so a thread blocked in Synchronize() cannot deadlock it.
  void WaitFor();
  // Takes effect when the thread starts.
  void SetPriority(TThreadPriority priority) { FPriority = priority; }
  TThreadPriority Priority() const { return FPriority; }
  // The exception that ended Execute(), if any.
  std::exception_ptr FatalException() const { return FFatal; }
  bool IsCurrentThread() const { return FId.load() == std::this_thread::get_id(); }

  // Gives up a started thread that cannot be waited for here (it is the
  // calling thread, or it waits for the calling thread): it deletes itself
  // when Execute() returns; one that has already ended is deleted at once.
  static void ReleaseWhenFinished(std::unique_ptr<TThread> thread);

 protected:
  virtual void Execute() = 0;
  // Runs method on the main thread and waits for it; an exception raised by
  // method is raised again here.  On the main thread it runs at once.
  void Synchronize(const std::function<void()>& method);

 private:
  void Run();

  std::thread FThread;
  std::mutex FStartMutex;                 // the new thread waits until Start has stored FThread
  std::atomic<std::thread::id> FId{};     // written by the thread itself
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FFreeOnTerminate = false;  // guarded by the call queue's mutex
  TThreadPriority FPriority = tpNormal;
  std::exception_ptr FFatal;
};

// Stand-in for a hidden window that receives posted messages on the thread
// that created it.  Messages still queued when it is destroyed are dropped.
class TMessageWindow {
 public:
  using TWindowProc = std::function<void(uint32_t msg, uintptr_t wParam, intptr_t lParam)>;
  explicit TMessageWindow(TWindowProc proc);
  ~TMessageWindow();
  TMessageWindow(const TMessageWindow&) = delete;
  TMessageWindow& operator=(const TMessageWindow&) = delete;

  // Queues a message and returns at once (any thread).
  void PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);

 private:
  TWindowProc FProc;
  std::thread::id FThread;
};

}  // namespace cport

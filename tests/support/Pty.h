// SPDX-License-Identifier: MIT
// A pseudo-terminal pair: the port under test opens the terminal end by its
// path, the test plays the far end on the master.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "Wait.h"

namespace cport::test {

class TPty {
 public:
  TPty();  // throws std::runtime_error when no pair can be made
  ~TPty();
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;

  const std::string& Path() const { return FPath; }
  int Master() const { return FMaster; }
  // The test's own descriptor of the terminal end (opened before the port).
  int Slave() const { return FSlave; }

  // Sends bytes to the port.
  void Send(const std::string& bytes);
  // What the port sent: waits until n bytes have come or timeoutMs passed.
  std::string Receive(size_t n, int timeoutMs = 5000);
  // Whatever has arrived within waitMs.
  std::string Drain(int waitMs = 0);
  // Closes the far end: the port sees the line hang up.
  void HangUp();

 private:
  int FMaster = -1;
  int FSlave = -1;  // keeps the pair alive between opens of the port
  std::string FPath;
};

// The calling thread's id, and whether the thread of that id (0: any other
// thread of the process) sleeps in a poll-type system call, where the
// driver waits for a line or a wake-up; waits for that up to timeoutMs.
int ThreadId();
bool WaitUntilPolling(int tid, int timeoutMs = 10000);

// Runs f on a thread of its own and keeps how it ended: the component's
// error code and the system's (0 when f returned), -1 while it runs.
class TOnThread {
 public:
  explicit TOnThread(std::function<void()> f);
  ~TOnThread() { FThread.join(); }
  bool Asleep() { return WaitUntil([this] { return FId.load() != 0; }) && WaitUntilPolling(FId); }
  bool Ended(int timeoutMs = 10000) { return WaitUntil([this] { return FCode.load() != -1; }, timeoutMs); }
  int Code() const { return FCode.load(); }
  int Error() const { return FError.load(); }

 private:
  std::atomic<int> FId{0}, FCode{-1}, FError{0};
  std::thread FThread;
};

}  // namespace cport::test

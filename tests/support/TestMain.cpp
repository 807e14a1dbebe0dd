// SPDX-License-Identifier: MIT
// main() of the non-GUI tests: Google Test with a watchdog per test.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "Watchdog.h"

namespace cport::test {

namespace {

using Clock = std::chrono::steady_clock;

class TWatchdog : public ::testing::EmptyTestEventListener {
 public:
  TWatchdog() {
    if (const char* s = std::getenv("VX_TEST_DEADLINE")) FDefault = std::max(1, std::atoi(s));
    FThread = std::thread([this] { Watch(); });
  }
  ~TWatchdog() override {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FQuit = true;
    }
    FCv.notify_all();
    FThread.join();
  }

  void OnTestStart(const ::testing::TestInfo& info) override {
    Arm(std::string(info.test_suite_name()) + "." + info.name(), FDefault);
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    std::lock_guard<std::mutex> lock(FMutex);
    FArmed = false;
  }

  void Arm(std::string name, int seconds) {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      if (!name.empty()) FName = std::move(name);
      FSeconds = seconds;
      FDeadline = Clock::now() + std::chrono::seconds(seconds);
      FArmed = true;
    }
    FCv.notify_all();
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(FMutex);
    while (!FQuit) {
      if (!FArmed) {
        FCv.wait(lock);
        continue;
      }
      const auto deadline = FDeadline;
      if (FCv.wait_until(lock, deadline) == std::cv_status::timeout && FArmed && FDeadline == deadline) {
        std::fprintf(stderr, "\n[ WATCHDOG ] %s did not end within %d s: a wait in it never ended\n", FName.c_str(),
                     FSeconds);
        std::fflush(stderr);
        std::_Exit(1);
      }
    }
  }

  std::mutex FMutex;
  std::condition_variable FCv;
  bool FArmed = false, FQuit = false;
  std::string FName;
  int FSeconds = 0;
  int FDefault = kDefaultDeadlineSeconds;
  Clock::time_point FDeadline;
  std::thread FThread;
};

TWatchdog* gWatchdog = nullptr;

}  // namespace

void SetTestDeadline(int seconds) {
  if (gWatchdog) gWatchdog->Arm("", seconds);
}

}  // namespace cport::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  cport::test::gWatchdog = new cport::test::TWatchdog;
  ::testing::UnitTest::GetInstance()->listeners().Append(cport::test::gWatchdog);
  return RUN_ALL_TESTS();
}

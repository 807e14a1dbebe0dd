// SPDX-License-Identifier: MIT
// main() of the non-GUI tests: Google Test with a deadline per test.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "Watchdog.h"

namespace {

using Clock = std::chrono::steady_clock;

// Never destroyed: the watching thread outlives main().
struct TState {
  std::mutex Mutex;
  std::condition_variable Changed;
  std::string Test;
  int Seconds = 0;
  Clock::time_point Deadline = Clock::now() + std::chrono::hours(24);
}* gState = new TState;

void Arm(const std::string* test, int seconds) {
  {
    std::lock_guard<std::mutex> lock(gState->Mutex);
    if (test) gState->Test = *test;
    gState->Seconds = seconds;
    gState->Deadline = Clock::now() + (seconds ? std::chrono::seconds(seconds) : std::chrono::hours(24));
  }
  gState->Changed.notify_all();
}

struct TWatchdog : ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& info) override {
    const char* env = std::getenv("VX_TEST_DEADLINE");
    const std::string name = std::string(info.test_suite_name()) + "." + info.name();
    Arm(&name, env ? std::atoi(env) : cport::test::kDefaultDeadlineSeconds);
  }
  void OnTestEnd(const ::testing::TestInfo&) override { Arm(nullptr, 0); }
};

}  // namespace

void cport::test::SetTestDeadline(int seconds) { Arm(nullptr, seconds); }

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new TWatchdog);
  std::thread([] {
    std::unique_lock<std::mutex> lock(gState->Mutex);
    for (;;)
      if (gState->Changed.wait_until(lock, gState->Deadline) == std::cv_status::timeout &&
          Clock::now() >= gState->Deadline) {
        std::fprintf(stderr, "\n[ WATCHDOG ] %s did not end within %d s: a wait in it never ended\n",
                     gState->Test.c_str(), gState->Seconds);
        std::_Exit(1);
      }
  }).detach();
  return RUN_ALL_TESTS();
}

// SPDX-License-Identifier: MIT
// Every test of the non-GUI programs runs under a deadline: a test that
// hangs (a wake-up lost, a Close that never returns) ends the program with a
// failure within seconds instead of blocking until ctest's own limit.
#pragma once

namespace cport::test {

// Sets the running test's deadline, counted from now; the default is
// kDefaultDeadlineSeconds (or VX_TEST_DEADLINE seconds) from its start.
void SetTestDeadline(int seconds);
constexpr int kDefaultDeadlineSeconds = 60;

}  // namespace cport::test

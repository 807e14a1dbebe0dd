// SPDX-License-Identifier: MIT
// Every test of the non-GUI programs runs under a deadline (VX_TEST_DEADLINE
// seconds, by default kDefaultDeadlineSeconds): one that hangs ends the
// program with a failure instead of blocking until ctest's own limit.
#pragma once

namespace cport::test {

constexpr int kDefaultDeadlineSeconds = 60;
// Sets the running test's deadline, counted from now.
void SetTestDeadline(int seconds);

}  // namespace cport::test

// SPDX-License-Identifier: MIT
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "Platform.h"

namespace cport::platform {

std::string ExecutableDir() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  buf[n] = '\0';
  return std::filesystem::path(buf).parent_path().string();
}

void SetCurrentThreadPriority(TThreadPriority priority) {
  int nice = 0;
  switch (priority) {
    case tpIdle: nice = 19; break;
    case tpLowest: nice = 10; break;
    case tpLower: nice = 5; break;
    case tpNormal: return;  // inherit the process's priority
    case tpHigher: nice = -5; break;
    case tpHighest: nice = -10; break;
    case tpTimeCritical: nice = -20; break;
  }
  // Raising needs a privilege the process may not have; it then runs at the
  // default priority.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice);
}

}  // namespace cport::platform

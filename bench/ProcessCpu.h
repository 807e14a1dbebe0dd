// SPDX-License-Identifier: MIT
// CPU time of another process (all its threads, user and system), for the
// benches that start a program and measure it from outside.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

namespace bench {

// Seconds so far; nothing when the process cannot be read.
inline std::optional<double> ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(in)), {});
  // The name may hold spaces and parentheses: the fields start after the last ')'.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 2));
  std::string f;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {  // fields 14 and 15 are utime and stime
    if (i == 14) utime = std::stoull(f);
    if (i == 15) stime = std::stoull(f);
  }
  return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

}  // namespace bench

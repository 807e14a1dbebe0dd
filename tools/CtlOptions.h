// SPDX-License-Identifier: MIT
// vxctl's command line: global options anywhere, then the command and its
// arguments.  Nothing here touches the port.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vxctl {

// Bad usage: exit code 2, and nothing has been sent.
struct TUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class EFormat { Text, Csv, Json };

struct TOptions {
  std::optional<std::string> Port;  // none: the panel's stored port settings
  std::optional<int32_t> Baud;      // bits per second
  int32_t TimeoutMs = 500;          // for each reply
  EFormat Format = EFormat::Text;
  int32_t IntervalMs = 1000;  // watch: from one status query to the next
  int64_t Count = 0;          // watch: readings to take, 0 until stopped
  bool Help = false;
  std::string Command;
  std::vector<std::string> Args;
};

extern const char* const kUsage;

// Throws TUsageError for an unknown command or option, a missing or bad value.
TOptions ParseOptions(const std::vector<std::string>& args);

// A whole decimal number from min to max; what names it is quoted in the error.
int64_t ParseNumber(const std::string& what, const std::string& text, int64_t min, int64_t max);

}  // namespace vxctl

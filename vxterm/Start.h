// SPDX-License-Identifier: MIT
// What vxterm settles from its command line before any window exists: the
// help, the version, the list of ports, or a bad usage (exit code 2, with
// nothing opened).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "ComDriver.h"
#include "Options.h"

namespace vxterm {

enum : int { kExitDone = 0, kExitFailed = 1, kExitUsage = 2 };

struct TStart {
  bool Proceed = false;  // go on to the window with Options
  int ExitCode = kExitDone;
  TOptions Options;
};

// Messages go to err, the help, version and list to out.
TStart Begin(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, cport::TComDriver& driver);

// The ports present with their descriptions and stable paths.
int ListPorts(std::FILE* out, std::FILE* err, cport::TComDriver& driver);

}  // namespace vxterm

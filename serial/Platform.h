// SPDX-License-Identifier: MIT
// The few services of the operating system that the neutral core needs
// besides the serial driver.  Each platform implements them in its own file.
#pragma once

#include <string>

#include "Classes.h"

namespace cport::platform {

// Folder of the running executable, or empty when it cannot be told.
std::string ExecutableDir();

// Gives the calling thread the priority; failures (no permission) are
// ignored, the thread then runs at the default priority.
void SetCurrentThreadPriority(TThreadPriority priority);

}  // namespace cport::platform

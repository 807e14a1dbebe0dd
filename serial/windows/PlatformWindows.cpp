// SPDX-License-Identifier: MIT
#include <filesystem>

#include "ComDeviceWindows.h"
#include "Platform.h"

namespace cport::platform {

std::string ExecutableDir() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // cut short: ask again with room
  }
  return win::Narrow(std::filesystem::path(path).parent_path().wstring());
}

void SetCurrentThreadPriority(TThreadPriority priority) {
  int level = THREAD_PRIORITY_NORMAL;
  switch (priority) {
    case tpIdle: level = THREAD_PRIORITY_IDLE; break;
    case tpLowest: level = THREAD_PRIORITY_LOWEST; break;
    case tpLower: level = THREAD_PRIORITY_BELOW_NORMAL; break;
    case tpNormal: return;  // as the process starts its threads
    case tpHigher: level = THREAD_PRIORITY_ABOVE_NORMAL; break;
    case tpHighest: level = THREAD_PRIORITY_HIGHEST; break;
    case tpTimeCritical: level = THREAD_PRIORITY_TIME_CRITICAL; break;
  }
  ::SetThreadPriority(::GetCurrentThread(), level);
}

}  // namespace cport::platform

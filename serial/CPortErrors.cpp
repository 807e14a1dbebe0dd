// SPDX-License-Identifier: MIT
// The failure type and its texts, looked up in the "cport" message catalog.
#include <filesystem>
#include <mutex>

#include "CPort.h"
#include "Platform.h"
#include "Translation.h"

#ifndef CPORT_INSTALLED_LOCALEDIR
#define CPORT_INSTALLED_LOCALEDIR "/usr/local/share/locale"
#endif

// Marks a text that is looked up in the catalog later; the catalog check
// collects every text so marked.
#define N_(text) text

namespace cport {

namespace {

constexpr const char* kDomain = "cport";
constexpr const char* kSuffix = N_(" (win error code: %d)");

constexpr const char* kPortErrorTexts[PortErrorCount + 1] = {
    "",
    N_("Unable to open com port"),
    N_("WriteFile function failed"),
    N_("ReadFile function failed"),
    N_("Invalid Async parameter"),
    N_("PurgeComm function failed"),
    N_("Unable to get async status"),
    N_("SetCommState function failed"),
    N_("SetCommTimeouts failed"),
    N_("SetupComm function failed"),
    N_("ClearCommError function failed"),
    N_("GetCommModemStatus function failed"),
    N_("EscapeCommFunction function failed"),
    N_("TransmitCommChar function failed"),
    N_("Cannot set property while connected"),
    N_("EnumPorts function failed"),
    N_("Failed to store settings"),
    N_("Failed to load settings"),
    N_("Link (un)registration failed"),
    N_("Cannot change led state if ComPort is selected"),
    N_("Cannot wait for event if event thread is created"),
    N_("WaitForEvent method failed"),
    N_("A component is linked to OnRxBuf event"),
    N_("Registry error"),
};

std::once_flag gTextsOnce;
std::array<std::string, PortErrorCount + 1> gTexts;

// The catalogs sit in share/locale beside the executable's bin folder, in
// the build tree as in an installed tree.
void BindDomain() {
  if (!translation::Available()) return;
  std::error_code ec;
  std::string dir;
  const std::string exeDir = platform::ExecutableDir();
  if (!exeDir.empty()) {
    auto candidate = std::filesystem::path(exeDir) / ".." / "share" / "locale";
    if (std::filesystem::is_directory(candidate, ec)) dir = candidate.lexically_normal().string();
  }
  if (dir.empty()) dir = CPORT_INSTALLED_LOCALEDIR;
  translation::BindDomain(kDomain, dir);
}

void FillTexts() {
  BindDomain();
  for (int i = 1; i <= PortErrorCount; ++i) gTexts[i] = translation::Lookup(kDomain, kPortErrorTexts[i]);
}

std::string CodeText(int32_t code) {
  const auto& texts = PortErrorTexts();
  if (code >= 1 && code <= PortErrorCount) return texts[code];
  return "Error " + std::to_string(code);
}

// The translated suffix is data, not a format: only its first "%d" is
// replaced, so a faulty catalog cannot make formatting read arguments that
// are not there.
std::string Suffix(int32_t systemError) {
  InitPortErrorTexts();  // binds the domain
  std::string s = translation::Lookup(kDomain, kSuffix);
  const auto pos = s.find("%d");
  if (pos != std::string::npos) s.replace(pos, 2, std::to_string(systemError));
  return s;
}

}  // namespace

void InitPortErrorTexts() { std::call_once(gTextsOnce, FillTexts); }

const std::array<std::string, PortErrorCount + 1>& PortErrorTexts() {
  InitPortErrorTexts();
  return gTexts;
}

EComPort::EComPort(int32_t code, int32_t systemError)
    : Exception(CodeText(code) + Suffix(systemError)), FComErrorCode(code), FSystemErrorCode(systemError) {}

EComPort::EComPort(int32_t code) : Exception(CodeText(code)), FComErrorCode(code), FSystemErrorCode(-1) {}

}  // namespace cport

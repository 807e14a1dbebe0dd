// SPDX-License-Identifier: MIT
#include "Start.h"

#include <algorithm>

#include "CPort.h"
#include "Texts.h"

#ifndef VXTERM_VERSION
#define VXTERM_VERSION "0"
#endif

namespace vxterm {

int ListPorts(std::FILE* out, std::FILE* err, cport::TComDriver& driver) {
  std::vector<cport::TComPortInfo> ports;
  try {
    cport::EnumComPortInfo(ports, driver);
  } catch (const cport::EComPort& e) {
    std::fprintf(err, "vxterm: %s\n", Fill(Tr("cannot list the ports: %1"), {e.what()}).c_str());
    return kExitFailed;
  }
  if (ports.empty()) {
    std::fprintf(err, "vxterm: %s\n", Tr("no serial ports found"));
    return kExitDone;
  }
  size_t width = 0;
  for (const auto& p : ports) width = std::max(width, p.Name.size());
  for (const auto& p : ports) {
    std::string line = p.Name;
    if (!p.Description.empty()) line += std::string(width - p.Name.size() + 2, ' ') + p.Description;
    std::fprintf(out, "%s\n", line.c_str());
    // The name that survives re-plugging, to give as PORT.
    if (!p.StablePath.empty()) std::fprintf(out, "%s%s\n", std::string(width + 2, ' ').c_str(), p.StablePath.c_str());
  }
  return std::fflush(out) == 0 ? kExitDone : kExitFailed;
}

TStart Begin(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, cport::TComDriver& driver) {
  TStart s;
  try {
    s.Options = ParseOptions(args);
  } catch (const TUsageError& e) {
    std::fprintf(err, "vxterm: %s\n%s\n", e.what(), Tr("Try 'vxterm --help' for more information."));
    s.ExitCode = kExitUsage;
    return s;
  }
  if (s.Options.Help) {
    std::fputs(Usage().c_str(), out);
    return s;
  }
  if (s.Options.Version) {
    std::fprintf(out, "vxterm %s\n", VXTERM_VERSION);
    return s;
  }
  if (s.Options.List) {
    s.ExitCode = ListPorts(out, err, driver);
    return s;
  }
  s.Proceed = true;
  return s;
}

}  // namespace vxterm

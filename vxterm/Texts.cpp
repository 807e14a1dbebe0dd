// SPDX-License-Identifier: MIT
#include "Texts.h"

#include <libintl.h>

#include <filesystem>
#include <mutex>

#include "Platform.h"

#ifndef VXTERM_INSTALLED_LOCALEDIR
#define VXTERM_INSTALLED_LOCALEDIR "/usr/local/share/locale"
#endif

namespace vxterm {

namespace {

std::once_flag gBound;

void Bind() {
  std::string dir = VXTERM_INSTALLED_LOCALEDIR;
  const std::string exeDir = cport::platform::ExecutableDir();
  std::error_code ec;
  if (!exeDir.empty()) {
    const auto candidate = std::filesystem::path(exeDir) / ".." / "share" / "locale";
    if (std::filesystem::is_directory(candidate, ec)) dir = candidate.lexically_normal().string();
  }
  bindtextdomain(kTextDomain, dir.c_str());
  bind_textdomain_codeset(kTextDomain, "UTF-8");
}

}  // namespace

const char* Tr(const char* text) {
  std::call_once(gBound, Bind);
  // The empty text would fetch the catalog's header.
  return *text ? dgettext(kTextDomain, text) : text;
}

QString QTr(const char* text) { return QString::fromUtf8(Tr(text)); }

std::string Fill(const std::string& text, std::initializer_list<std::string> args) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const size_t n = static_cast<size_t>(text[i + 1] - '1');
      if (n < args.size()) {
        out += *(args.begin() + n);
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

}  // namespace vxterm

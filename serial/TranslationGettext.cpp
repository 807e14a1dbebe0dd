// SPDX-License-Identifier: MIT
#include <libintl.h>

#include "Translation.h"

namespace cport::translation {

bool Available() { return true; }

void BindDomain(const char* domain, const std::string& dir) {
  bindtextdomain(domain, dir.c_str());
  bind_textdomain_codeset(domain, "UTF-8");
}

const char* Lookup(const char* domain, const char* text) { return dgettext(domain, text); }

}  // namespace cport::translation

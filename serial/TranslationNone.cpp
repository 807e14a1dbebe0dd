// SPDX-License-Identifier: MIT
// For targets without a gettext library: every text stays as written.
#include "Translation.h"

namespace cport::translation {

bool Available() { return false; }

void BindDomain(const char*, const std::string&) {}

const char* Lookup(const char*, const char* text) { return text; }

}  // namespace cport::translation

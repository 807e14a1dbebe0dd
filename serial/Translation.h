// SPDX-License-Identifier: MIT
// Message catalogs for the component's texts.  The build picks one
// implementation: the system's gettext, or none, where the texts stay as
// written (English).
#pragma once

#include <string>

namespace cport::translation {

// Whether this build looks texts up at all.
bool Available();

// Tells where the catalogs of the domain lie (<dir>/<language>/LC_MESSAGES).
void BindDomain(const char* domain, const std::string& dir);

// The text in the user's language, or the text itself.
const char* Lookup(const char* domain, const char* text);

}  // namespace cport::translation

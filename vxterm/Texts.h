// SPDX-License-Identifier: MIT
// vxterm's own texts, looked up in the gettext domain "vxterm" (catalogs in
// po/vxterm).  The component's texts stay in its domain "cport".
#pragma once

#include <QString>

#include <initializer_list>
#include <string>

// Marks a text that is looked up later; the catalog check collects every
// text marked N_, Tr or QTr.
#define N_(text) text

namespace vxterm {

inline constexpr const char* kTextDomain = "vxterm";

// The text in the user's language, or as written when the catalog has none.
// The domain is bound at the first call, from the catalogs beside the
// program (../share/locale) or the installed ones.
const char* Tr(const char* text);
QString QTr(const char* text);

// Replaces %1 to %9 in text by the arguments, in one pass: an argument that
// itself holds "%2" stays as it is.
std::string Fill(const std::string& text, std::initializer_list<std::string> args);

}  // namespace vxterm

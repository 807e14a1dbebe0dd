// SPDX-License-Identifier: MIT
// The final screen of an emulation as vtreplay prints it: one line per row
// (trailing blanks removed), "cursor ROW COL" (1-based), "answer " and the
// answer bytes written C-style.  Tests and the fuzzer compare these.
#pragma once

#include <string>
#include <string_view>

#include "CPortVT.h"

namespace vtreplay {

std::string ScreenReport(const cport::TVtEmulator& vt, std::string_view answer);

// Printable ASCII as it is, backslash doubled, \r \n \t, others as \xHH.
std::string CEscape(std::string_view bytes);

}  // namespace vtreplay

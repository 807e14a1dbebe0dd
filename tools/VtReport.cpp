// SPDX-License-Identifier: MIT
#include "VtReport.h"

#include <cstdio>

namespace vtreplay {

std::string ScreenReport(const cport::TVtEmulator& vt, std::string_view answer) {
  std::string out;
  for (int r = 0; r < vt.Rows(); ++r) {
    const int line = vt.ScrollbackCount() + r;
    std::string text = vt.Text(line, 0, line, vt.Columns());
    text.erase(text.find_last_not_of(' ') + 1);
    out += text + '\n';
  }
  out += "cursor " + std::to_string(vt.CursorRow() + 1) + ' ' + std::to_string(vt.CursorColumn() + 1) + '\n';
  out += "answer " + CEscape(answer) + '\n';
  return out;
}

std::string CEscape(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    switch (b) {
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (b >= 0x20 && b < 0x7F) {
          out += c;
        } else {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02x", b);
          out += hex;
        }
    }
  }
  return out;
}

}  // namespace vtreplay

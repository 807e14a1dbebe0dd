// SPDX-License-Identifier: MIT
#include "ControlSettings.h"

namespace vxterm {

cport::TTermEmulation ToControl(EEmulation emulation) {
  switch (emulation) {
    case EEmulation::None: return cport::teNone;
    case EEmulation::VT52: return cport::teVT52;
    case EEmulation::VT100: return cport::teVT100;
  }
  return cport::teVT100;
}

cport::TComTermSettings ToControl(const TTerminalSettings& s) {
  cport::TComTermSettings c;
  c.Emulation = ToControl(s.Emulation);
  c.Columns = s.Columns;
  c.Rows = s.Rows;
  c.LocalEcho = s.LocalEcho;
  c.SendLF = s.SendLF;
  c.AppendLF = s.AppendLF;
  c.Force7Bit = s.Force7Bit;
  c.WrapLines = s.WrapLines;
  c.ScrollBack = s.ScrollBack;
  c.Charset = s.Charset == ECharset::Latin1 ? cport::tcLatin1 : cport::tcUTF8;
  c.BackspaceDel = s.BackspaceDel;
  QFont font;
  if (!s.Font.isEmpty() && font.fromString(s.Font)) c.Font = font;
  if (s.Colors.size() == 16)
    for (int i = 0; i < 16; ++i) c.Colors[static_cast<size_t>(i)] = QColor(s.Colors[i]);
  c.CursorShape = s.Cursor == ECursorShape::Bar         ? cport::tsBar
                  : s.Cursor == ECursorShape::Underline ? cport::tsUnderline
                                                        : cport::tsBlock;
  c.CursorBlink = s.CursorBlink;
  return c;
}

TTerminalSettings FromControl(const cport::TComTermSettings& c) {
  TTerminalSettings s;
  s.Emulation = c.Emulation == cport::teNone ? EEmulation::None
                : c.Emulation == cport::teVT52 ? EEmulation::VT52
                                               : EEmulation::VT100;
  s.Columns = c.Columns;
  s.Rows = c.Rows;
  s.LocalEcho = c.LocalEcho;
  s.SendLF = c.SendLF;
  s.AppendLF = c.AppendLF;
  s.Force7Bit = c.Force7Bit;
  s.WrapLines = c.WrapLines;
  s.ScrollBack = c.ScrollBack;
  s.Charset = c.Charset == cport::tcLatin1 ? ECharset::Latin1 : ECharset::Utf8;
  s.BackspaceDel = c.BackspaceDel;
  if (c.Font != cport::TComTermSettings::DefaultTermFont()) s.Font = c.Font.toString();
  if (c.Colors != cport::TComTermSettings::DefaultTermColors())
    for (const QColor& color : c.Colors) s.Colors << color.name();
  s.Cursor = c.CursorShape == cport::tsBar         ? ECursorShape::Bar
             : c.CursorShape == cport::tsUnderline ? ECursorShape::Underline
                                                   : ECursorShape::Block;
  s.CursorBlink = c.CursorBlink;
  return s;
}

}  // namespace vxterm

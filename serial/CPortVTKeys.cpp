// SPDX-License-Identifier: MIT
// The bytes a terminal sends for each key.  Beyond the VT100's own keys,
// Home, End, Insert, Delete, PgUp and PgDn send the VT220 editing keypad's
// codes (ESC [ 1 ~ to ESC [ 6 ~), which hosts' line editors know; in VT52
// mode, which has none of them, Home moves the cursor home (ESC H), Delete
// sends DEL and the others send nothing.
#include <string>

#include "CPortVTState.h"

namespace cport {

namespace {

std::string Esc(char a) { return std::string{'\x1b', a}; }
std::string Esc(char a, char b) { return std::string{'\x1b', a, b}; }

std::string ControlText(const std::string& text) {
  if (text.size() != 1) return {};
  const char c = text[0];
  if (c >= 'a' && c <= 'z') return std::string(1, static_cast<char>(c - 'a' + 1));
  if (c >= '@' && c <= '_') return std::string(1, static_cast<char>(c - '@'));  // A-Z [ \ ] ^ _
  if (c == ' ') return std::string(1, '\0');
  if (c == '?') return "\x7f";
  return {};
}

// Typed text in the line's character set; what Latin-1 cannot hold goes as '?'.
std::string EncodeText(const std::string& text, TTermCharset charset) {
  if (charset == tcUTF8) return text;
  std::string out;
  vt::TUtf8Decoder decoder;
  for (char c : text) {
    decoder.Put(static_cast<uint8_t>(c),
                [&out](char32_t ch) { out += ch <= 0xFF ? static_cast<char>(ch) : '?'; });
  }
  if (!decoder.Idle()) out.append(decoder.Have, '?');
  return out;
}

std::string Return(const TVtKeyModes& modes) { return modes.NewLine || modes.SendLF ? "\r\n" : "\r"; }

std::string Keypad(TVtKey key, const TVtKeyModes& modes) {
  static const char numeric[] = "0123456789-,.\r+*/";
  static const char application[] = "pqrstuvwxymlnMkjo";
  const int i = key - vkKp0;
  if (!modes.KeypadApp) return key == vkKpEnter ? Return(modes) : std::string(1, numeric[i]);
  return Esc(modes.Emulation == teVT52 ? '?' : 'O', application[i]);
}

std::string Editing(char code) { return std::string{'\x1b', '[', code, '~'}; }

}  // namespace

std::string VtKeyBytes(const TVtKeyPress& key, const TVtKeyModes& modes) {
  const bool vt52 = modes.Emulation == teVT52;
  switch (key.Key) {
    case vkNone: return key.Ctrl ? ControlText(key.Text) : EncodeText(key.Text, modes.Charset);
    case vkReturn: return Return(modes);
    case vkBackspace: return modes.BackspaceDel ? "\x7f" : "\b";
    case vkTab: return "\t";
    case vkEscape: return "\x1b";
    case vkUp:
    case vkDown:
    case vkRight:
    case vkLeft: {
      const char code = "ABCD"[key.Key - vkUp];
      if (vt52) return Esc(code);
      return Esc(modes.CursorKeys ? 'O' : '[', code);
    }
    case vkHome: return vt52 ? Esc('H') : Editing('1');
    case vkInsert: return vt52 ? "" : Editing('2');
    case vkDelete: return vt52 ? "\x7f" : Editing('3');
    case vkEnd: return vt52 ? "" : Editing('4');
    case vkPageUp: return vt52 ? "" : Editing('5');
    case vkPageDown: return vt52 ? "" : Editing('6');
    case vkF1:
    case vkF2:
    case vkF3:
    case vkF4: {
      const char code = static_cast<char>('P' + (key.Key - vkF1));
      return vt52 ? Esc(code) : Esc('O', code);
    }
    default:
      if (key.Key >= vkKp0 && key.Key <= vkKpDivide) return Keypad(key.Key, modes);
      return {};
  }
}

}  // namespace cport

// SPDX-License-Identifier: MIT
// The emulation's parser: the DEC/ANSI state machine from the escape
// character to the final byte, and what each control function does in VT100
// and VT52 mode.
#include <algorithm>
#include <climits>
#include <cstdio>

#include "CPortVTState.h"

namespace cport {

using TState = TVtEmulator::TState;
using namespace vt;

namespace {

constexpr char kDeviceAttributes[] = "\x1b[?1;2c";  // VT100 with the advanced video option

// The nearest of the 16 colours to an RGB value, for the extended SGR forms.
uint8_t NearestColor(int r, int g, int b) {
  static const uint8_t palette[16][3] = {
      {0, 0, 0},       {205, 0, 0},   {0, 205, 0},   {205, 205, 0},   {0, 0, 238},    {205, 0, 205},
      {0, 205, 205},   {229, 229, 229}, {127, 127, 127}, {255, 0, 0},   {0, 255, 0},    {255, 255, 0},
      {92, 92, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  int best = 0;
  long bestDistance = -1;
  for (int i = 0; i < 16; ++i) {
    const long dr = r - palette[i][0], dg = g - palette[i][1], db = b - palette[i][2];
    const long d = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  return static_cast<uint8_t>(best);
}

uint8_t Color256(int index) {
  if (index < 16) return static_cast<uint8_t>(index);
  if (index < 232) {
    static const int level[6] = {0, 95, 135, 175, 215, 255};
    const int i = index - 16;
    return NearestColor(level[i / 36], level[i / 6 % 6], level[i % 6]);
  }
  const int grey = 8 + 10 * (std::min(index, 255) - 232);
  return NearestColor(grey, grey, grey);
}

}  // namespace

// Answers nobody takes are kept only up to a bound; whole ones, the oldest.
void TState::Reply(std::string_view answer) {
  if (Answer.size() + answer.size() <= MaxAnswer) Answer += answer;
}

void TState::ClearParams() {
  ParamCount = 0;
  ManyParams = false;
  Params[0] = 0;
  Private = 0;
  Inter = 0;
  ManyInter = false;
}

int TState::Param(int i, int fallback) const {
  return i < ParamCount && Params[i] != 0 ? Params[i] : fallback;
}

// A decoded character into VT100 or VT52 emulation.
void TState::Code(char32_t ch) {
  if (Mode == teNone) {
    NoneCode(ch);
    return;
  }
  if (ch < 0x20) {
    switch (ch) {
      case 0x18:  // CAN and SUB abort a sequence
      case 0x1A:
        Parse = psGround;
        return;
      case 0x1B:
        ClearParams();
        Parse = psEscape;
        return;
      case 0x07:
        if (Parse == psOsc) {
          Parse = psGround;
          return;
        }
        break;
      default:
        break;
    }
    // Other controls act at once, also in the middle of a sequence, which
    // then goes on; strings swallow them.
    if (Parse != psOsc && Parse != psString) Control(ch);
    return;
  }
  // DEL, and C1 controls, which neither terminal knows.
  if (ch == 0x7F || (ch >= 0x80 && ch < 0xA0)) return;
  if (Parse == psGround) {
    Print(ch);
  } else {
    Sequence(ch);
  }
}

void TState::Control(char32_t ch) {
  switch (ch) {
    case 0x07:
      if (Bells < INT_MAX) ++Bells;
      break;
    case 0x08: MoveTo(Row, Col - 1); break;
    case 0x09: Tab(); break;
    case 0x0A:
    case 0x0B:
    case 0x0C:
      LineFeed();
      if (NewLine) CarriageReturn();
      break;
    case 0x0D:
      CarriageReturn();
      if (AppendLF) LineFeed();
      break;
    case 0x0E:
    case 0x0F:
      if (Mode == teVT100) {
        GL = ch == 0x0E ? 1 : 0;
        UpdateMap();
      }
      break;
    default: break;  // NUL, ENQ and the rest: nothing
  }
}

// A printable character (0x20 and up) outside the ground state.
void TState::Sequence(char32_t ch) {
  const bool ascii = ch < 0x7F;
  switch (Parse) {
    case psEscape:
      Parse = psGround;
      if (!ascii) return;
      if (Mode == teVT52) {
        Vt52Dispatch(ch);
      } else if (ch <= 0x2F) {
        Inter = static_cast<char>(ch);
        Parse = psEscInter;
      } else if (ch == '[') {
        Parse = psCsiEntry;
      } else if (ch == ']') {
        Parse = psOsc;
      } else if (ch == 'P' || ch == 'X' || ch == '^' || ch == '_') {
        Parse = psString;
      } else {
        EscDispatch(ch);
      }
      return;
    case psEscInter:
      if (ascii && ch <= 0x2F) {
        ManyInter = true;
        return;
      }
      Parse = psGround;
      if (ascii && !ManyInter) EscDispatch(ch);
      return;
    case psCsiEntry:
      if (ch >= '<' && ch <= '?') {
        Private = static_cast<char>(ch);
        Parse = psCsiParam;
        return;
      }
      [[fallthrough]];
    case psCsiParam:
      if (ch >= '0' && ch <= '9') {
        if (ParamCount == 0) ParamCount = 1;
        if (!ManyParams) {
          uint16_t& p = Params[ParamCount - 1];
          p = static_cast<uint16_t>(std::min<unsigned>(p * 10u + (ch - '0'), MaxParam));
        }
        Parse = psCsiParam;
      } else if (ch == ';') {
        if (ParamCount == 0) ParamCount = 1;
        if (ParamCount < MaxParams) {
          Params[ParamCount++] = 0;
        } else {
          ManyParams = true;  // the 17th and later are dropped
        }
        Parse = psCsiParam;
      } else if (ch <= 0x2F) {
        Inter = static_cast<char>(ch);
        Parse = psCsiInter;
      } else if (ascii && ch >= 0x40) {
        Parse = psGround;
        CsiDispatch(ch);
      } else {  // ':', a late private marker, or a foreign character
        Parse = psCsiIgnore;
      }
      return;
    case psCsiInter:
      if (ch <= 0x2F) {
        ManyInter = true;
      } else if (ascii && ch >= 0x40) {
        Parse = psGround;
        if (!ManyInter) CsiDispatch(ch);
      } else {
        Parse = psCsiIgnore;
      }
      return;
    case psCsiIgnore:
      if (ch >= 0x40 && ascii) Parse = psGround;
      return;
    case psVt52Row:
      Vt52Row = static_cast<uint16_t>(std::min<char32_t>(ch - 32, MaxSide));
      Parse = psVt52Col;
      return;
    case psVt52Col:
      Parse = psGround;
      MoveTo(Vt52Row, static_cast<int>(std::min<char32_t>(ch - 32, MaxSide)));
      return;
    case psOsc:
    case psString:
    case psGround:
      return;
  }
}

void TState::EscDispatch(char32_t final) {
  if (Inter == 0) {
    switch (final) {
      case 'D': LineFeed(); break;  // IND
      case 'E':                     // NEL
        CarriageReturn();
        LineFeed();
        break;
      case 'H': Tabs[static_cast<size_t>(Col)] = 1; break;  // HTS
      case 'M': ReverseIndex(); break;                       // RI
      case '7': Save(); break;
      case '8': Restore(); break;
      case 'c': FullReset(); break;
      case '=': KeypadApp = true; break;
      case '>': KeypadApp = false; break;
      case 'Z': Reply(kDeviceAttributes); break;  // DECID
      default: break;
    }
  } else if (Inter == '#') {
    if (final == '8') AlignmentFill();
  } else if (Inter == '(' || Inter == ')') {
    TCharsetSlot set;
    switch (final) {
      case 'B':
      case '1': set = csAscii; break;
      case 'A': set = csUK; break;
      case '0':
      case '2': set = csGraphics; break;
      default: return;
    }
    G[Inter == '(' ? 0 : 1] = set;
    UpdateMap();
  }
}

void TState::Vt52Dispatch(char32_t final) {
  switch (final) {
    case 'A': MoveTo(Row - 1, Col); break;
    case 'B': MoveTo(Row + 1, Col); break;
    case 'C': MoveTo(Row, Col + 1); break;
    case 'D': MoveTo(Row, Col - 1); break;
    case 'F':
    case 'G':
      Vt52Graphics = final == 'F';
      UpdateMap();
      break;
    case 'H': MoveTo(0, 0); break;
    case 'I': ReverseIndex(); break;
    case 'J': EraseDisplay(0); break;
    case 'K': EraseLine(0); break;
    case 'Y': Parse = psVt52Row; break;
    case 'Z': Reply("\x1b/Z"); break;
    case '=': KeypadApp = true; break;
    case '>': KeypadApp = false; break;
    case '<':
      Mode = teVT100;
      UpdateMap();
      break;
    default: break;
  }
}

void TState::CsiDispatch(char32_t final) {
  if (Private) {
    if (Private == '?' && Inter == 0 && (final == 'h' || final == 'l')) SetModes(final == 'h');
    return;
  }
  if (Inter) {
    if (Inter == '!' && final == 'p') SoftReset();  // DECSTR
    return;
  }
  const int n = Param(0, 1);
  switch (final) {
    case 'A':  // CUU, CUD: stop at the region's edge from inside it
      MoveTo(Row >= Top ? std::max(Top, Row - n) : Row - n, Col);
      break;
    case 'B':  // and VPR
    case 'e': MoveTo(Row <= Bottom ? std::min(Bottom, Row + n) : Row + n, Col); break;
    case 'C':  // and HPR
    case 'a': MoveTo(Row, Col + n); break;
    case 'D': MoveTo(Row, Col - n); break;
    case 'E':  // CNL, CPL
      MoveTo(Row <= Bottom ? std::min(Bottom, Row + n) : Row + n, 0);
      break;
    case 'F': MoveTo(Row >= Top ? std::max(Top, Row - n) : Row - n, 0); break;
    case 'G':  // CHA, HPA
    case '`': MoveTo(Row, n - 1); break;
    case 'd': MoveToOrigin(n - 1, Col); break;  // VPA
    case 'H':
    case 'f': MoveToOrigin(n - 1, Param(1, 1) - 1); break;
    case 'J': EraseDisplay(Param(0, 0)); break;
    case 'K': EraseLine(Param(0, 0)); break;
    case '@': InsertChars(n); break;
    case 'P': DeleteChars(n); break;
    case 'X': EraseCells(Row, Col, Col + n); break;
    case 'L': InsertLines(n); break;
    case 'M': DeleteLines(n); break;
    case 'S': ScrollUp(Top, Bottom, n, true); break;
    case 'T': ScrollDown(Top, Bottom, n); break;
    case 'c':
      if (Param(0, 0) == 0) Reply(kDeviceAttributes);
      break;
    case 'n':
      if (Param(0, 0) == 5) {
        Reply("\x1b[0n");
      } else if (Param(0, 0) == 6) {
        char report[32];
        std::snprintf(report, sizeof report, "\x1b[%d;%dR", Origin ? Row - Top + 1 : Row + 1, Col + 1);
        Reply(report);
      }
      break;
    case 'x':  // DECREQTPARM: no parity, 8 bits, 9600 baud
      if (Param(0, 0) <= 1) Reply(Param(0, 0) == 0 ? "\x1b[2;1;1;112;112;1;0x" : "\x1b[3;1;1;112;112;1;0x");
      break;
    case 'm': Sgr(); break;
    case 'r': {
      const int top = Param(0, 1);
      const int bottom = std::min(Param(1, Rows), Rows);
      if (top < bottom) {
        Top = top - 1;
        Bottom = bottom - 1;
        MoveToOrigin(0, 0);
      }
      break;
    }
    case 'g':
      if (Param(0, 0) == 0) {
        Tabs[static_cast<size_t>(Col)] = 0;
      } else if (Param(0, 0) == 3) {
        std::fill(Tabs.begin(), Tabs.end(), 0);
      }
      break;
    case 'h':
    case 'l': SetModes(final == 'h'); break;
    case 's': Save(); break;
    case 'u': Restore(); break;
    default: break;
  }
}

void TState::SetModes(bool on) {
  for (int i = 0; i < ParamCount; ++i) {
    const int mode = Params[i];
    if (Private == 0) {
      if (mode == 4) Insert = on;
      if (mode == 20) NewLine = on;
      continue;
    }
    switch (mode) {
      case 1: CursorKeys = on; break;
      case 2:
        if (!on) {
          Mode = teVT52;
          Vt52Graphics = false;
          UpdateMap();
        }
        break;
      case 3:  // DECCOLM: a cleared screen of 132 or 80 columns
        ResizeScreen(on ? 132 : 80, Rows);
        EraseRows(0, Rows);
        MoveToOrigin(0, 0);
        break;
      case 5:
        if (Reverse != on) MarkAll();
        Reverse = on;
        break;
      case 6:
        Origin = on;
        MoveToOrigin(0, 0);
        break;
      case 7:
        AutoWrap = on;
        if (!on) PendingWrap = false;
        break;
      case 25: CursorVisible = on; break;
      default: break;
    }
  }
}

void TState::Sgr() {
  if (ParamCount == 0) {
    Pen = TVtCell();
    return;
  }
  for (int i = 0; i < ParamCount; ++i) {
    const int p = Params[i];
    switch (p) {
      case 0: Pen = TVtCell(); break;
      case 1: Pen.Attr |= vaBold; break;
      case 4: Pen.Attr |= vaUnderline; break;
      case 5: Pen.Attr |= vaBlink; break;
      case 7: Pen.Attr |= vaReverse; break;
      case 22: Pen.Attr &= static_cast<uint8_t>(~vaBold); break;
      case 24: Pen.Attr &= static_cast<uint8_t>(~vaUnderline); break;
      case 25: Pen.Attr &= static_cast<uint8_t>(~vaBlink); break;
      case 27: Pen.Attr &= static_cast<uint8_t>(~vaReverse); break;
      case 39: Pen.Fg = VtDefaultColor; break;
      case 49: Pen.Bg = VtDefaultColor; break;
      case 38:
      case 48: {  // 38;5;n and 38;2;r;g;b, brought to the nearest of 16
        uint8_t color;
        if (i + 2 < ParamCount && Params[i + 1] == 5) {
          color = Color256(Params[i + 2]);
          i += 2;
        } else if (i + 4 < ParamCount && Params[i + 1] == 2) {
          color = NearestColor(Params[i + 2], Params[i + 3], Params[i + 4]);
          i += 4;
        } else {
          return;  // malformed: the rest is not colours
        }
        (p == 38 ? Pen.Fg : Pen.Bg) = color;
        break;
      }
      default:
        if (p >= 30 && p <= 37) Pen.Fg = static_cast<uint8_t>(p - 30);
        if (p >= 40 && p <= 47) Pen.Bg = static_cast<uint8_t>(p - 40);
        if (p >= 90 && p <= 97) Pen.Fg = static_cast<uint8_t>(p - 90 + 8);
        if (p >= 100 && p <= 107) Pen.Bg = static_cast<uint8_t>(p - 100 + 8);
        break;
    }
  }
}

// DECSTR: modes, region, character sets and rendition as after power-up;
// screen and cursor stay.
void TState::SoftReset() {
  CursorVisible = true;
  Insert = false;
  Origin = false;
  AutoWrap = WrapSetting;
  PendingWrap = false;
  CursorKeys = false;
  KeypadApp = false;
  Top = 0;
  Bottom = Rows - 1;
  G[0] = G[1] = csAscii;
  GL = 0;
  Pen = TVtCell();
  Saved = TSaved();
  UpdateMap();
}

// RIS: also the screen, the tab stops, the size the owner set and the
// emulation chosen in the settings; the scrollback stays.
void TState::FullReset() {
  Mode = Setting;
  Vt52Graphics = false;
  NewLine = false;
  if (Reverse) MarkAll();
  Reverse = false;
  SoftReset();
  ResizeScreen(OwnerCols, OwnerRows);
  EraseRows(0, Rows);
  ResetTabs(0);
  MoveTo(0, 0);
  Parse = psGround;
}

}  // namespace cport

// SPDX-License-Identifier: MIT
// Characters for the emulation: the glyphs of the 7-bit character sets,
// how many columns a character takes, control characters as symbols.
#include <algorithm>
#include <iterator>

#include "CPortVTState.h"

namespace cport::vt {

namespace {

struct TRange {
  char32_t First, Last;
};

// Wide and full-width characters (East Asian Width W and F): CJK, Hangul,
// kana, full-width forms and the common pictographs.
constexpr TRange kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF},
    {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251},
    {0x1F300, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA},
    {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E}, {0x1F440, 0x1F440},
    {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A},
    {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC},
    {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6D7}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7EB},
    {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
};

// Characters that take no column of their own: combining marks, joiners,
// direction marks, variation selectors.  A cell holds one character, so
// these are dropped.
constexpr TRange kZero[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0900, 0x0902},
    {0x093A, 0x093A}, {0x093C, 0x093C}, {0x0941, 0x0948}, {0x094D, 0x094D}, {0x0951, 0x0957},
    {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
    {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x2064}, {0x20D0, 0x20FF}, {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF},
};

template <size_t N>
bool In(const TRange (&table)[N], char32_t ch) {
  const TRange* r = std::upper_bound(std::begin(table), std::end(table), ch,
                                     [](char32_t c, const TRange& range) { return c < range.First; });
  return r != std::begin(table) && ch <= (r - 1)->Last;
}

// DEC special graphics for 0x5F to 0x7E: blank, diamond, checkerboard, the
// control pictures HT FF CR LF, degree, plus-minus, NL VT, the box corners
// and crossing, the scan lines 1 3 5 7 9, the tees, the bar, less and
// greater or equal, pi, not equal, pound, centred dot.
constexpr char32_t kGraphics[32] = {
    U' ',      U'\u25C6', U'\u2592', U'\u2409', U'\u240C', U'\u240D', U'\u240A', U'\u00B0',
    U'\u00B1', U'\u2424', U'\u240B', U'\u2518', U'\u2510', U'\u250C', U'\u2514', U'\u253C',
    U'\u23BA', U'\u23BB', U'\u2500', U'\u23BC', U'\u23BD', U'\u251C', U'\u2524', U'\u2534',
    U'\u252C', U'\u2502', U'\u2264', U'\u2265', U'\u03C0', U'\u2260', U'\u00A3', U'\u00B7',
};

struct TMaps {
  char32_t Set[3][128];
  TMaps() {
    for (auto& set : Set)
      for (int i = 0; i < 128; ++i) set[i] = static_cast<char32_t>(i);
    Set[csUK][0x23] = U'\u00A3';  // '#'
    for (int i = 0; i < 32; ++i) Set[csGraphics][0x5F + i] = kGraphics[i];
  }
};

}  // namespace

const char32_t* CharsetMap(TCharsetSlot set) {
  static const TMaps maps;
  return maps.Set[set];
}

namespace {

int WidthFromTables(char32_t ch) {
  if (In(kZero, ch)) return 0;
  return In(kWide, ch) ? 2 : 1;
}

// The widths of the Basic Multilingual Plane, two bits each, looked up at
// once: most text is there.
struct TBmpWidths {
  uint8_t Bits[0x10000 / 4] = {};
  TBmpWidths() {
    for (char32_t ch = 0x300; ch < 0x10000; ++ch)
      Bits[ch / 4] = static_cast<uint8_t>(Bits[ch / 4] | WidthFromTables(ch) << (ch % 4 * 2));
  }
};

}  // namespace

int CharWidth(char32_t ch) {
  if (ch < 0x300) return 1;
  if (ch >= 0x10000) return WidthFromTables(ch);
  static const TBmpWidths widths;
  return widths.Bits[ch / 4] >> (ch % 4 * 2) & 3;
}

// The Unicode control pictures; C1 controls, which have none, as U+FFFD.
char32_t ControlSymbol(char32_t ch) {
  if (ch < 0x20) return 0x2400 + ch;
  if (ch == 0x7F) return U'\u2421';
  return U'\uFFFD';
}

void AppendUtf8(std::string& out, char32_t ch) {
  if (ch < 0x80) {
    out += static_cast<char>(ch);
  } else if (ch < 0x800) {
    out += static_cast<char>(0xC0 | ch >> 6);
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else if (ch < 0x10000) {
    out += static_cast<char>(0xE0 | ch >> 12);
    out += static_cast<char>(0x80 | (ch >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | ch >> 18);
    out += static_cast<char>(0x80 | (ch >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (ch >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  }
}

}  // namespace cport::vt

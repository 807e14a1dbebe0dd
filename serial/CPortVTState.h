// SPDX-License-Identifier: MIT
// The emulation's inside, shared by its sources (not installed): the screen
// and scrollback, the cursor and modes, the parser's state and the change
// record.  CPortVTScreen.cpp changes the cells, CPortVTParser.cpp reads the
// sequences, CPortVT.cpp feeds bytes and answers the owner.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "CPortVT.h"

namespace cport {

namespace vt {

constexpr int MaxSide = 1024;         // columns and rows
constexpr int MaxScrollBack = 100000; // lines kept above the screen
constexpr int MaxParams = 16;
constexpr uint16_t MaxParam = 65535;  // larger parameters clamp to it
constexpr size_t MaxAnswer = 4096;    // answers not yet taken

enum TParse : uint8_t {
  psGround,
  psEscape,
  psEscInter,  // ESC, intermediates
  psCsiEntry,
  psCsiParam,
  psCsiInter,
  psCsiIgnore,  // a malformed control sequence, skipped to its final byte
  psOsc,        // ends with BEL or ST
  psString,     // DCS, SOS, PM, APC: end with ST only
  psVt52Row,    // ESC Y, waiting for the row
  psVt52Col,
};

// Character sets a G0/G1 slot can hold.
enum TCharsetSlot : uint8_t { csAscii, csUK, csGraphics };

// What DECSC keeps.
struct TSaved {
  int Row = 0, Col = 0;
  bool PendingWrap = false;
  TVtCell Pen;
  TCharsetSlot G[2] = {csAscii, csAscii};
  uint8_t GL = 0;
  bool Origin = false;
};

// UTF-8 decoding a byte at a time: each byte of a malformed sequence gives
// one U+FFFD; overlong forms, surrogates and values past U+10FFFF are
// malformed.
struct TUtf8Decoder {
  uint32_t Code = 0;
  uint8_t Need = 0, Have = 0;
  uint8_t Lo = 0x80, Hi = 0xBF;  // allowed range of the next byte

  bool Idle() const { return Need == 0; }
  void Reset() { Need = Have = 0; }

  template <class Emit>
  void Put(uint8_t b, Emit&& emit) {
    if (Need) {
      if (b >= Lo && b <= Hi) {
        Code = Code << 6 | (b & 0x3Fu);
        ++Have;
        Lo = 0x80;
        Hi = 0xBF;
        if (--Need == 0) {
          Have = 0;
          emit(static_cast<char32_t>(Code));
        }
        return;
      }
      for (int i = 0; i < Have; ++i) emit(U'\uFFFD');
      Need = Have = 0;
    }
    if (b < 0x80) {
      emit(static_cast<char32_t>(b));
    } else if (b >= 0xC2 && b <= 0xDF) {
      Start(1, b & 0x1Fu, 0x80, 0xBF);
    } else if (b >= 0xE0 && b <= 0xEF) {
      Start(2, b & 0x0Fu, b == 0xE0 ? 0xA0 : 0x80, b == 0xED ? 0x9F : 0xBF);
    } else if (b >= 0xF0 && b <= 0xF4) {
      Start(3, b & 0x07u, b == 0xF0 ? 0x90 : 0x80, b == 0xF4 ? 0x8F : 0xBF);
    } else {
      emit(U'\uFFFD');
    }
  }

 private:
  void Start(uint8_t need, uint32_t code, uint8_t lo, uint8_t hi) {
    Need = need;
    Have = 1;
    Code = code;
    Lo = lo;
    Hi = hi;
  }
};

// A cell's colours and attributes as one word, so that a glyph goes into a
// cell with one store where the layout allows.
class TCellBits {
 public:
  explicit TCellBits(const TVtCell& pen) : FPen(pen) {
    FBits = uint64_t{pen.Fg} << 32 | uint64_t{pen.Bg} << 40 | uint64_t{pen.Attr} << 48;
  }
  void Store(TVtCell* at, char32_t ch) const {
    if constexpr (kOneWord) {
      const uint64_t v = FBits | ch;
      std::memcpy(static_cast<void*>(at), &v, sizeof v);
    } else {
      *at = FPen;
      at->Ch = ch;
    }
  }

 private:
  static constexpr bool kOneWord = std::endian::native == std::endian::little && sizeof(TVtCell) == 8 &&
                                   offsetof(TVtCell, Ch) == 0 && offsetof(TVtCell, Fg) == 4 &&
                                   offsetof(TVtCell, Bg) == 5 && offsetof(TVtCell, Attr) == 6;
  TVtCell FPen;
  uint64_t FBits;
};

// The line's cells, count of them, all as c.
inline void FillCells(std::vector<TVtCell>& cells, size_t count, const TVtCell& c) {
  if (cells.size() != count) {
    cells.assign(count, c);
    return;
  }
  const TCellBits bits(c);
  for (TVtCell& cell : cells) bits.Store(&cell, c.Ch);
}

// Glyphs for the 7-bit codes of a character set; the printable ones differ.
const char32_t* CharsetMap(TCharsetSlot set);
// Columns a character takes: 0 (combining, dropped), 1 or 2.
int CharWidth(char32_t ch);
// The visible symbol for a control character (teNone).
char32_t ControlSymbol(char32_t ch);
void AppendUtf8(std::string& out, char32_t ch);

}  // namespace vt

struct TVtEmulator::TState {
  // -- settings ---------------------------------------------------------
  TTermEmulation Setting = teVT100;
  TTermEmulation Mode = teVT100;  // VT52 also after DECANM reset
  TTermCharset Charset = tcUTF8;
  bool Force7Bit = false;
  bool AppendLF = false;
  bool WrapSetting = true;
  int ScrollLimit = 1000;
  int OwnerCols = 80, OwnerRows = 24;  // what a full reset returns to

  // -- screen -----------------------------------------------------------
  int Cols = 80, Rows = 24;
  // The rows as a ring, so that a full-screen scroll moves no line: row r
  // is Screen[(ScreenTop + r) % Rows].
  std::vector<TVtLine> Screen;
  size_t ScreenTop = 0;
  // Scrollback ring: oldest at RingHead once it is full, at 0 before.
  std::vector<TVtLine> Ring;
  size_t RingHead = 0;

  // -- cursor and modes -------------------------------------------------
  int Row = 0, Col = 0;
  // The last column was written; the next glyph wraps first.  Cursor moves
  // and autowrap off clear it; erasing, inserting or deleting cells keep it.
  bool PendingWrap = false;
  TVtCell Pen;               // Ch unused; colours and attributes of new glyphs
  int Top = 0, Bottom = 23;  // scrolling region, inclusive
  bool Origin = false, AutoWrap = true, Insert = false, NewLine = false;
  bool CursorKeys = false, KeypadApp = false, CursorVisible = true, Reverse = false;
  vt::TCharsetSlot G[2] = {vt::csAscii, vt::csAscii};
  uint8_t GL = 0;
  bool Vt52Graphics = false;
  const char32_t* Map = nullptr;  // glyphs of the set in use
  std::vector<uint8_t> Tabs;
  vt::TSaved Saved;

  // -- parser -----------------------------------------------------------
  vt::TParse Parse = vt::psGround;
  uint16_t Params[vt::MaxParams] = {};
  uint8_t ParamCount = 0;  // parameters begun, at most MaxParams
  bool ManyParams = false; // more than MaxParams: the rest are dropped
  char Private = 0;        // ? > = < at the start of a control sequence
  char Inter = 0;          // the one intermediate byte kept
  bool ManyInter = false;  // more than one: the sequence is not ours
  uint16_t Vt52Row = 0;

  vt::TUtf8Decoder Utf8;  // across Feed() calls

  // -- output to the owner ----------------------------------------------
  std::string Answer;
  int Bells = 0;

  // -- changes since ClearChanges() ---------------------------------------
  std::vector<uint8_t> Dirty;
  bool AllDirty = true;
  int ScrolledOff = 0;
  int SeenRow = -1, SeenCol = -1;
  bool SeenVisible = true;

  TState(int columns, int rows);

  // CPortVT.cpp
  const uint8_t* PrintText(const uint8_t* p, const uint8_t* end);  // ground state
  void Byte(uint8_t b);
  void Code(char32_t ch);  // one decoded character into the emulation
  void NoneCode(char32_t ch);

  // CPortVTParser.cpp
  void Control(char32_t ch);  // C0 in an emulation
  void Sequence(char32_t ch); // a character outside the ground state
  void EscDispatch(char32_t final);
  void Vt52Dispatch(char32_t final);
  void CsiDispatch(char32_t final);
  void Reply(std::string_view answer);
  void SetModes(bool on);
  void Sgr();
  void SoftReset();
  void FullReset();
  void ClearParams();
  int Param(int i, int fallback) const;  // 0 or missing gives fallback

  // CPortVTScreen.cpp
  TVtLine& ScreenLine(int row) {
    size_t i = ScreenTop + static_cast<size_t>(row);
    if (i >= Screen.size()) i -= Screen.size();
    return Screen[i];
  }
  const TVtLine& ScreenLine(int row) const { return const_cast<TState*>(this)->ScreenLine(row); }
  TVtCell Blank() const;  // an erased cell: the pen's background only
  void Mark(int row) { Dirty[static_cast<size_t>(row)] = 1; }
  void MarkAll() { AllDirty = true; }
  void UpdateMap();
  const uint8_t* PrintAscii(const uint8_t* p, const uint8_t* end);  // ground state
  void Print(char32_t ch);
  void WrapIfPending();
  void LineFeed();
  void ReverseIndex();
  void CarriageReturn() { Col = 0; PendingWrap = false; }
  void MoveTo(int row, int col);
  void MoveToOrigin(int row, int col);  // row relative to the region in origin mode
  void Tab();
  // keep: lines leaving the top of the full screen go to the scrollback.
  void ScrollUp(int top, int bottom, int count, bool keep);
  void ScrollDown(int top, int bottom, int count);
  void EraseCells(int row, int from, int to);  // [from, to)
  void EraseRows(int from, int to);            // [from, to)
  void EraseDisplay(int how);
  void EraseLine(int how);
  void InsertChars(int count);
  void DeleteChars(int count);
  void InsertLines(int count);
  void DeleteLines(int count);
  void PushScrollback(TVtLine& line);
  void ResizeScreen(int columns, int rows);
  void ResetTabs(int from);
  void AlignmentFill();
  void Save();
  void Restore();
};

}  // namespace cport

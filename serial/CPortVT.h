// SPDX-License-Identifier: MIT
// VT100 and VT52 terminal emulation without a GUI: a screen of cells with a
// cursor and a scrollback, changed by the bytes a device sends through a
// DEC/ANSI parser, the bytes a terminal answers with, and the bytes a
// terminal sends for each key.  The terminal control (CPortTerm.h) shows it;
// vtreplay prints it.
//
// Contract:
//  - Feed() takes bytes cut anywhere: a sequence split across calls at any
//    byte leaves the same screen, cursor and answer as in one piece.
//  - Nothing a device sends makes it throw, stick or grow: memory is bounded
//    by the screen, the scrollback limit and a small bounded buffer for the
//    sequence in progress.  Parameters clamp to the screen.
//  - Answers (device attributes, status reports, VT52 identify) collect in
//    order until TakeAnswer(); the owner sends them to the line.  Past 4 KiB
//    not taken, further answers are dropped.
//  - Settings apply at once.  Not thread-safe: one thread feeds, reads and
//    sets (the terminal control uses the GUI thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cport {

// Received C1 controls (U+0080-U+009F in UTF-8, bytes 0x80-0x9F in
// Latin-1) do nothing: neither terminal knew them.
enum TTermEmulation : uint8_t {
  // Bytes shown as text, control characters as visible symbols (the Unicode
  // control pictures, C1 as U+FFFD); a line feed also starts a new line, and
  // so does a carriage return with AppendLF.
  teNone,
  teVT52,
  teVT100   // with the VT102 editing functions
};
enum TTermCharset : uint8_t { tcUTF8, tcLatin1 };

// Colour indexes 0-7 are the normal colours, 8-15 the bright ones.
constexpr uint8_t VtDefaultColor = 0xFF;  // the terminal's default fg or bg

enum : uint8_t { vaBold = 0x01, vaUnderline = 0x02, vaBlink = 0x04, vaReverse = 0x08 };

// A wide (East Asian) character takes two cells: its glyph in the left one,
// this in the right one, which a view skips.
constexpr char32_t VtWideTail = U'\0';

struct TVtCell {
  char32_t Ch = U' ';  // what is shown (DEC line drawing already as Unicode)
  uint8_t Fg = VtDefaultColor;
  uint8_t Bg = VtDefaultColor;
  uint8_t Attr = 0;  // va* bits
  bool operator==(const TVtCell&) const = default;
};

struct TVtLine {
  std::vector<TVtCell> Cells;
  bool Wrapped = false;  // the text goes on in the next line (autowrap)
};

// -- keys --------------------------------------------------------------------

enum TVtKey : uint8_t {
  vkNone,  // printable text (Text) or Ctrl+letter
  vkReturn, vkBackspace, vkTab, vkEscape,
  vkUp, vkDown, vkRight, vkLeft,
  vkHome, vkEnd, vkPageUp, vkPageDown, vkInsert, vkDelete,
  vkF1, vkF2, vkF3, vkF4,  // PF1-PF4
  vkKp0, vkKp1, vkKp2, vkKp3, vkKp4, vkKp5, vkKp6, vkKp7, vkKp8, vkKp9,
  vkKpMinus, vkKpComma, vkKpPeriod, vkKpEnter, vkKpPlus, vkKpMultiply, vkKpDivide
};

struct TVtKeyPress {
  TVtKey Key = vkNone;
  std::string Text;  // UTF-8, for vkNone
  bool Ctrl = false;
};

// What the keyboard's bytes depend on: the terminal's modes and the
// control's settings.
struct TVtKeyModes {
  TTermEmulation Emulation = teVT100;
  bool CursorKeys = false;  // DECCKM: arrows as ESC O x
  bool KeypadApp = false;   // DECKPAM
  bool NewLine = false;     // LNM: Return sends CR LF
  bool SendLF = false;      // the control's setting: Return sends CR LF
  bool BackspaceDel = true; // Backspace sends DEL (else BS)
  TTermCharset Charset = tcUTF8;  // how typed text is encoded
};

// The bytes a terminal sends for a key; empty for a key it does not send.
std::string VtKeyBytes(const TVtKeyPress& key, const TVtKeyModes& modes);

// -- the emulation -------------------------------------------------------------

class TVtEmulator {
 public:
  explicit TVtEmulator(int columns = 80, int rows = 24);
  ~TVtEmulator();
  TVtEmulator(const TVtEmulator&) = delete;
  TVtEmulator& operator=(const TVtEmulator&) = delete;

  // Settings.  Emulation() is the setting; KeyModes().Emulation is the mode
  // in use, which the device may change (VT52 after DECANM reset, back with
  // ESC <).
  TTermEmulation Emulation() const;
  void SetEmulation(TTermEmulation value);
  TTermCharset Charset() const;
  void SetCharset(TTermCharset value);
  bool Force7Bit() const;  // strip the high bit of every received byte
  void SetForce7Bit(bool value);
  bool AppendLF() const;  // a received CR also moves down a line
  void SetAppendLF(bool value);
  bool WrapLines() const;  // autowrap at the last column (also DECAWM)
  void SetWrapLines(bool value);
  int ScrollBack() const;  // most lines kept above the screen (0 to 100000)
  void SetScrollBack(int lines);
  int Columns() const;
  int Rows() const;
  // Keeps what fits (1 to 1024 each way); with fewer rows the lines above the
  // cursor go to the scrollback.  The device may also resize (DECCOLM); a
  // full reset returns to the size set here.
  void Resize(int columns, int rows);

  // Bytes from the device.
  void Feed(const void* data, size_t count);
  void Feed(std::string_view bytes) { Feed(bytes.data(), bytes.size()); }
  // Text of the program's own (UTF-8, "\n" for a new line, "\r" and "\t"
  // act too, other controls show as symbols), shown at the cursor in the
  // plain rendition without being parsed.
  void WriteText(std::string_view utf8);
  // Bytes to send back to the device, oldest first; emptied by the call.
  std::string TakeAnswer();
  // Number of BEL received since the last call.
  int TakeBells();
  // Full reset (as ESC c); the scrollback stays.
  void Reset();
  // Screen and scrollback emptied, cursor home; modes stay.
  void Clear();

  // The screen and the scrollback as one list of lines: 0 is the oldest
  // scrollback line, ScrollbackCount() is the top row of the screen.  A
  // scrollback line keeps the width it had on the screen; an index out of
  // range gives an empty line.  A line's reference holds until the next
  // Feed, WriteText, Reset, Clear, Resize or SetScrollBack.
  int ScrollbackCount() const;
  int LineCount() const { return ScrollbackCount() + Rows(); }
  const TVtLine& Line(int index) const;
  const TVtLine& ScreenRow(int row) const { return Line(ScrollbackCount() + row); }
  // Text of the lines between two positions (line, column; the end column
  // excluded), trailing blanks of each line dropped, wrapped lines joined,
  // others separated by "\n"; UTF-8.
  std::string Text(int fromLine, int fromColumn, int toLine, int toColumn) const;

  int CursorRow() const;     // 0-based, on the screen
  int CursorColumn() const;  // 0-based
  bool CursorVisible() const;
  bool ReverseScreen() const;  // DECSCNM
  TVtKeyModes KeyModes() const;  // the terminal's part of the key modes

  // What changed since the last ClearChanges(), so that a view repaints only
  // that: screen rows touched (a moved or hidden cursor marks its old and new
  // row; a scroll, resize or reverse screen marks all), and lines that moved
  // into the scrollback (once it is full the oldest drop for them, so every
  // scrollback index moves up by that many).
  bool RowChanged(int row) const;
  bool AnyChange() const;
  int LinesScrolledOff() const;
  void ClearChanges();

  struct TState;  // the inside, defined in the sources only

 private:
  std::unique_ptr<TState> F;
};

}  // namespace cport

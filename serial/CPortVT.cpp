// SPDX-License-Identifier: MIT
// The emulation's face to its owner: settings, bytes in (decoded as UTF-8 or
// Latin-1), answers and bells out, the lines and their text, the record of
// what changed.
#include <algorithm>

#include "CPortVTState.h"

namespace cport {

using TState = TVtEmulator::TState;

TState::TState(int columns, int rows) {
  OwnerCols = std::clamp(columns, 1, vt::MaxSide);
  OwnerRows = std::clamp(rows, 1, vt::MaxSide);
  Cols = Rows = 0;
  ResizeScreen(OwnerCols, OwnerRows);
  UpdateMap();
}

void TState::Byte(uint8_t b) {
  if (Force7Bit) b &= 0x7F;
  if (Charset == tcLatin1 || (b < 0x80 && Utf8.Idle())) {
    Code(b);
  } else {
    Utf8.Put(b, [this](char32_t ch) { Code(ch); });
  }
}

namespace {

// The length of the well-formed UTF-8 sequence of a character beyond ASCII
// at p, complete before end, and the character; 0 for anything else.
int WholeUtf8(const uint8_t* p, const uint8_t* end, char32_t& ch) {
  const uint8_t b = p[0];
  const ptrdiff_t left = end - p;
  auto tail = [&](int i, uint8_t lo, uint8_t hi) { return p[i] >= lo && p[i] <= hi; };
  if (b >= 0xC2 && b <= 0xDF) {
    if (left < 2 || !tail(1, 0x80, 0xBF)) return 0;
    ch = static_cast<char32_t>((b & 0x1F) << 6 | (p[1] & 0x3F));
    return 2;
  }
  if (b >= 0xE0 && b <= 0xEF) {
    if (left < 3 || !tail(1, b == 0xE0 ? 0xA0 : 0x80, b == 0xED ? 0x9F : 0xBF) || !tail(2, 0x80, 0xBF)) return 0;
    ch = static_cast<char32_t>((b & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
    return 3;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    if (left < 4 || !tail(1, b == 0xF0 ? 0x90 : 0x80, b == 0xF4 ? 0x8F : 0xBF) || !tail(2, 0x80, 0xBF) ||
        !tail(3, 0x80, 0xBF))
      return 0;
    ch = static_cast<char32_t>((b & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F));
    return 4;
  }
  return 0;
}

}  // namespace

// Text in the ground state, the bulk of any stream: printable ASCII goes
// straight into the rows, whole UTF-8 characters (or Latin-1 ones) straight
// to Print; anything else is left for the parser.
const uint8_t* TState::PrintText(const uint8_t* p, const uint8_t* end) {
  while (p < end) {
    p = PrintAscii(p, end);
    if (p == end || *p < 0xA0 || Force7Bit) break;
    char32_t ch = *p;
    int length = 1;
    if (Charset == tcUTF8 && (length = WholeUtf8(p, end, ch)) == 0) break;
    if (ch < 0xA0) break;  // C1, in UTF-8
    Print(ch);
    p += length;
  }
  return p;
}

// No emulation: every character shown, controls as symbols; a line feed
// also starts a new line, and so does a carriage return with AppendLF.
void TState::NoneCode(char32_t ch) {
  if (ch >= 0x20 && ch != 0x7F && (ch < 0x80 || ch >= 0xA0)) {
    Print(ch);
    return;
  }
  Print(vt::ControlSymbol(ch));
  if (ch == '\n' || (ch == '\r' && AppendLF)) {
    CarriageReturn();
    LineFeed();
  }
}

// ---------------------------------------------------------------------------

TVtEmulator::TVtEmulator(int columns, int rows) : F(std::make_unique<TState>(columns, rows)) {}

TVtEmulator::~TVtEmulator() = default;

TTermEmulation TVtEmulator::Emulation() const { return F->Setting; }

void TVtEmulator::SetEmulation(TTermEmulation value) {
  if (value > teVT100) value = teVT100;
  F->Setting = F->Mode = value;
  F->Parse = vt::psGround;
  F->Vt52Graphics = false;
  F->UpdateMap();
}

TTermCharset TVtEmulator::Charset() const { return F->Charset; }

void TVtEmulator::SetCharset(TTermCharset value) {
  F->Charset = value == tcLatin1 ? tcLatin1 : tcUTF8;
  F->Utf8.Reset();
}

bool TVtEmulator::Force7Bit() const { return F->Force7Bit; }
void TVtEmulator::SetForce7Bit(bool value) { F->Force7Bit = value; }
bool TVtEmulator::AppendLF() const { return F->AppendLF; }
void TVtEmulator::SetAppendLF(bool value) { F->AppendLF = value; }
bool TVtEmulator::WrapLines() const { return F->WrapSetting; }

void TVtEmulator::SetWrapLines(bool value) {
  F->WrapSetting = F->AutoWrap = value;
  if (!value) F->PendingWrap = false;
}

int TVtEmulator::ScrollBack() const { return F->ScrollLimit; }

void TVtEmulator::SetScrollBack(int lines) {
  TState& s = *F;
  lines = std::clamp(lines, 0, vt::MaxScrollBack);
  if (lines == s.ScrollLimit) return;
  // Oldest first, then drop what no longer fits.
  std::rotate(s.Ring.begin(), s.Ring.begin() + static_cast<ptrdiff_t>(s.RingHead), s.Ring.end());
  s.RingHead = 0;
  if (s.Ring.size() > static_cast<size_t>(lines)) {
    s.Ring.erase(s.Ring.begin(), s.Ring.end() - lines);
    s.Ring.shrink_to_fit();
    s.MarkAll();
  }
  s.ScrollLimit = lines;
}

int TVtEmulator::Columns() const { return F->Cols; }
int TVtEmulator::Rows() const { return F->Rows; }

void TVtEmulator::Resize(int columns, int rows) {
  F->OwnerCols = std::clamp(columns, 1, vt::MaxSide);
  F->OwnerRows = std::clamp(rows, 1, vt::MaxSide);
  F->ResizeScreen(F->OwnerCols, F->OwnerRows);
}

void TVtEmulator::Feed(const void* data, size_t count) {
  if (!data) return;
  TState& s = *F;
  const auto* p = static_cast<const uint8_t*>(data);
  const uint8_t* const end = p + count;
  while (p < end) {
    // Printable ASCII in the ground state, the bulk of any stream, goes
    // straight into the row.
    if (s.Parse == vt::psGround && s.Utf8.Idle()) {
      p = s.PrintText(p, end);
      if (p == end) break;
    }
    s.Byte(*p++);
  }
}

// The program's own text: in the plain rendition, past the parser, which
// keeps any sequence in progress.  Line ends and tabs act; other controls
// show as symbols.
void TVtEmulator::WriteText(std::string_view utf8) {
  TState& s = *F;
  const TVtCell pen = s.Pen;
  const char32_t* map = s.Map;
  s.Pen = TVtCell();
  s.Map = vt::CharsetMap(vt::csAscii);
  vt::TUtf8Decoder decoder;
  auto show = [&s](char32_t ch) {
    if (ch == '\n') {
      s.CarriageReturn();
      s.LineFeed();
    } else if (ch == '\r') {
      s.CarriageReturn();
    } else if (ch == '\t') {
      s.Tab();
    } else if (ch < 0x20 || ch == 0x7F || (ch >= 0x80 && ch < 0xA0)) {
      s.Print(vt::ControlSymbol(ch));
    } else {
      s.Print(ch);
    }
  };
  for (char c : utf8) decoder.Put(static_cast<uint8_t>(c), show);
  if (!decoder.Idle()) {  // cut short at the end
    for (int i = 0; i < decoder.Have; ++i) show(U'\uFFFD');
  }
  s.Pen = pen;
  s.Map = map;
}

std::string TVtEmulator::TakeAnswer() {
  std::string out;
  out.swap(F->Answer);
  return out;
}

int TVtEmulator::TakeBells() {
  const int n = F->Bells;
  F->Bells = 0;
  return n;
}

void TVtEmulator::Reset() {
  F->FullReset();
  F->Utf8.Reset();
}

void TVtEmulator::Clear() {
  TState& s = *F;
  s.Ring.clear();
  s.RingHead = 0;
  for (TVtLine& line : s.Screen) {
    std::fill(line.Cells.begin(), line.Cells.end(), TVtCell());
    line.Wrapped = false;
  }
  s.MoveTo(0, 0);
  s.MarkAll();
}

int TVtEmulator::ScrollbackCount() const { return static_cast<int>(F->Ring.size()); }

const TVtLine& TVtEmulator::Line(int index) const {
  static const TVtLine empty;
  const TState& s = *F;
  if (index < 0 || index >= LineCount()) return empty;
  const size_t i = static_cast<size_t>(index);
  if (i < s.Ring.size()) return s.Ring[(s.RingHead + i) % s.Ring.size()];
  return s.ScreenLine(static_cast<int>(i - s.Ring.size()));
}

std::string TVtEmulator::Text(int fromLine, int fromColumn, int toLine, int toColumn) const {
  if (std::make_pair(fromLine, fromColumn) > std::make_pair(toLine, toColumn)) {
    std::swap(fromLine, toLine);
    std::swap(fromColumn, toColumn);
  }
  std::string out;
  const int first = std::max(fromLine, 0);
  const int last = std::min(toLine, LineCount() - 1);
  for (int l = first; l <= last; ++l) {
    const TVtLine& line = Line(l);
    const int width = static_cast<int>(line.Cells.size());
    const int from = l == fromLine ? std::clamp(fromColumn, 0, width) : 0;
    const int to = l == toLine ? std::clamp(toColumn, 0, width) : width;
    const bool joined = line.Wrapped && l != toLine;
    int stop = to;
    if (to == width && !line.Wrapped) {
      while (stop > from && line.Cells[static_cast<size_t>(stop) - 1].Ch == U' ') --stop;
    }
    for (int c = from; c < stop; ++c) {
      const char32_t ch = line.Cells[static_cast<size_t>(c)].Ch;
      if (ch != VtWideTail) vt::AppendUtf8(out, ch);
    }
    if (l != toLine && !joined) out += '\n';
  }
  return out;
}

int TVtEmulator::CursorRow() const { return F->Row; }
int TVtEmulator::CursorColumn() const { return F->Col; }
bool TVtEmulator::CursorVisible() const { return F->CursorVisible; }
bool TVtEmulator::ReverseScreen() const { return F->Reverse; }

TVtKeyModes TVtEmulator::KeyModes() const {
  TVtKeyModes m;
  m.Emulation = F->Mode;
  m.CursorKeys = F->CursorKeys;
  m.KeypadApp = F->KeypadApp;
  m.NewLine = F->NewLine;
  m.Charset = F->Charset;
  return m;
}

// ---------------------------------------------------------------------------
// Changes

namespace {

bool CursorMoved(const TState& s) {
  return s.SeenRow != s.Row || s.SeenCol != s.Col || s.SeenVisible != s.CursorVisible;
}

}  // namespace

bool TVtEmulator::RowChanged(int row) const {
  const TState& s = *F;
  if (row < 0 || row >= s.Rows) return false;
  if (s.AllDirty || s.Dirty[static_cast<size_t>(row)]) return true;
  return CursorMoved(s) && (row == s.Row || row == s.SeenRow);
}

bool TVtEmulator::AnyChange() const {
  const TState& s = *F;
  return s.AllDirty || s.ScrolledOff > 0 || CursorMoved(s) ||
         std::find(s.Dirty.begin(), s.Dirty.end(), 1) != s.Dirty.end();
}

int TVtEmulator::LinesScrolledOff() const { return F->ScrolledOff; }

void TVtEmulator::ClearChanges() {
  TState& s = *F;
  std::fill(s.Dirty.begin(), s.Dirty.end(), 0);
  s.AllDirty = false;
  s.ScrolledOff = 0;
  s.SeenRow = s.Row;
  s.SeenCol = s.Col;
  s.SeenVisible = s.CursorVisible;
}

}  // namespace cport

// SPDX-License-Identifier: MIT
// The emulation's screen: printing with the last-column rule, scrolling into
// the scrollback, erasing, inserting and deleting cells and lines, resizing.
#include <algorithm>
#include <climits>

#include "CPortVTState.h"

namespace cport {

using TState = TVtEmulator::TState;

namespace {

// A change that starts or ends between the halves of a wide character
// leaves neither half: both become blanks.
void SplitWide(TVtLine& line, int col) {
  if (col <= 0 || col >= static_cast<int>(line.Cells.size())) return;
  TVtCell* c = line.Cells.data();
  if (c[col].Ch == VtWideTail) {
    c[col - 1].Ch = U' ';
    c[col].Ch = U' ';
  }
}

}  // namespace

TVtCell TState::Blank() const {
  TVtCell c;
  c.Bg = Pen.Bg;
  return c;
}

void TState::UpdateMap() {
  vt::TCharsetSlot set = vt::csAscii;
  if (Mode == teVT100) set = G[GL];
  else if (Mode == teVT52 && Vt52Graphics) set = vt::csGraphics;
  Map = vt::CharsetMap(set);
}

// The hot path: printable ASCII written straight into the rows, up to the
// first other byte; returns where it stopped.
const uint8_t* TState::PrintAscii(const uint8_t* p, const uint8_t* end) {
  auto printable = [](uint8_t b) { return static_cast<uint8_t>(b - 0x20) < 0x5F; };
  if (Insert) {
    while (p < end && printable(*p)) Print(*p++);
    return p;
  }
  const vt::TCellBits pen(Pen);
  while (p < end && printable(*p)) {
    WrapIfPending();
    TVtLine& line = ScreenLine(Row);
    TVtCell* cells = line.Cells.data();
    if (cells[Col].Ch == VtWideTail) SplitWide(line, Col);
    const size_t limit = std::min(static_cast<size_t>(Cols - Col), static_cast<size_t>(end - p));
    TVtCell* dst = cells + Col;
    size_t k = 0;
    for (; k < limit && printable(p[k]); ++k) pen.Store(dst + k, Map[p[k]]);
    const int stop = Col + static_cast<int>(k);
    if (stop < Cols && cells[stop].Ch == VtWideTail) cells[stop].Ch = U' ';
    Mark(Row);
    p += k;
    if (stop < Cols) {
      Col = stop;
      continue;
    }
    Col = Cols - 1;
    if (AutoWrap) {
      PendingWrap = true;
    } else {  // without autowrap the rest lands on the last column
      const uint8_t* q = p;
      while (q < end && printable(*q)) ++q;
      if (q != p) pen.Store(cells + Cols - 1, Map[q[-1]]);
      p = q;
    }
  }
  return p;
}

void TState::Print(char32_t ch) {
  int width = ch < 0x300 ? 1 : vt::CharWidth(ch);
  if (width == 0) return;
  if (ch < 0x80) ch = Map[ch];
  if (width == 2 && Cols < 2) width = 1;
  WrapIfPending();
  if (width == 2 && Col == Cols - 1) {
    if (AutoWrap) {  // no room for both halves: wrap first
      ScreenLine(Row).Wrapped = true;
      LineFeed();
      Col = 0;
    } else {
      width = 1;
    }
  }
  if (Insert) InsertChars(width);
  TVtLine& line = ScreenLine(Row);
  SplitWide(line, Col);
  SplitWide(line, Col + width);
  TVtCell cell = Pen;
  cell.Ch = ch;
  line.Cells[static_cast<size_t>(Col)] = cell;
  if (width == 2) {
    cell.Ch = VtWideTail;
    line.Cells[static_cast<size_t>(Col) + 1] = cell;
  }
  Mark(Row);
  Col += width;
  if (Col >= Cols) {
    Col = Cols - 1;
    if (AutoWrap) PendingWrap = true;
  }
}

void TState::WrapIfPending() {
  if (!PendingWrap) return;
  ScreenLine(Row).Wrapped = true;
  LineFeed();
  Col = 0;
}

void TState::LineFeed() {
  PendingWrap = false;
  if (Row == Bottom) {
    ScrollUp(Top, Bottom, 1, true);
  } else if (Row < Rows - 1) {
    ++Row;
  }
}

void TState::ReverseIndex() {
  PendingWrap = false;
  if (Row == Top) {
    ScrollDown(Top, Bottom, 1);
  } else if (Row > 0) {
    --Row;
  }
}

void TState::MoveTo(int row, int col) {
  Row = std::clamp(row, 0, Rows - 1);
  Col = std::clamp(col, 0, Cols - 1);
  PendingWrap = false;
}

void TState::MoveToOrigin(int row, int col) {
  if (Origin) {
    MoveTo(std::clamp(Top + row, Top, Bottom), col);
  } else {
    MoveTo(row, col);
  }
}

void TState::Tab() {
  if (Col >= Cols - 1) return;  // not a move: a pending wrap stays
  int c = Col + 1;
  while (c < Cols - 1 && !Tabs[static_cast<size_t>(c)]) ++c;
  MoveTo(Row, c);
}

void TState::ScrollUp(int top, int bottom, int count, bool keep) {
  count = std::min(count, bottom - top + 1);
  if (count <= 0) return;
  const TVtCell blank = Blank();
  auto clear = [this, &blank](TVtLine& line) {
    vt::FillCells(line.Cells, static_cast<size_t>(Cols), blank);
    line.Wrapped = false;
  };
  if (top == 0 && bottom == Rows - 1) {  // the whole screen: the ring turns
    for (int i = 0; i < count; ++i) {
      TVtLine& line = ScreenLine(0);
      if (keep) PushScrollback(line);
      clear(line);
      if (++ScreenTop == Screen.size()) ScreenTop = 0;
    }
    MarkAll();
    return;
  }
  for (int r = top; r + count <= bottom; ++r) std::swap(ScreenLine(r), ScreenLine(r + count));
  for (int r = bottom - count + 1; r <= bottom; ++r) clear(ScreenLine(r));
  for (int r = top; r <= bottom; ++r) Mark(r);
}

void TState::ScrollDown(int top, int bottom, int count) {
  count = std::min(count, bottom - top + 1);
  if (count <= 0) return;
  for (int r = bottom; r - count >= top; --r) std::swap(ScreenLine(r), ScreenLine(r - count));
  const TVtCell blank = Blank();
  for (int r = top; r < top + count; ++r) {
    TVtLine& line = ScreenLine(r);
    vt::FillCells(line.Cells, static_cast<size_t>(Cols), blank);
    line.Wrapped = false;
  }
  for (int r = top; r <= bottom; ++r) Mark(r);
}

void TState::PushScrollback(TVtLine& line) {
  if (ScrollLimit == 0) return;
  if (Ring.size() < static_cast<size_t>(ScrollLimit)) {
    Ring.emplace_back();
    std::swap(Ring.back(), line);
  } else {  // full: the oldest line's storage comes back for the screen
    std::swap(Ring[RingHead], line);
    if (++RingHead == Ring.size()) RingHead = 0;
  }
  if (ScrolledOff < INT_MAX) ++ScrolledOff;
}

void TState::EraseCells(int row, int from, int to) {
  from = std::max(from, 0);
  to = std::min(to, Cols);
  if (from >= to) return;
  TVtLine& line = ScreenLine(row);
  SplitWide(line, from);
  SplitWide(line, to);
  const vt::TCellBits blank(Blank());
  for (int c = from; c < to; ++c) blank.Store(&line.Cells[static_cast<size_t>(c)], U' ');
  if (to == Cols) line.Wrapped = false;
  Mark(row);
}

void TState::EraseRows(int from, int to) {
  for (int r = std::max(from, 0); r < std::min(to, Rows); ++r) EraseCells(r, 0, Cols);
}

void TState::EraseDisplay(int how) {
  switch (how) {
    case 0:
      EraseCells(Row, Col, Cols);
      EraseRows(Row + 1, Rows);
      break;
    case 1:
      EraseRows(0, Row);
      EraseCells(Row, 0, Col + 1);
      break;
    case 2:
      EraseRows(0, Rows);
      break;
    default:
      break;
  }
}

void TState::EraseLine(int how) {
  switch (how) {
    case 0: EraseCells(Row, Col, Cols); break;
    case 1: EraseCells(Row, 0, Col + 1); break;
    case 2: EraseCells(Row, 0, Cols); break;
    default: break;
  }
}

void TState::InsertChars(int count) {
  count = std::min(count, Cols - Col);
  if (count <= 0) return;
  TVtLine& line = ScreenLine(Row);
  SplitWide(line, Col);
  SplitWide(line, Cols - count);
  const auto at = line.Cells.begin() + Col;
  std::move_backward(at, line.Cells.end() - count, line.Cells.end());
  std::fill(at, at + count, Blank());
  line.Wrapped = false;
  Mark(Row);
}

void TState::DeleteChars(int count) {
  count = std::min(count, Cols - Col);
  if (count <= 0) return;
  TVtLine& line = ScreenLine(Row);
  SplitWide(line, Col);
  SplitWide(line, Col + count);
  const auto at = line.Cells.begin() + Col;
  std::move(at + count, line.Cells.end(), at);
  std::fill(line.Cells.end() - count, line.Cells.end(), Blank());
  line.Wrapped = false;
  Mark(Row);
}

// Lines inserted or deleted inside the region only; the cursor goes to the
// left margin.
void TState::InsertLines(int count) {
  if (Row < Top || Row > Bottom) return;
  ScrollDown(Row, Bottom, count);
  CarriageReturn();
}

void TState::DeleteLines(int count) {
  if (Row < Top || Row > Bottom) return;
  ScrollUp(Row, Bottom, count, false);
  CarriageReturn();
}

void TState::ResizeScreen(int columns, int rows) {
  columns = std::clamp(columns, 1, vt::MaxSide);
  rows = std::clamp(rows, 1, vt::MaxSide);
  if (columns == Cols && rows == Rows && static_cast<int>(Screen.size()) == rows) return;
  std::rotate(Screen.begin(), Screen.begin() + static_cast<ptrdiff_t>(ScreenTop), Screen.end());
  ScreenTop = 0;
  // Fewer rows: the lines above the cursor leave the top, as they would
  // scroll off, so that the cursor's line stays in view.
  if (rows < static_cast<int>(Screen.size())) {
    const int drop = std::max(0, Row - (rows - 1));
    for (int i = 0; i < drop; ++i) PushScrollback(Screen[static_cast<size_t>(i)]);
    Screen.erase(Screen.begin(), Screen.begin() + drop);
    Row -= drop;
  }
  Screen.resize(static_cast<size_t>(rows));
  const TVtCell blank;
  for (TVtLine& line : Screen) {
    if (static_cast<int>(line.Cells.size()) > columns) {
      if (line.Cells[static_cast<size_t>(columns)].Ch == VtWideTail) line.Cells[static_cast<size_t>(columns) - 1].Ch = U' ';
      line.Wrapped = false;
    }
    line.Cells.resize(static_cast<size_t>(columns), blank);
  }
  const int oldCols = static_cast<int>(Tabs.size());
  Cols = columns;
  Rows = rows;
  Top = 0;
  Bottom = rows - 1;
  ResetTabs(std::min(oldCols, columns));
  Dirty.assign(static_cast<size_t>(rows), 0);
  MoveTo(Row, Col);
  MarkAll();
}

void TState::ResetTabs(int from) {
  Tabs.resize(static_cast<size_t>(Cols));
  for (int c = std::max(from, 0); c < Cols; ++c) Tabs[static_cast<size_t>(c)] = c > 0 && c % 8 == 0;
}

// DECALN: the screen full of E, for adjusting a monitor.
void TState::AlignmentFill() {
  TVtCell e;
  e.Ch = U'E';
  for (TVtLine& line : Screen) {
    std::fill(line.Cells.begin(), line.Cells.end(), e);
    line.Wrapped = false;
  }
  Top = 0;
  Bottom = Rows - 1;
  Origin = false;
  MoveTo(0, 0);
  MarkAll();
}

void TState::Save() {
  Saved.Row = Row;
  Saved.Col = Col;
  Saved.PendingWrap = PendingWrap;
  Saved.Pen = Pen;
  Saved.G[0] = G[0];
  Saved.G[1] = G[1];
  Saved.GL = GL;
  Saved.Origin = Origin;
}

void TState::Restore() {
  Origin = Saved.Origin;
  MoveTo(Saved.Row, Saved.Col);
  if (Origin) Row = std::clamp(Row, Top, Bottom);
  // Text written around a save and restore goes on as if uninterrupted.
  PendingWrap = Saved.PendingWrap && Col == Cols - 1 && AutoWrap;
  Pen = Saved.Pen;
  G[0] = Saved.G[0];
  G[1] = Saved.G[1];
  GL = Saved.GL;
  UpdateMap();
}

}  // namespace cport

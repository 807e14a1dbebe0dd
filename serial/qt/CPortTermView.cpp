// SPDX-License-Identifier: MIT
// The terminal control's view: the cells, the gathering of changes into at
// most one repaint per frame, the scroll bar and the blinking.
#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QtMath>
#include <algorithm>
#include <cstring>

#include "CPortTerm.h"
#include "Translation.h"

#define N_(text) text

namespace cport {

namespace {

constexpr int kMargin = 2;

// The line-drawing characters of the DEC set, drawn as lines so that they
// join from cell to cell whatever the font's glyphs do.  Bits: left, right,
// up, down.
enum : uint8_t { bL = 1, bR = 2, bU = 4, bD = 8 };
uint8_t BoxArms(char32_t ch) {
  switch (ch) {
    case U'\u2500': return bL | bR;
    case U'\u2502': return bU | bD;
    case U'\u250C': return bR | bD;
    case U'\u2510': return bL | bD;
    case U'\u2514': return bR | bU;
    case U'\u2518': return bL | bU;
    case U'\u251C': return bU | bD | bR;
    case U'\u2524': return bU | bD | bL;
    case U'\u252C': return bL | bR | bD;
    case U'\u2534': return bL | bR | bU;
    case U'\u253C': return bL | bR | bU | bD;
    default: return 0;
  }
}

// The horizontal scan lines 1, 3, 7 and 9 (5 is the plain line).
int ScanLine(char32_t ch) {
  switch (ch) {
    case U'\u23BA': return 1;
    case U'\u23BB': return 3;
    case U'\u23BC': return 7;
    case U'\u23BD': return 9;
    default: return 0;
  }
}

// The pictures of control characters (what the DEC set shows for HT, FF,
// CR, LF, NL and VT, and the plain text mode for every control), which few
// fonts hold: their letters, stacked small in the cell.
const char* ControlPicture(char32_t ch) {
  static const char* const kC0[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "HT", "LF",
                                    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
                                    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
  if (ch >= U'\u2400' && ch <= U'\u241F') return kC0[ch - U'\u2400'];
  if (ch == U'\u2420') return "SP";
  if (ch == U'\u2421') return "DEL";
  if (ch == U'\u2424') return "NL";
  return nullptr;
}

bool DrawnByHand(char32_t ch) { return BoxArms(ch) || ScanLine(ch) || ch == U'\u2592' || ControlPicture(ch); }

void DrawByHand(QPainter& p, const QRect& cell, char32_t ch, const QColor& color, const QFont& font) {
  if (const char* letters = ControlPicture(ch)) {
    const int n = static_cast<int>(std::strlen(letters));
    QFont small = font;
    small.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    small.setPixelSize(std::max(4, std::min(cell.height() / n, cell.width() * 3 / 2)));
    p.save();
    p.setFont(small);
    p.setPen(color);
    for (int i = 0; i < n; ++i) {
      const QRect box(cell.left(), cell.top() + i * cell.height() / n, cell.width(), cell.height() / n);
      p.drawText(box, Qt::AlignCenter, QString(QLatin1Char(letters[i])));
    }
    p.restore();
    return;
  }
  if (ch == U'\u2592') {  // the checkerboard
    p.fillRect(cell, QBrush(color, Qt::Dense4Pattern));
    return;
  }
  const int w = std::max(1, cell.height() / 16);
  if (const int scan = ScanLine(ch)) {
    const int y = cell.top() + (scan - 1) * (cell.height() - w) / 8;
    p.fillRect(cell.left(), y, cell.width(), w, color);
    return;
  }
  const uint8_t arms = BoxArms(ch);
  const int cx = cell.left() + (cell.width() - w) / 2;
  const int cy = cell.top() + (cell.height() - w) / 2;
  if (arms & bL) p.fillRect(cell.left(), cy, cx - cell.left() + w, w, color);
  if (arms & bR) p.fillRect(cx, cy, cell.right() + 1 - cx, w, color);
  if (arms & bU) p.fillRect(cx, cell.top(), w, cy - cell.top() + w, color);
  if (arms & bD) p.fillRect(cx, cy, w, cell.bottom() + 1 - cy, color);
}

// Text of the font's own in one run needs glyphs that keep to the cell
// grid; letters far from Latin may come from another font of another width.
bool KeepsToGrid(char32_t ch) { return ch < 0x250; }

}  // namespace

// -- geometry --------------------------------------------------------------------

void TComTerminal::FontChanged() {
  // Glyphs advance by fractions of a pixel while cells are whole pixels:
  // the letter spacing makes up the difference, so that a run of text
  // drawn in one go keeps to the cells however long it is.
  const QFontMetricsF fm(FSettings.Font);
  FCellWidth = std::max(1, qRound(fm.horizontalAdvance(QLatin1Char('M'))));
  FCellHeight = std::max(1, qCeil(fm.height()));
  FAscent = qRound(fm.ascent());
  FUnderline = std::min(FCellHeight - 1, FAscent + std::max(1, qRound(fm.underlinePos())));
  auto fitted = [&](QFont f) {
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    const qreal advance = QFontMetricsF(f).horizontalAdvance(QLatin1Char('M'));
    f.setLetterSpacing(QFont::AbsoluteSpacing, FCellWidth - advance);
    return f;
  };
  FTextFont = fitted(FSettings.Font);
  QFont bold = FSettings.Font;
  bold.setBold(true);
  FBoldFont = fitted(bold);
  updateGeometry();
  update();
}

QRect TComTerminal::ScreenRect() const {
  return {kMargin, kMargin, FEmu->Columns() * FCellWidth, FEmu->Rows() * FCellHeight};
}

QRect TComTerminal::RowRect(int viewRow) const {
  return {kMargin, kMargin + viewRow * FCellHeight, FEmu->Columns() * FCellWidth, FCellHeight};
}

QRect TComTerminal::CellRect(int viewRow, int column) const {
  return {kMargin + column * FCellWidth, kMargin + viewRow * FCellHeight, FCellWidth, FCellHeight};
}

QSize TComTerminal::sizeHint() const {
  const QRect screen = ScreenRect();
  return {screen.width() + 2 * kMargin + FScrollBar->sizeHint().width(), screen.height() + 2 * kMargin};
}

QSize TComTerminal::minimumSizeHint() const {
  return {TermMinColumns * FCellWidth + FScrollBar->sizeHint().width(), TermMinRows * FCellHeight};
}

void TComTerminal::resizeEvent(QResizeEvent*) {
  const int w = FScrollBar->sizeHint().width();
  FScrollBar->setGeometry(width() - w, 0, w, height());
}

int TComTerminal::FirstViewLine() const { return std::max(0, FEmu->ScrollbackCount() - FScrollOffset); }

void TComTerminal::InvalidateViewRow(int row) {
  if (row >= 0 && row < FEmu->Rows()) update(RowRect(row));
}

// -- gathering changes -------------------------------------------------------------

void TComTerminal::ScheduleFlush() {
  if (FFlushPending) return;
  FFlushPending = true;
  // Bytes that come on the heels of a repaint wait for the next frame; the
  // first after a quiet spell are shown at once.
  FFlushTimer->start(static_cast<int>(std::max<qint64>(0, FFrameInterval - FSinceFlush.elapsed())));
}

void TComTerminal::SetFrameInterval(int ms) { FFrameInterval = std::clamp(ms, 1, 1000); }

void TComTerminal::ContentReset() {
  FFlushTimer->stop();
  FFlushPending = false;
  FSelAnchor = FSelEnd = {};
  FSelecting = false;
  FScrollOffset = 0;
  FScrollbackSeen = FEmu->ScrollbackCount();
  FEmu->ClearChanges();
  FCursorRowShown = FEmu->CursorRow();
  FCursorColumnShown = FEmu->CursorColumn();
  FReverseShown = FEmu->ReverseScreen();
  const bool resized = FGridShown != QSize(FEmu->Columns(), FEmu->Rows());
  FGridShown = QSize(FEmu->Columns(), FEmu->Rows());
  FRowBlinks.assign(static_cast<size_t>(FEmu->Rows()), false);
  UpdateScrollBar();
  update();
  if (resized) {
    updateGeometry();
    emit ScreenResized();
  }
}

void TComTerminal::Flush() {
  FFlushPending = false;
  FSinceFlush.restart();
  if (FGridShown != QSize(FEmu->Columns(), FEmu->Rows())) {
    ContentReset();  // the device switched between 80 and 132 columns
    return;
  }
  const int rows = FEmu->Rows();
  const int scrolled = FEmu->LinesScrolledOff();
  const int scrollback = FEmu->ScrollbackCount();
  // Lines that left the top of a full scrollback are gone for good.
  const int dropped = std::max(0, FScrollbackSeen + scrolled - scrollback);
  FDropped += dropped;
  FScrollbackSeen = scrollback;
  if (FScrollOffset > 0) FScrollOffset = std::min(FScrollOffset + scrolled, scrollback);  // the view stays put

  const int64_t screenTop = FDropped + scrollback;
  if (HasSelection()) {
    const TCellPos from = std::min(FSelAnchor, FSelEnd), to = std::max(FSelAnchor, FSelEnd);
    bool gone = from.Line < FDropped;
    for (int r = 0; r < rows && !gone; ++r)
      gone = FEmu->RowChanged(r) && screenTop + r >= from.Line && screenTop + r <= to.Line;
    if (gone) ClearSelection();
  }

  const bool reversed = FEmu->ReverseScreen() != FReverseShown;
  FReverseShown = FEmu->ReverseScreen();
  const bool blinking = std::find(FRowBlinks.begin(), FRowBlinks.end(), true) != FRowBlinks.end();
  if (scrolled > 0 && scrolled < rows && !reversed && FScrollOffset == 0 && !HasSelection() && Connected() &&
      !blinking) {
    ScrollShown(scrolled);
  } else if (scrolled > 0 || dropped > 0 || reversed) {
    update();
  } else {
    for (int r = 0; r < rows; ++r)
      if (FEmu->RowChanged(r)) InvalidateViewRow(r + FScrollOffset);
    const int cursorRow = FEmu->CursorVisible() ? FEmu->CursorRow() : -1;
    if (cursorRow != FCursorRowShown || FEmu->CursorColumn() != FCursorColumnShown) {
      InvalidateViewRow(FCursorRowShown + FScrollOffset);
      InvalidateViewRow(cursorRow + FScrollOffset);
    }
  }
  FCursorRowShown = FEmu->CursorVisible() ? FEmu->CursorRow() : -1;
  FCursorColumnShown = FEmu->CursorColumn();
  FEmu->ClearChanges();
  UpdateScrollBar();
  if (FBells > 0) {
    FBells = 0;
    QApplication::beep();
    emit Bell();
  }
}

// Text scrolled up the live screen: what stays on it moves as pixels, and
// only the rows whose cells differ from what was painted at their new place
// are painted again (a flood of lines costs a row or two per frame, not the
// screen).  Pending repaints move with the pixels.
void TComTerminal::ScrollShown(int lines) {
  const int rows = FEmu->Rows();
  scroll(0, -lines * FCellHeight, ScreenRect());
  FRowsShown.resize(static_cast<size_t>(rows));
  std::rotate(FRowsShown.begin(), FRowsShown.begin() + lines, FRowsShown.end());
  for (int r = rows - lines; r < rows; ++r) FRowsShown[static_cast<size_t>(r)].Valid = false;
  const int first = FEmu->ScrollbackCount();
  for (int r = 0; r < rows; ++r) {
    const TRowShown& shown = FRowsShown[static_cast<size_t>(r)];
    if (!shown.Valid || shown.Cells != FEmu->Line(first + r).Cells) InvalidateViewRow(r);
  }
  // The cursor went up with the pixels.
  InvalidateViewRow(FCursorRowShown - lines);
  InvalidateViewRow(FEmu->CursorVisible() ? FEmu->CursorRow() : -1);
}

void TComTerminal::UpdateScrollBar() {
  const QSignalBlocker quiet(FScrollBar);
  const int scrollback = FEmu->ScrollbackCount();
  FScrollBar->setRange(0, scrollback);
  FScrollBar->setPageStep(FEmu->Rows());
  FScrollBar->setValue(scrollback - std::min(FScrollOffset, scrollback));
}

void TComTerminal::SetScrollPosition(int lines) {
  lines = std::clamp(lines, 0, FEmu->ScrollbackCount());
  if (lines == FScrollOffset) return;
  FScrollOffset = lines;
  UpdateScrollBar();
  update();
}

// -- blinking ----------------------------------------------------------------------

void TComTerminal::UpdateBlinkTimer() {
  const bool needed = (FSettings.CursorBlink && hasFocus()) ||
                      std::find(FRowBlinks.begin(), FRowBlinks.end(), true) != FRowBlinks.end();
  if (needed && !FBlinkTimer->isActive()) {
    FBlinkTimer->start();
  } else if (!needed && FBlinkTimer->isActive()) {
    FBlinkTimer->stop();
    FBlinkOn = true;
  }
}

void TComTerminal::BlinkTick() {
  FBlinkOn = !FBlinkOn;
  if (FSettings.CursorBlink && hasFocus()) InvalidateViewRow(FCursorRowShown + FScrollOffset);
  for (size_t r = 0; r < FRowBlinks.size(); ++r)
    if (FRowBlinks[r]) InvalidateViewRow(static_cast<int>(r));
  UpdateBlinkTimer();
}

void TComTerminal::focusInEvent(QFocusEvent* event) {
  FBlinkOn = true;
  UpdateBlinkTimer();
  InvalidateViewRow(FCursorRowShown + FScrollOffset);
  QWidget::focusInEvent(event);
}

void TComTerminal::focusOutEvent(QFocusEvent* event) {
  UpdateBlinkTimer();
  InvalidateViewRow(FCursorRowShown + FScrollOffset);
  QWidget::focusOutEvent(event);
}

void TComTerminal::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) update();
  QWidget::changeEvent(event);
}

// -- painting ----------------------------------------------------------------------

QColor TComTerminal::CellColor(uint8_t index, bool foreground) const {
  if (index == VtDefaultColor) {
    const bool fg = foreground != FEmu->ReverseScreen();
    return FSettings.Colors[fg ? 7 : 0];
  }
  return FSettings.Colors[index & 15];
}

void TComTerminal::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  const QRegion& region = event->region();
  const QRect screen = ScreenRect();
  const QColor background = CellColor(VtDefaultColor, false);
  // The border around the cells.
  const QRect area(0, 0, width() - FScrollBar->width(), height());
  for (const QRect& r : QRegion(area).subtracted(screen)) p.fillRect(r, background);
  if (FRowBlinks.size() != static_cast<size_t>(FEmu->Rows())) FRowBlinks.assign(static_cast<size_t>(FEmu->Rows()), false);
  for (int v = 0; v < FEmu->Rows(); ++v)
    if (region.intersects(RowRect(v))) PaintRow(p, v);
  PaintCursor(p);
  if (!Connected()) PaintDisconnected(p);
  UpdateBlinkTimer();
}

void TComTerminal::PaintRow(QPainter& p, int viewRow) {
  const int index = FirstViewLine() + viewRow;
  static const TVtLine kBlank;
  const TVtLine& line = index < FEmu->LineCount() ? FEmu->Line(index) : kBlank;
  const int64_t absolute = FDropped + index;
  const int columns = FEmu->Columns();
  const QRect row = RowRect(viewRow);
  const QPalette& pal = palette();
  static const TVtCell kBlankCell;
  auto cellAt = [&](int c) -> const TVtCell& {
    return c < static_cast<int>(line.Cells.size()) ? line.Cells[static_cast<size_t>(c)] : kBlankCell;
  };
  bool blinks = false;
  QString text;
  for (int c = 0; c < columns;) {
    const TVtCell& first = cellAt(c);
    const bool selected = Selected(absolute, c);
    int end = c + 1;
    while (end < columns) {
      const TVtCell& next = cellAt(end);
      if (next.Fg != first.Fg || next.Bg != first.Bg || next.Attr != first.Attr || Selected(absolute, end) != selected) break;
      ++end;
    }
    QColor fg = CellColor(first.Fg, true), bg = CellColor(first.Bg, false);
    if (first.Attr & vaReverse) std::swap(fg, bg);
    if (selected) {
      bg = pal.color(QPalette::Active, QPalette::Highlight);
      fg = pal.color(QPalette::Active, QPalette::HighlightedText);
    }
    const QRect run(row.left() + c * FCellWidth, row.top(), (end - c) * FCellWidth, FCellHeight);
    p.fillRect(run, bg);
    const bool bold = first.Attr & vaBold;
    const bool hidden = (first.Attr & vaBlink) && !FBlinkOn;
    blinks |= (first.Attr & vaBlink) != 0;
    if (!hidden) {
      p.setFont(bold ? FBoldFont : FTextFont);
      p.setPen(fg);
      // Runs of the font's own letters are drawn in one go; the rest cell by
      // cell, so that each sits in its own place.
      text.clear();
      bool ink = false;  // not blanks only
      int textStart = c;
      auto flushText = [&](int upTo) {
        if (ink) p.drawText(QPoint(row.left() + textStart * FCellWidth, row.top() + FAscent), text);
        text.clear();
        ink = false;
        textStart = upTo;
      };
      for (int i = c; i < end; ++i) {
        const char32_t ch = cellAt(i).Ch;
        const QRect cell(row.left() + i * FCellWidth, row.top(), FCellWidth, FCellHeight);
        if (ch == VtWideTail) {  // covered by the wide glyph on its left
          flushText(i + 1);
        } else if (DrawnByHand(ch)) {
          flushText(i + 1);
          DrawByHand(p, cell, ch, fg, bold ? FBoldFont : FTextFont);
        } else if (KeepsToGrid(ch)) {
          if (text.isEmpty()) textStart = i;
          text += QChar(static_cast<char16_t>(ch));
          ink |= ch != U' ';
        } else {
          flushText(i + 1);
          const char32_t one[] = {ch};
          p.drawText(QPoint(cell.left(), row.top() + FAscent), QString::fromUcs4(one, 1));
        }
      }
      flushText(end);
      if (first.Attr & vaUnderline) p.fillRect(run.left(), row.top() + FUnderline, run.width(), 1, fg);
    }
    c = end;
  }
  FRowBlinks[static_cast<size_t>(viewRow)] = blinks;
  if (FRowsShown.size() != static_cast<size_t>(FEmu->Rows())) FRowsShown.assign(static_cast<size_t>(FEmu->Rows()), {});
  TRowShown& shown = FRowsShown[static_cast<size_t>(viewRow)];
  shown.Valid = true;
  shown.Cells = line.Cells;
}

void TComTerminal::PaintCursor(QPainter& p) {
  if (!FEmu->CursorVisible()) return;
  const int viewRow = FEmu->CursorRow() + FScrollOffset;
  if (viewRow < 0 || viewRow >= FEmu->Rows()) return;
  const int column = std::min(FEmu->CursorColumn(), FEmu->Columns() - 1);
  const QRect cell(kMargin + column * FCellWidth, kMargin + viewRow * FCellHeight, FCellWidth, FCellHeight);
  const QColor color = CellColor(VtDefaultColor, true);
  if (!hasFocus()) {  // an outline: the keys go elsewhere
    p.setPen(color);
    p.setBrush(Qt::NoBrush);
    p.drawRect(cell.adjusted(0, 0, -1, -1));
    return;
  }
  if (FSettings.CursorBlink && !FBlinkOn) return;
  const int thick = std::max(2, FCellHeight / 8);
  switch (FSettings.CursorShape) {
    case tsBlock:
      p.save();
      p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      p.fillRect(cell, Qt::white);
      p.restore();
      break;
    case tsUnderline: p.fillRect(cell.left(), cell.bottom() + 1 - thick, cell.width(), thick, color); break;
    case tsBar: p.fillRect(cell.left(), cell.top(), thick, cell.height(), color); break;
  }
}

void TComTerminal::PaintDisconnected(QPainter& p) {
  const QRect screen = ScreenRect();
  p.fillRect(screen, QColor(128, 128, 128, 96));
  const QString caption = QString::fromUtf8(translation::Lookup("cport", N_("Disconnected")));
  QFont f = font();
  f.setBold(true);
  const QFontMetrics fm(f);
  QRect box = fm.boundingRect(caption).adjusted(-12, -6, 12, 6);
  box.moveCenter(screen.center());
  p.setPen(palette().color(QPalette::WindowText));
  p.setBrush(palette().color(QPalette::Window));
  p.drawRect(box);
  p.setFont(f);
  p.drawText(box, Qt::AlignCenter, caption);
}

}  // namespace cport

// SPDX-License-Identifier: MIT
// A terminal control: shows a VT100 or VT52 emulation (CPortVT.h) and
// follows a port through a link.  Qt part of the serial component.
//
// Contract:
//  - Bytes the port receives go into the emulation, keys typed go to the
//    port (with LocalEcho also into the emulation), the emulation's answers
//    go to the port.  While no open port is bound, typing and pasting send
//    nothing and the control says it is disconnected.
//  - The control reads nothing from the port itself: it takes what the link
//    delivers.  A program that shows the bytes changed (with their times,
//    say) turns ReceivesFromPort off, reads them itself and hands the
//    control what it makes of them (Feed, WriteText); one that sends in
//    its own way sets a SendHandler.  Deliveries on another thread (SyncMethod smNone, or a port
//    opened by another thread with smWindowSync) are handed over to the
//    control's thread without loss.
//  - Every setter applies at once.  Columns, Rows and ScrollBack are limited
//    to the ranges below; a colour index outside 0-15 is ignored.
//  - Painting: only rows that changed are repainted, and changes are
//    gathered to at most one repaint per frame, however fast bytes come.
//  - GUI thread only (the thread that owns the widget).
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CPort.h"
#include "CPortVT.h"

class QScrollBar;
class QTimer;

namespace cport {

enum TTermCursorShape : uint8_t { tsBlock, tsUnderline, tsBar };

constexpr int TermMinColumns = 10, TermMaxColumns = 500;
constexpr int TermMinRows = 2, TermMaxRows = 200;
constexpr int TermMaxScrollBack = 100000;

// Every setting of a terminal control, as its setup dialog edits them.
struct TComTermSettings {
  TTermEmulation Emulation = teVT100;
  int Columns = 80;
  int Rows = 24;
  bool LocalEcho = false;
  bool SendLF = false;     // Return sends CR LF
  bool AppendLF = false;   // a received CR also moves down a line
  bool Force7Bit = false;  // the high bit of received bytes is dropped
  bool WrapLines = true;
  int ScrollBack = 1000;  // lines kept above the screen
  TTermCharset Charset = tcUTF8;
  bool BackspaceDel = true;  // Backspace sends DEL, else BS
  QFont Font = DefaultTermFont();
  // 0-7 the normal colours, 8-15 the bright ones; text is drawn in colour 7
  // on colour 0 unless the device chooses others.
  std::array<QColor, 16> Colors = DefaultTermColors();
  TTermCursorShape CursorShape = tsBlock;
  bool CursorBlink = true;

  bool operator==(const TComTermSettings&) const = default;

  static QFont DefaultTermFont();
  static std::array<QColor, 16> DefaultTermColors();
};

class TComTermLink;

class TComTerminal : public QWidget, private IFreeNotification {
  Q_OBJECT
 public:
  explicit TComTerminal(QWidget* parent = nullptr);
  ~TComTerminal() override;

  // -- the port ----------------------------------------------------------------
  TCustomComPort* ComPort() const { return FComPort; }
  // Binds the control to a port (nullptr: none); it lets go of a port that
  // is destroyed while bound.
  void SetComPort(TCustomComPort* port);
  // A port is bound and open: keys reach it.
  bool Connected() const { return FComPort && FComPort->Connected(); }
  // Whether the bytes the bound port receives go into the emulation (the
  // default).  Off, the link asks for none of them, so the port keeps them
  // for the program's own reads and handlers.
  bool ReceivesFromPort() const { return FReceivesFromPort; }
  void SetReceivesFromPort(bool value);
  // Where typed keys, pasted text and the emulation's answers go while the
  // control is connected: the bound port's WriteStr unless set.
  using TSendHandler = std::function<void(const std::string& bytes)>;
  void SetSendHandler(TSendHandler handler) { FSendHandler = std::move(handler); }

  // -- settings ----------------------------------------------------------------
  TTermEmulation Emulation() const { return FSettings.Emulation; }
  void SetEmulation(TTermEmulation value);
  // The screen's size; the device may switch the columns itself (80/132).
  int Columns() const;
  void SetColumns(int value);
  int Rows() const;
  void SetRows(int value);
  bool LocalEcho() const { return FSettings.LocalEcho; }
  void SetLocalEcho(bool value) { FSettings.LocalEcho = value; }
  bool SendLF() const { return FSettings.SendLF; }
  void SetSendLF(bool value) { FSettings.SendLF = value; }
  bool AppendLF() const { return FSettings.AppendLF; }
  void SetAppendLF(bool value);
  bool Force7Bit() const { return FSettings.Force7Bit; }
  void SetForce7Bit(bool value);
  bool WrapLines() const { return FSettings.WrapLines; }
  void SetWrapLines(bool value);
  int ScrollBack() const { return FSettings.ScrollBack; }
  void SetScrollBack(int lines);
  TTermCharset Charset() const { return FSettings.Charset; }
  void SetCharset(TTermCharset value);
  bool BackspaceDel() const { return FSettings.BackspaceDel; }
  void SetBackspaceDel(bool value) { FSettings.BackspaceDel = value; }
  // A fixed-pitch font; any other is drawn in its cells all the same.
  QFont Font() const { return FSettings.Font; }
  void SetFont(const QFont& value);
  QColor Color(int index) const;
  void SetColor(int index, const QColor& value);
  TTermCursorShape CursorShape() const { return FSettings.CursorShape; }
  void SetCursorShape(TTermCursorShape value);
  bool CursorBlink() const { return FSettings.CursorBlink; }
  void SetCursorBlink(bool value);

  // The settings with the screen's size as it is now.
  TComTermSettings Settings() const;
  void SetSettings(const TComTermSettings& value);
  // Runs the settings dialog; true when the operator confirmed.
  bool ShowSetupDialog();

  // The shortest time in milliseconds from one repaint to the next while
  // bytes keep coming (1 to 1000; 16 by default, a frame of a 60 Hz screen).
  // The first bytes after a quiet spell are shown at once whatever it is.
  int FrameInterval() const { return FFrameInterval; }
  void SetFrameInterval(int ms);

  // -- content -----------------------------------------------------------------
  // Empties the screen and the scrollback.
  void Clear();
  // Shows a program's own text at the cursor ("\n" starts a new line); it
  // goes to no port.
  void WriteText(const QString& text);
  // Bytes into the emulation as if the port had received them; its answers
  // go where typed keys go.
  void Feed(const void* data, size_t count);
  const TVtEmulator& Emulator() const { return *FEmu; }

  // -- selection and clipboard -------------------------------------------------
  bool HasSelection() const { return FSelAnchor != FSelEnd; }
  QString SelectedText() const;
  void SelectAll();
  void ClearSelection();
  void CopySelection();
  // Sends the clipboard's text to the port as typed, line ends as Return.
  void Paste();
  void PasteText(const QString& text);

  // -- scrolling back ----------------------------------------------------------
  // Lines the view shows above the live screen (0: the live screen).
  int ScrollPosition() const { return FScrollOffset; }
  void SetScrollPosition(int lines);

  // Where the cell of a row of the view (0 at the top) and a column is drawn.
  QRect CellRect(int viewRow, int column) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // The device rang the bell (once per repaint however often it rang).
  void Bell();
  // The screen has other columns or rows now (by a setting, or the device
  // switched between 80 and 132 columns): sizeHint() has changed with it.
  void ScreenResized();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void changeEvent(QEvent* event) override;

 private:
  friend class TComTermLink;
  // A position in the whole list of lines, counted from the first line the
  // control ever held, so that it stays put while old lines are dropped.
  struct TCellPos {
    int64_t Line = 0;
    int Column = 0;
    auto operator<=>(const TCellPos&) const = default;
  };

  // -- port (CPortTerm.cpp) --
  void FreeNotify(TComponent* component) override;
  void Unbind();
  void Received(const void* data, size_t count);
  void ConnectionChanged(bool on);
  void Send(const std::string& bytes);
  void SendAnswers();

  // -- view (CPortTermView.cpp) --
  void FontChanged();
  void ContentReset();  // the whole list of lines changed
  void ScheduleFlush();
  void Flush();
  void UpdateScrollBar();
  void UpdateBlinkTimer();
  void BlinkTick();
  void InvalidateViewRow(int row);
  void ScrollShown(int lines);
  QRect ScreenRect() const;
  QRect RowRect(int viewRow) const;
  int FirstViewLine() const;  // index in the emulator's list of the top row shown
  void PaintRow(QPainter& p, int viewRow);
  void PaintCursor(QPainter& p);
  void PaintDisconnected(QPainter& p);
  QColor CellColor(uint8_t index, bool foreground) const;

  // -- input and selection (CPortTermInput.cpp) --
  TCellPos CellAt(const QPoint& pos) const;
  bool Selected(int64_t line, int column) const;
  void SetSelection(TCellPos anchor, TCellPos end);
  void SelectWord(TCellPos at);
  // The control's own keys (copy, paste, scrolling back); act: do it too.
  bool HandleLocalKey(QKeyEvent* event, bool act);
  bool ToVtKey(QKeyEvent* event, TVtKeyPress& key) const;
  TVtKeyModes KeyModes() const;
  void TypeBytes(const std::string& bytes);
  void ScrollBy(int lines);

  TComTermSettings FSettings;
  std::unique_ptr<TVtEmulator> FEmu;

  TCustomComPort* FComPort = nullptr;
  std::shared_ptr<TComTermLink> FLink;
  bool FReceivesFromPort = true;
  TSendHandler FSendHandler;

  // View state.
  QScrollBar* FScrollBar;
  QTimer* FFlushTimer;
  QTimer* FBlinkTimer;
  QElapsedTimer FSinceFlush;
  bool FFlushPending = false;
  int FFrameInterval = 16;
  QFont FTextFont, FBoldFont;  // as drawn: fitted to the cells
  int FCellWidth = 8;
  int FCellHeight = 16;
  int FAscent = 12;
  int FUnderline = 13;     // from the top of a cell
  QSize FGridShown;        // columns and rows as last laid out
  bool FReverseShown = false;
  int FScrollOffset = 0;
  int FScrollbackSeen = 0;  // the emulator's scrollback count at the last flush
  int64_t FDropped = 0;     // lines dropped from the top since the start
  int FCursorRowShown = -1, FCursorColumnShown = -1;  // where the cursor was painted
  bool FBlinkOn = true;
  std::vector<bool> FRowBlinks;  // view rows that hold blinking text
  // The cells each view row showed when it was last painted: a scroll moves
  // the painted rows as pixels and repaints only those that differ.
  struct TRowShown {
    bool Valid = false;
    std::vector<TVtCell> Cells;
  };
  std::vector<TRowShown> FRowsShown;
  int FBells = 0;

  // Selection (FSelAnchor == FSelEnd: none).
  TCellPos FSelAnchor, FSelEnd;
  bool FSelecting = false;
};

}  // namespace cport

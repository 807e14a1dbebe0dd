// SPDX-License-Identifier: MIT
// The terminal control, headless, on a pseudo-terminal: what the far end
// sends is shown, what is typed reaches it, the scrollback, the selection,
// the repaint of changed rows only, and the settings dialog.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <chrono>
#include <functional>
#include <thread>

#include "CPortTerm.h"
#include "CPortTermSetup.h"
#include "Modal.h"
#include "Pty.h"

using namespace cport;
using cport::test::TPty;
using cport::test::WhenShown;

namespace {

// Runs the GUI's events and the port's calls for the GUI thread until pred
// holds or the deadline passes.
bool Settle(const std::function<bool()>& pred, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    QCoreApplication::processEvents();
    CheckSynchronize();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::string RowText(const TComTerminal& t, int row) {
  const TVtEmulator& e = t.Emulator();
  const int line = e.ScrollbackCount() + row;
  return e.Text(line, 0, line, e.Columns());
}

// Whether anything but the background is drawn in the cell.
bool Ink(const QImage& image, const QRect& cell, const QColor& background) {
  for (int y = cell.top(); y <= cell.bottom(); ++y)
    for (int x = cell.left(); x <= cell.right(); ++x)
      if (image.pixelColor(x, y) != background) return true;
  return false;
}

void Press(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
  QKeyEvent e(QEvent::KeyPress, key, mods, text);
  QApplication::sendEvent(w, &e);
}

void Mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
  QMouseEvent e(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// The paints the control receives.
class PaintRecorder : public QObject {
 public:
  std::vector<QRegion> Regions;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) Regions.push_back(static_cast<QPaintEvent*>(e)->region());
    return false;
  }
};

class Terminal : public ::testing::Test {
 protected:
  TPty Pty;
  TComPort P;
  TComTerminal T;
  void SetUp() override {
    SetWakeMainThread([] { QMetaObject::invokeMethod(qApp, [] { CheckSynchronize(); }, Qt::QueuedConnection); });
    P.SetPort(Pty.Path());
    T.SetComPort(&P);
    T.SetCursorBlink(false);
    P.Open();
  }
  void TearDown() override {
    P.Close();
    SetWakeMainThread(nullptr);
  }
  // What the far end hears, while the GUI runs (answers are sent from it).
  std::string Heard(size_t n) {
    std::string got;
    Settle([&] {
      got += Pty.Drain();
      return got.size() >= n;
    });
    return got;
  }
  // Sends from the far end and waits until the screen shows it.
  void Show(const std::string& bytes, int row, const std::string& text) {
    Pty.Send(bytes);
    ASSERT_TRUE(Settle([&] { return RowText(T, row) == text; })) << '"' << RowText(T, row) << '"';
  }
};

TEST_F(Terminal, BytesFromTheLineAreDrawnInTheirCells) {
  T.resize(T.sizeHint());
  Show("hello\r\n  world", 1, "  world");
  EXPECT_EQ(RowText(T, 0), "hello");
  const QImage shot = T.grab().toImage();
  const QColor bg = T.Color(0);
  EXPECT_TRUE(Ink(shot, T.CellRect(0, 0), bg));
  EXPECT_TRUE(Ink(shot, T.CellRect(1, 2), bg));
  EXPECT_FALSE(Ink(shot, T.CellRect(0, 6), bg));
  EXPECT_FALSE(Ink(shot, T.CellRect(1, 1), bg));
}

TEST_F(Terminal, ALongRunOfTextKeepsToItsCells) {
  T.resize(T.sizeHint());
  // Glyphs that advance by a fraction of a pixel would drift off the grid.
  const std::string row = "*+" + std::string(76, ' ') + "+*";
  Show(row, 0, row);
  const QImage shot = T.grab().toImage();
  const QColor bg = T.Color(0);
  EXPECT_TRUE(Ink(shot, T.CellRect(0, 78), bg));
  EXPECT_TRUE(Ink(shot, T.CellRect(0, 79), bg));
  EXPECT_FALSE(Ink(shot, T.CellRect(0, 77), bg));
}

struct KeyCase {
  const char* guards;
  int key;
  Qt::KeyboardModifiers mods;
  const char* text;
  bool sendLF;
  std::string bytes;
};

TEST_F(Terminal, TypedKeysArriveAtTheFarEnd) {
  const KeyCase cases[] = {
      {"a letter", Qt::Key_A, Qt::NoModifier, "a", false, "a"},
      {"text beyond ASCII, as UTF-8", Qt::Key_Adiaeresis, Qt::NoModifier, "\u00e4", false, "\xc3\xa4"},
      {"Return", Qt::Key_Return, Qt::NoModifier, "\r", false, "\r"},
      {"Return with SendLF", Qt::Key_Return, Qt::NoModifier, "\r", true, "\r\n"},
      {"Backspace as DEL", Qt::Key_Backspace, Qt::NoModifier, "\b", false, "\x7f"},
      {"Tab stays in the terminal", Qt::Key_Tab, Qt::NoModifier, "\t", false, "\t"},
      {"Ctrl+letter", Qt::Key_C, Qt::ControlModifier, "\x03", false, "\x03"},
      {"Ctrl+Shift+letter other than C and V", Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier, "", false, "\x04"},
      {"Ctrl+[ as ESC", Qt::Key_BracketLeft, Qt::ControlModifier, "\x1b", false, "\x1b"},
      {"Alt+letter with ESC before", Qt::Key_X, Qt::AltModifier, "x", false, "\x1bx"},
      {"an arrow", Qt::Key_Up, Qt::NoModifier, "", false, "\x1b[A"},
  };
  for (const auto& c : cases) {
    T.SetSendLF(c.sendLF);
    Press(&T, c.key, c.mods, QString::fromUtf8(c.text));
    EXPECT_EQ(Pty.Receive(c.bytes.size()), c.bytes) << c.guards;
  }
  EXPECT_EQ(Pty.Drain(), "");
}

TEST_F(Terminal, KeysOfTheFarSideWinOverTheWindowsShortcuts) {
  QWidget window;
  auto* copy = new QAction(&window);
  copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  int copies = 0;
  QObject::connect(copy, &QAction::triggered, [&] { ++copies; });
  window.addAction(copy);
  T.setParent(&window);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  T.setFocus();
  QTest::keyClick(&T, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(Pty.Receive(1), "\x03");
  EXPECT_EQ(copies, 0);
  P.Close();  // with no line the window has its shortcut back
  QTest::keyClick(&T, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(copies, 1);
  T.setParent(nullptr);
}

TEST_F(Terminal, AnswersGoBackToTheLine) {
  Pty.Send("\x1b[c");
  EXPECT_EQ(Heard(7), "\x1b[?1;2c");
}

// A program that shows the bytes its own way: the port keeps them for the
// program's reads, the control shows what it is fed, and keys and answers
// go where the program says.
TEST_F(Terminal, AProgramCanTakeTheBytesAndTheKeysItself) {
  T.SetReceivesFromPort(false);
  EXPECT_TRUE(P.TriggersOnRxChar());
  std::string sent;
  T.SetSendHandler([&](const std::string& bytes) { sent += bytes; });
  int32_t waiting = 0;
  P.OnRxChar = [&](TCustomComPort*, int32_t count) { waiting = count; };
  Pty.Send("raw");
  ASSERT_TRUE(Settle([&] { return waiting == 3; }));
  EXPECT_EQ(RowText(T, 0), "");
  std::string read;
  P.ReadStr(read, 3);
  EXPECT_EQ(read, "raw");
  T.Feed("\x1b[c", 3);
  Press(&T, Qt::Key_Q, Qt::NoModifier, "q");
  EXPECT_EQ(sent, "\x1b[?1;2cq");
  EXPECT_EQ(Pty.Drain(50), "");
  // Back to the default: the control takes the bytes again.
  T.SetReceivesFromPort(true);
  EXPECT_FALSE(P.TriggersOnRxChar());
  Show("shown", 0, "shown");
  P.OnRxChar = nullptr;
}

TEST_F(Terminal, LocalEchoShowsWhatIsTyped) {
  T.SetLocalEcho(true);
  Press(&T, Qt::Key_Q, Qt::NoModifier, "q");
  EXPECT_EQ(Pty.Receive(1), "q");
  EXPECT_EQ(RowText(T, 0), "q");
}

TEST_F(Terminal, WhileThePortIsClosedNothingIsSentOrEchoed) {
  T.SetLocalEcho(true);
  P.Close();
  ASSERT_FALSE(T.Connected());
  Press(&T, Qt::Key_Q, Qt::NoModifier, "q");
  T.PasteText("pasted");
  EXPECT_EQ(RowText(T, 0), "");
  P.Open();  // the line learns of nothing typed meanwhile
  EXPECT_TRUE(T.Connected());
  Press(&T, Qt::Key_W, Qt::NoModifier, "w");
  EXPECT_EQ(Pty.Receive(1), "w");
  EXPECT_EQ(Pty.Drain(), "");
}

TEST_F(Terminal, TheDisconnectedScreenLooksDifferent) {
  T.resize(T.sizeHint());
  const QImage open = T.grab().toImage();
  P.Close();
  const QImage closed = T.grab().toImage();
  EXPECT_NE(open, closed);
  P.Open();
  EXPECT_EQ(T.grab().toImage(), open);
}

TEST_F(Terminal, APortDestroyedWhileBoundIsLetGo) {
  auto port = std::make_unique<TComPort>();
  T.SetComPort(port.get());
  port.reset();
  EXPECT_EQ(T.ComPort(), nullptr);
  EXPECT_FALSE(T.Connected());
  Press(&T, Qt::Key_A, Qt::NoModifier, "a");  // nothing to send to, no crash
}

TEST_F(Terminal, PasteSendsLineEndsAsReturn) {
  for (bool sendLF : {false, true}) {
    T.SetSendLF(sendLF);
    T.PasteText("one\ntwo\r\nthree\r");
    const std::string nl = sendLF ? "\r\n" : "\r";
    const std::string want = "one" + nl + "two" + nl + "three" + nl;
    EXPECT_EQ(Pty.Receive(want.size()), want) << sendLF;
  }
}

TEST_F(Terminal, TheScrollbackScrollsByKeysWheelAndBarAndStaysPutWhileLinesCome) {
  T.resize(T.sizeHint());
  std::string lines;
  for (int i = 1; i <= 60; ++i) lines += "line " + std::to_string(i) + "\r\n";
  Show(lines, 22, "line 60");  // 37 lines above the screen
  Settle([&] { return T.findChild<QScrollBar*>()->maximum() == 37; });
  QScrollBar* bar = T.findChild<QScrollBar*>();
  ASSERT_EQ(bar->maximum(), 37);
  EXPECT_EQ(bar->value(), 37);

  Press(&T, Qt::Key_PageUp, Qt::ShiftModifier);
  EXPECT_EQ(T.ScrollPosition(), 24);
  EXPECT_EQ(bar->value(), 13);
  Press(&T, Qt::Key_PageDown, Qt::ShiftModifier);
  EXPECT_EQ(T.ScrollPosition(), 0);
  QWheelEvent up(QPointF(10, 10), T.mapToGlobal(QPointF(10, 10)), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                 Qt::NoScrollPhase, false);
  QApplication::sendEvent(&T, &up);
  EXPECT_EQ(T.ScrollPosition(), 3);
  bar->setValue(0);  // the operator drags the bar to the top
  EXPECT_EQ(T.ScrollPosition(), 37);

  // The top row shows the first line, and goes on doing so while new
  // lines push more into the scrollback.
  auto topRow = [&] {
    T.ClearSelection();
    Mouse(&T, QEvent::MouseButtonPress, T.CellRect(0, 0).topLeft());
    const QPoint end = T.CellRect(0, T.Columns() - 1).topRight() + QPoint(1, 0);
    Mouse(&T, QEvent::MouseMove, end);
    Mouse(&T, QEvent::MouseButtonRelease, end);
    return T.SelectedText().toStdString();
  };
  EXPECT_EQ(topRow(), "line 1");
  Show("line 61\r\nline 62\r\n", 22, "line 62");
  Settle([&] { return T.ScrollPosition() == 39; });
  EXPECT_EQ(T.ScrollPosition(), 39);
  EXPECT_EQ(topRow(), "line 1");

  Press(&T, Qt::Key_A, Qt::NoModifier, "a");  // typing shows the live screen
  EXPECT_EQ(T.ScrollPosition(), 0);
  EXPECT_EQ(Pty.Receive(1), "a");
}

TEST_F(Terminal, LinesDroppedFromAFullScrollbackTakeTheirSelectionWithThem) {
  T.SetScrollBack(5);
  T.resize(T.sizeHint());
  std::string lines;
  for (int i = 1; i <= 30; ++i) lines += "line " + std::to_string(i) + "\r\n";
  Show(lines, 22, "line 30");
  T.SetScrollPosition(5);
  Mouse(&T, QEvent::MouseButtonPress, T.CellRect(0, 0).topLeft());
  Mouse(&T, QEvent::MouseButtonRelease, T.CellRect(0, 4).topLeft());
  ASSERT_EQ(T.SelectedText(), "line");
  Show("line 31\r\n", 22, "line 31");
  Settle([&] { return !T.HasSelection(); });
  EXPECT_FALSE(T.HasSelection());
  EXPECT_EQ(T.ScrollPosition(), 5);  // as far back as there is
}

TEST_F(Terminal, SelectionCopiesTheTextBetweenItsEnds) {
  T.resize(T.sizeHint());
  Show("alpha beta\r\ngamma delta", 1, "gamma delta");
  Mouse(&T, QEvent::MouseButtonPress, T.CellRect(0, 6).topLeft() + QPoint(1, 1));
  Mouse(&T, QEvent::MouseMove, T.CellRect(1, 4).topRight() + QPoint(0, 1));
  Mouse(&T, QEvent::MouseButtonRelease, T.CellRect(1, 4).topRight() + QPoint(0, 1));
  EXPECT_EQ(T.SelectedText(), "beta\ngamma");
  Press(&T, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "beta\ngamma");
  EXPECT_EQ(Pty.Drain(), "");  // the shortcut is the control's, not the line's

  // A double click takes the word under the pointer.
  QMouseEvent dbl(QEvent::MouseButtonDblClick, T.CellRect(1, 8).center(), T.mapToGlobal(T.CellRect(1, 8).center()),
                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&T, &dbl);
  EXPECT_EQ(T.SelectedText(), "delta");

  // The selected cells are drawn in the highlight colour.
  const QImage shot = T.grab().toImage();
  const QColor highlight = T.palette().color(QPalette::Active, QPalette::Highlight);
  EXPECT_EQ(shot.pixelColor(T.CellRect(1, 7).topLeft()), highlight);
  EXPECT_NE(shot.pixelColor(T.CellRect(1, 4).topLeft()), highlight);

  // Text that changes under the selection ends it.
  Show("\x1b[2;7HDELTA", 1, "gamma DELTA");
  Settle([&] { return !T.HasSelection(); });
  EXPECT_FALSE(T.HasSelection());
}

TEST_F(Terminal, OnlyTheRowsThatChangedAreRepainted) {
  PaintRecorder paints;
  T.installEventFilter(&paints);
  T.resize(T.sizeHint());
  T.show();
  ASSERT_TRUE(Settle([&] { return !paints.Regions.empty(); }));
  paints.Regions.clear();
  const QRect row5 = T.CellRect(5, 0) | T.CellRect(5, T.Columns() - 1);
  auto painted = [&] {
    QRegion all;
    for (const QRegion& r : paints.Regions) all += r;
    return all;
  };
  Show("\x1b[6;1Hstart", 5, "start");
  ASSERT_TRUE(Settle([&] { return painted().contains(row5); }));
  paints.Regions.clear();
  Show("ed", 5, "started");
  ASSERT_TRUE(Settle([&] { return !paints.Regions.empty(); }));
  EXPECT_EQ(painted().boundingRect(), row5);
  T.removeEventFilter(&paints);
}

// A flood of lines scrolls the screen: the rows that stay move as pixels
// and only the new ones are painted, and the picture is the one a full
// repaint gives.
TEST_F(Terminal, AScrollPaintsOnlyTheNewRowsAndLooksLikeAFullRepaint) {
  PaintRecorder paints;
  T.installEventFilter(&paints);
  T.resize(T.sizeHint());
  T.show();
  std::string screen;
  for (int i = 0; i < T.Rows(); ++i) screen += "\x1b[3" + std::to_string(i % 8) + "mline " + std::to_string(i) + "\r\n";
  Show(screen, T.Rows() - 2, "line " + std::to_string(T.Rows() - 1));
  // Taken in and painted: no change waits, and the repaint it asked for is done.
  auto painted = [&] {
    if (!Settle([&] { return !T.Emulator().AnyChange(); })) return false;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    return true;
  };
  ASSERT_TRUE(painted());
  paints.Regions.clear();
  Show("next\r\n", T.Rows() - 2, "next");
  ASSERT_TRUE(painted());
  ASSERT_FALSE(paints.Regions.empty());
  QRegion all;
  for (const QRegion& r : paints.Regions) all += r;
  // The new line and the blank one under it with the cursor.
  const QRect bottom = T.CellRect(T.Rows() - 2, 0) | T.CellRect(T.Rows() - 1, T.Columns() - 1);
  const QRect cells = T.CellRect(0, 0) | T.CellRect(T.Rows() - 1, T.Columns() - 1);
  const QRect paintedCells = (all & cells).boundingRect();
  EXPECT_TRUE(bottom.contains(paintedCells)) << "cells painted from y " << paintedCells.y();
  T.removeEventFilter(&paints);
  const QImage scrolled = T.grab().toImage();
  T.repaint();
  EXPECT_EQ(scrolled, T.grab().toImage());
}

TEST_F(Terminal, DeliveriesOnThePortsOwnThreadReachTheScreen) {
  P.Close();
  P.SetSyncMethod(smNone);
  P.Open();
  std::string lines;
  for (int i = 0; i < 200; ++i) lines += "row " + std::to_string(i) + "\r\n";
  Show(lines + "end", 23, "end");
  EXPECT_EQ(RowText(T, 22), "row 199");
  Pty.Send("\x1b[c");  // and the answer still goes out
  EXPECT_EQ(Heard(7), "\x1b[?1;2c");
}

TEST_F(Terminal, ClearAndProgramTextTouchNoLine) {
  Show("from the line\r\n>", 1, ">");
  T.WriteText("note\nmore");
  EXPECT_EQ(RowText(T, 1), ">note");
  EXPECT_EQ(RowText(T, 2), "more");
  T.Clear();
  EXPECT_EQ(RowText(T, 0), "");
  EXPECT_EQ(T.Emulator().ScrollbackCount(), 0);
  EXPECT_EQ(Pty.Drain(), "");
}

TEST_F(Terminal, ScreenSizeSettingsAreHeldToTheirRanges) {
  const QSize before = T.sizeHint();
  T.SetColumns(100);
  EXPECT_EQ(T.Columns(), 100);
  EXPECT_GT(T.sizeHint().width(), before.width());
  T.SetColumns(-5);
  EXPECT_EQ(T.Columns(), TermMinColumns);
  T.SetRows(100000);
  EXPECT_EQ(T.Rows(), TermMaxRows);
  T.SetScrollBack(-1);
  EXPECT_EQ(T.ScrollBack(), 0);
  T.SetColor(16, Qt::red);  // no such colour: ignored
  EXPECT_EQ(T.Settings().Colors, TComTermSettings::DefaultTermColors());
}

// -- the settings dialog ----------------------------------------------------------

TComTermSettings Changed() {
  TComTermSettings s;
  s.Emulation = teVT52;
  s.Columns = 132;
  s.Rows = 40;
  s.LocalEcho = true;
  s.SendLF = true;
  s.AppendLF = true;
  s.Force7Bit = true;
  s.WrapLines = false;
  s.ScrollBack = 5000;
  s.Charset = tcLatin1;
  s.BackspaceDel = false;
  s.Font = QFont("DejaVu Sans Mono", 13);
  s.Colors[3] = QColor(1, 2, 3);
  s.CursorShape = tsBar;
  s.CursorBlink = false;
  return s;
}

// What the operator does in the form: every box, the font and colour pickers.
void Fill(TComTermSetupFrm& f, const TComTermSettings& s) {
  ASSERT_TRUE(cport::test::PickEntry(f.EmulationCombo, "VT52"));
  ASSERT_TRUE(cport::test::PickEntry(f.CharsetCombo, "Latin-1"));
  f.ColumnsSpin->setValue(s.Columns);
  f.RowsSpin->setValue(s.Rows);
  f.ScrollBackSpin->setValue(s.ScrollBack);
  for (QCheckBox* c : {f.LocalEchoCheck, f.SendLFCheck, f.AppendLFCheck, f.Force7BitCheck, f.WrapLinesCheck,
                       f.BackspaceDelCheck, f.CursorBlinkCheck})
    c->click();
  f.CursorCombo->setCurrentIndex(f.CursorCombo->findData(tsBar));
  f.SetChosenFont(s.Font);
  f.SetChosenColor(3, s.Colors[3]);
}

class TermDialog : public ::testing::Test {
 protected:
  TComTerminal T;
};

TEST_F(TermDialog, OkAppliesEverySetting) {
  const TComTermSettings want = Changed();
  WhenShown<TComTermSetupFrm>([&](TComTermSetupFrm& f) {
    Fill(f, want);
    f.OKButton->click();
  });
  EXPECT_TRUE(T.ShowSetupDialog());
  EXPECT_EQ(T.Settings(), want);
  EXPECT_EQ(T.Emulator().Columns(), 132);
  EXPECT_EQ(T.Emulator().Emulation(), teVT52);
  EXPECT_TRUE(T.Emulator().Force7Bit());
  EXPECT_FALSE(T.Emulator().WrapLines());
}

TEST_F(TermDialog, CancelOrClosingChangesNothing) {
  const TComTermSettings before = T.Settings();
  for (bool close : {false, true}) {
    WhenShown<TComTermSetupFrm>([&](TComTermSetupFrm& f) {
      Fill(f, Changed());
      close ? (void)f.close() : f.CancelButton->click();
    });
    EXPECT_FALSE(T.ShowSetupDialog());
    EXPECT_EQ(T.Settings(), before);
  }
}

TEST_F(TermDialog, OpensShowingTheControlsSettings) {
  TComTermSettings s = Changed();
  T.SetSettings(s);
  TComTermSettings shown;
  WhenShown<TComTermSetupFrm>([&](TComTermSetupFrm& f) {
    shown = f.Settings();
    f.OKButton->click();
  });
  T.ShowSetupDialog();
  EXPECT_EQ(shown, s);
  EXPECT_EQ(T.Settings(), s);
}

}  // namespace

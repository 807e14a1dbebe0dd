// SPDX-License-Identifier: MIT
// The terminal control's input: keys to the port, selection with the mouse,
// the clipboard, scrolling back and the context menu.
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <functional>

#include "CPortTerm.h"
#include "Translation.h"

#define N_(text) text

namespace cport {

namespace {

QString Tr(const char* text) { return QString::fromUtf8(translation::Lookup("cport", text)); }

bool IsWordChar(char32_t ch) { return ch != U' ' && ch != 0; }

}  // namespace

// -- keys ----------------------------------------------------------------------

TVtKeyModes TComTerminal::KeyModes() const {
  TVtKeyModes m = FEmu->KeyModes();
  m.SendLF = FSettings.SendLF;
  m.BackspaceDel = FSettings.BackspaceDel;
  m.Charset = FSettings.Charset;
  return m;
}

bool TComTerminal::ToVtKey(QKeyEvent* event, TVtKeyPress& key) const {
  const Qt::KeyboardModifiers mods = event->modifiers();
  const bool keypad = mods & Qt::KeypadModifier;
  const int k = event->key();
  if (keypad) {
    static constexpr std::pair<int, TVtKey> kPad[] = {
        {Qt::Key_0, vkKp0},         {Qt::Key_1, vkKp1},          {Qt::Key_2, vkKp2},
        {Qt::Key_3, vkKp3},         {Qt::Key_4, vkKp4},          {Qt::Key_5, vkKp5},
        {Qt::Key_6, vkKp6},         {Qt::Key_7, vkKp7},          {Qt::Key_8, vkKp8},
        {Qt::Key_9, vkKp9},         {Qt::Key_Minus, vkKpMinus},  {Qt::Key_Comma, vkKpComma},
        {Qt::Key_Period, vkKpPeriod}, {Qt::Key_Enter, vkKpEnter}, {Qt::Key_Plus, vkKpPlus},
        {Qt::Key_Asterisk, vkKpMultiply}, {Qt::Key_Slash, vkKpDivide}};
    for (const auto& [qt, vt] : kPad)
      if (k == qt) {
        key.Key = vt;
        return true;
      }
  }
  static constexpr std::pair<int, TVtKey> kKeys[] = {
      {Qt::Key_Return, vkReturn}, {Qt::Key_Enter, vkReturn},   {Qt::Key_Backspace, vkBackspace},
      {Qt::Key_Tab, vkTab},       {Qt::Key_Escape, vkEscape},  {Qt::Key_Up, vkUp},
      {Qt::Key_Down, vkDown},     {Qt::Key_Right, vkRight},    {Qt::Key_Left, vkLeft},
      {Qt::Key_Home, vkHome},     {Qt::Key_End, vkEnd},        {Qt::Key_PageUp, vkPageUp},
      {Qt::Key_PageDown, vkPageDown}, {Qt::Key_Insert, vkInsert}, {Qt::Key_Delete, vkDelete},
      {Qt::Key_F1, vkF1},         {Qt::Key_F2, vkF2},          {Qt::Key_F3, vkF3},
      {Qt::Key_F4, vkF4}};
  for (const auto& [qt, vt] : kKeys)
    if (k == qt) {
      key.Key = vt;
      return true;
    }
  if (mods & Qt::ControlModifier) {
    if (k >= Qt::Key_A && k <= Qt::Key_Z) {
      key.Text = std::string(1, static_cast<char>('a' + (k - Qt::Key_A)));
      key.Ctrl = true;
      return true;
    }
    // The other control characters keyboards reach with Ctrl.
    static constexpr std::pair<int, char> kCtrl[] = {
        {Qt::Key_Space, 0x00},       {Qt::Key_At, 0x00},          {Qt::Key_2, 0x00},
        {Qt::Key_BracketLeft, 0x1b}, {Qt::Key_Backslash, 0x1c},   {Qt::Key_BracketRight, 0x1d},
        {Qt::Key_AsciiCircum, 0x1e}, {Qt::Key_6, 0x1e},           {Qt::Key_Underscore, 0x1f},
        {Qt::Key_Minus, 0x1f},       {Qt::Key_Question, 0x7f}};
    for (const auto& [qt, c] : kCtrl)
      if (k == qt) {
        key.Text = std::string(1, c);
        return true;
      }
    return false;
  }
  const QString text = event->text();
  if (text.isEmpty() || text.at(0).unicode() < 0x20 || text.at(0).unicode() == 0x7f) return false;
  key.Text = text.toStdString();
  return true;
}

bool TComTerminal::HandleLocalKey(QKeyEvent* event, bool act) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  const int k = event->key();
  const int page = FEmu->Rows();
  std::function<void()> action;
  if (mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
    if (k == Qt::Key_C) action = [this] { CopySelection(); };
    if (k == Qt::Key_V) action = [this] { Paste(); };
  } else if (mods == Qt::ShiftModifier) {
    switch (k) {
      case Qt::Key_PageUp: action = [this, page] { ScrollBy(page); }; break;
      case Qt::Key_PageDown: action = [this, page] { ScrollBy(-page); }; break;
      case Qt::Key_Home: action = [this] { SetScrollPosition(FEmu->ScrollbackCount()); }; break;
      case Qt::Key_End: action = [this] { SetScrollPosition(0); }; break;
      case Qt::Key_Insert: action = [this] { Paste(); }; break;
      default: break;
    }
  }
  if (action && act) action();
  return static_cast<bool>(action);
}

void TComTerminal::keyPressEvent(QKeyEvent* event) {
  if (HandleLocalKey(event, true)) return;
  TVtKeyPress key;
  if (!ToVtKey(event, key)) {
    QWidget::keyPressEvent(event);
    return;
  }
  std::string bytes = VtKeyBytes(key, KeyModes());
  if (bytes.empty()) {
    QWidget::keyPressEvent(event);
    return;
  }
  // Alt (Meta on some keyboards) with a character sends ESC before it, as
  // programs on the far side expect of a terminal.
  if (key.Key == vkNone && !key.Ctrl && (event->modifiers() & Qt::AltModifier)) bytes.insert(0, 1, '\x1b');
  TypeBytes(bytes);
}

bool TComTerminal::focusNextPrevChild(bool) { return false; }  // Tab belongs to the far side

bool TComTerminal::event(QEvent* event) {
  // The control's own keys, and keys the far side gets (Ctrl+C among them)
  // while there is a line to send them on, win over the window's shortcuts
  // while the control has the focus.
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    TVtKeyPress press;
    if (HandleLocalKey(key, false) ||
        (Connected() && ToVtKey(key, press) && !VtKeyBytes(press, KeyModes()).empty())) {
      event->accept();
      return true;
    }
  }
  return QWidget::event(event);
}

void TComTerminal::inputMethodEvent(QInputMethodEvent* event) {
  // Composed characters (dead keys, input methods) arrive here.
  if (!event->commitString().isEmpty()) {
    TVtKeyPress key;
    key.Text = event->commitString().toStdString();
    TypeBytes(VtKeyBytes(key, KeyModes()));
  }
  event->accept();
}

QVariant TComTerminal::inputMethodQuery(Qt::InputMethodQuery query) const {
  if (query == Qt::ImCursorRectangle) return CellRect(FEmu->CursorRow() + FScrollOffset, FEmu->CursorColumn());
  if (query == Qt::ImFont) return FSettings.Font;
  return QWidget::inputMethodQuery(query);
}

void TComTerminal::TypeBytes(const std::string& bytes) {
  if (!Connected() || bytes.empty()) return;
  SetScrollPosition(0);  // what is typed is seen
  FBlinkOn = true;
  Send(bytes);
  if (FSettings.LocalEcho) {
    FEmu->Feed(bytes);
    SendAnswers();
  }
  ScheduleFlush();
}

// -- clipboard ---------------------------------------------------------------------

void TComTerminal::CopySelection() {
  if (!HasSelection()) return;
  QApplication::clipboard()->setText(SelectedText(), QClipboard::Clipboard);
}

void TComTerminal::Paste() { PasteText(QApplication::clipboard()->text(QClipboard::Clipboard)); }

void TComTerminal::PasteText(const QString& text) {
  if (!Connected() || text.isEmpty()) return;
  // Any line end (CR LF, LF, CR) goes as Return would.
  QString lines = text;
  lines.replace(QLatin1String("\r\n"), QLatin1String("\r")).replace(QLatin1Char('\n'), QLatin1Char('\r'));
  const TVtKeyModes modes = KeyModes();
  TVtKeyPress ret;
  ret.Key = vkReturn;
  const std::string newline = VtKeyBytes(ret, modes);
  std::string bytes;
  const QStringList parts = lines.split(QLatin1Char('\r'));
  for (qsizetype i = 0; i < parts.size(); ++i) {
    if (i > 0) bytes += newline;
    if (parts[i].isEmpty()) continue;
    TVtKeyPress piece;
    piece.Text = parts[i].toStdString();
    bytes += VtKeyBytes(piece, modes);
  }
  TypeBytes(bytes);
}

// -- selection -----------------------------------------------------------------------

TComTerminal::TCellPos TComTerminal::CellAt(const QPoint& pos) const {
  const QRect screen = ScreenRect();
  const int row = std::clamp((pos.y() - screen.top()) / FCellHeight, 0, FEmu->Rows() - 1);
  // Between cells: the boundary nearest to the pointer.
  const int column = std::clamp((pos.x() - screen.left() + FCellWidth / 2) / FCellWidth, 0, FEmu->Columns());
  return {FDropped + FirstViewLine() + row, column};
}

bool TComTerminal::Selected(int64_t line, int column) const {
  if (!HasSelection()) return false;
  const TCellPos at{line, column};
  return at >= std::min(FSelAnchor, FSelEnd) && at < std::max(FSelAnchor, FSelEnd);
}

void TComTerminal::SetSelection(TCellPos anchor, TCellPos end) {
  if (anchor == FSelAnchor && end == FSelEnd) return;
  FSelAnchor = anchor;
  FSelEnd = end;
  update();
}

void TComTerminal::ClearSelection() {
  FSelecting = false;
  SetSelection({}, {});
}

void TComTerminal::SelectAll() {
  SetSelection({FDropped, 0}, {FDropped + FEmu->LineCount() - 1, FEmu->Columns()});
}

QString TComTerminal::SelectedText() const {
  if (!HasSelection()) return {};
  const TCellPos from = std::min(FSelAnchor, FSelEnd), to = std::max(FSelAnchor, FSelEnd);
  const int last = FEmu->LineCount() - 1;
  const auto index = [&](int64_t line) { return static_cast<int>(std::clamp<int64_t>(line - FDropped, 0, last)); };
  return QString::fromStdString(FEmu->Text(index(from.Line), from.Column, index(to.Line), to.Column));
}

void TComTerminal::SelectWord(TCellPos at) {
  const int index = static_cast<int>(at.Line - FDropped);
  if (index < 0 || index >= FEmu->LineCount()) return;
  const auto& cells = FEmu->Line(index).Cells;
  const int n = static_cast<int>(cells.size());
  int from = std::min(at.Column, n - 1), to = from;
  if (from < 0 || !IsWordChar(cells[static_cast<size_t>(from)].Ch)) return;
  while (from > 0 && IsWordChar(cells[static_cast<size_t>(from - 1)].Ch)) --from;
  while (to < n && IsWordChar(cells[static_cast<size_t>(to)].Ch)) ++to;
  SetSelection({at.Line, from}, {at.Line, to});
}

void TComTerminal::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() == Qt::LeftButton) {
    const TCellPos at = CellAt(event->position().toPoint());
    FSelecting = true;
    SetSelection(at, at);
  } else if (event->button() == Qt::MiddleButton) {
    QClipboard* clip = QApplication::clipboard();
    PasteText(clip->text(clip->supportsSelection() ? QClipboard::Selection : QClipboard::Clipboard));
  }
}

void TComTerminal::mouseMoveEvent(QMouseEvent* event) {
  if (!FSelecting || !(event->buttons() & Qt::LeftButton)) return;
  SetSelection(FSelAnchor, CellAt(event->position().toPoint()));
}

void TComTerminal::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !FSelecting) return;
  SetSelection(FSelAnchor, CellAt(event->position().toPoint()));
  FSelecting = false;
  QClipboard* clip = QApplication::clipboard();
  if (HasSelection() && clip->supportsSelection()) clip->setText(SelectedText(), QClipboard::Selection);
}

void TComTerminal::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QRect screen = ScreenRect();
  const QPoint pos = event->position().toPoint();
  // The cell under the pointer, not the boundary nearest to it.
  TCellPos at = CellAt(pos);
  at.Column = std::clamp((pos.x() - screen.left()) / FCellWidth, 0, FEmu->Columns() - 1);
  SelectWord(at);
  FSelecting = false;
  QClipboard* clip = QApplication::clipboard();
  if (HasSelection() && clip->supportsSelection()) clip->setText(SelectedText(), QClipboard::Selection);
}

// -- scrolling back --------------------------------------------------------------------

void TComTerminal::ScrollBy(int lines) { SetScrollPosition(FScrollOffset + lines); }

void TComTerminal::wheelEvent(QWheelEvent* event) {
  const int steps = event->angleDelta().y() / 40;  // three lines a notch
  if (steps != 0) ScrollBy(steps);
  event->accept();
}

// -- context menu ------------------------------------------------------------------------

void TComTerminal::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(Tr(N_("Copy")), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), this,
                                 &TComTerminal::CopySelection);
  copy->setEnabled(HasSelection());
  QAction* paste = menu.addAction(Tr(N_("Paste")), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), this,
                                  &TComTerminal::Paste);
  paste->setEnabled(Connected() && !QApplication::clipboard()->text().isEmpty());
  menu.addAction(Tr(N_("Select all")), this, &TComTerminal::SelectAll);
  menu.addSeparator();
  menu.addAction(Tr(N_("Clear")), this, &TComTerminal::Clear);
  menu.addAction(Tr(N_("Settings...")), this, &TComTerminal::ShowSetupDialog);
  menu.exec(event->globalPos());
}

}  // namespace cport

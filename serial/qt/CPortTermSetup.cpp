// SPDX-License-Identifier: MIT
#include "CPortTermSetup.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <memory>

#include "CPortSetup.h"
#include "Translation.h"

// Marks a text that the form passes through the catalog once it is built;
// the catalog check collects every text so marked.
#define N_(text) text

namespace cport {

namespace {

QString Tr(const char* text) { return QString::fromUtf8(translation::Lookup("cport", text)); }

QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* title, QRect place) {
  auto* g = new QGroupBox(QString::fromUtf8(title), parent);
  g->setObjectName(name);
  g->setGeometry(place);
  return g;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  l->setObjectName(name);
  l->move(left, top);
  return l;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* text, int top) {
  auto* c = new QCheckBox(QString::fromUtf8(text), parent);
  c->setObjectName(name);
  c->setGeometry(8, top, parent->width() - 16, 19);
  return c;
}

QSpinBox* MakeSpin(QWidget* parent, const char* name, int top, int low, int high) {
  auto* s = new QSpinBox(parent);
  s->setObjectName(name);
  s->setGeometry(150, top, 82, 21);
  s->setRange(low, high);
  return s;
}

// The items' texts that speak the user's language are translated as the
// list is filled; each item's data is the value it stands for.
QComboBox* MakeCombo(QWidget* parent, const char* name, QRect place,
                     std::initializer_list<std::pair<const char*, int>> items, bool translate) {
  auto* c = new QComboBox(parent);
  c->setObjectName(name);
  c->setGeometry(place);
  for (const auto& [text, value] : items) c->addItem(translate ? Tr(text) : QString::fromUtf8(text), value);
  return c;
}

void SelectData(QComboBox* box, int value) { box->setCurrentIndex(std::max(0, box->findData(value))); }

QIcon Swatch(const QColor& color) {
  QPixmap pm(14, 14);
  pm.fill(color);
  QPainter p(&pm);
  p.setPen(Qt::darkGray);
  p.drawRect(0, 0, 13, 13);
  return QIcon(pm);
}

}  // namespace

TComTermSetupFrm::TComTermSetupFrm(QWidget* parent) : QDialog(parent) {
  InitPortErrorTexts();  // binds the catalog domain before the lists are filled
  setObjectName("ComTermSetupFrm");
  setWindowTitle(N_("Terminal settings"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  QFont f("MS Sans Serif");
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(11);
  setFont(f);
  setFixedSize(504, 305);

  EmulationGroup = MakeGroup(this, "EmulationGroup", N_("Emulation"), {8, 8, 240, 122});
  EmulationLabel = MakeLabel(EmulationGroup, "EmulationLabel", N_("Terminal"), 8, 24);
  EmulationCombo = MakeCombo(EmulationGroup, "EmulationCombo", {110, 20, 122, 21},
                             {{"VT100", teVT100}, {"VT52", teVT52}, {N_("None"), teNone}}, true);
  CharsetLabel = MakeLabel(EmulationGroup, "CharsetLabel", N_("Character set"), 8, 50);
  CharsetCombo = MakeCombo(EmulationGroup, "CharsetCombo", {110, 46, 122, 21},
                           {{"UTF-8", tcUTF8}, {"Latin-1", tcLatin1}}, false);
  Force7BitCheck = MakeCheck(EmulationGroup, "Force7BitCheck", N_("Strip the eighth bit"), 74);
  AppendLFCheck = MakeCheck(EmulationGroup, "AppendLFCheck", N_("Add LF to each received CR"), 96);

  ScreenGroup = MakeGroup(this, "ScreenGroup", N_("Screen"), {8, 138, 240, 124});
  ColumnsLabel = MakeLabel(ScreenGroup, "ColumnsLabel", N_("Columns"), 8, 24);
  ColumnsSpin = MakeSpin(ScreenGroup, "ColumnsSpin", 20, TermMinColumns, TermMaxColumns);
  RowsLabel = MakeLabel(ScreenGroup, "RowsLabel", N_("Rows"), 8, 50);
  RowsSpin = MakeSpin(ScreenGroup, "RowsSpin", 46, TermMinRows, TermMaxRows);
  ScrollBackLabel = MakeLabel(ScreenGroup, "ScrollBackLabel", N_("Scrollback lines"), 8, 76);
  ScrollBackSpin = MakeSpin(ScreenGroup, "ScrollBackSpin", 72, 0, TermMaxScrollBack);
  WrapLinesCheck = MakeCheck(ScreenGroup, "WrapLinesCheck", N_("Wrap long lines"), 100);

  KeyboardGroup = MakeGroup(this, "KeyboardGroup", N_("Keyboard"), {256, 8, 240, 92});
  LocalEchoCheck = MakeCheck(KeyboardGroup, "LocalEchoCheck", N_("Local echo"), 22);
  SendLFCheck = MakeCheck(KeyboardGroup, "SendLFCheck", N_("Return sends CR LF"), 44);
  BackspaceDelCheck = MakeCheck(KeyboardGroup, "BackspaceDelCheck", N_("Backspace sends DEL"), 66);

  DisplayGroup = MakeGroup(this, "DisplayGroup", N_("Display"), {256, 108, 240, 154});
  FontLabel = MakeLabel(DisplayGroup, "FontLabel", N_("Font"), 8, 24);
  FontButton = new QPushButton(DisplayGroup);
  FontButton->setObjectName("FontButton");
  FontButton->setGeometry(70, 19, 162, 23);
  connect(FontButton, &QPushButton::clicked, this, &TComTermSetupFrm::PickFont);
  CursorLabel = MakeLabel(DisplayGroup, "CursorLabel", N_("Cursor"), 8, 52);
  CursorCombo = MakeCombo(DisplayGroup, "CursorCombo", {70, 48, 100, 21},
                          {{N_("Block"), tsBlock}, {N_("Underline"), tsUnderline}, {N_("Bar"), tsBar}}, true);
  CursorBlinkCheck = MakeCheck(DisplayGroup, "CursorBlinkCheck", N_("Blinking cursor"), 74);
  ColorsLabel = MakeLabel(DisplayGroup, "ColorsLabel", N_("Colours"), 8, 104);
  for (int i = 0; i < 16; ++i) {
    auto* b = new QToolButton(DisplayGroup);
    b->setObjectName(QStringLiteral("ColorButton%1").arg(i));
    // The normal colours above, their bright forms below.
    b->setGeometry(70 + (i % 8) * 20, 100 + (i / 8) * 22, 20, 20);
    connect(b, &QToolButton::clicked, this, [this, i] { PickColor(i); });
    ColorButtons[static_cast<size_t>(i)] = b;
  }

  OKButton = new QPushButton(N_("OK"), this);
  OKButton->setObjectName("OKButton");
  OKButton->setGeometry(340, 272, 75, 25);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  CancelButton = new QPushButton(N_("Cancel"), this);
  CancelButton->setObjectName("CancelButton");
  CancelButton->setGeometry(421, 272, 75, 25);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

  FormCreate();
  for (QLabel* l : findChildren<QLabel*>()) l->adjustSize();
  Load(TComTermSettings());
}

void TComTermSetupFrm::FormCreate() {
  // The font button shows a font's name, no text of ours.
  TranslateForm(this, "cport", {"FontButton"});
}

void TComTermSetupFrm::Load(const TComTermSettings& s) {
  SelectData(EmulationCombo, s.Emulation);
  SelectData(CharsetCombo, s.Charset);
  Force7BitCheck->setChecked(s.Force7Bit);
  AppendLFCheck->setChecked(s.AppendLF);
  ColumnsSpin->setValue(s.Columns);
  RowsSpin->setValue(s.Rows);
  ScrollBackSpin->setValue(s.ScrollBack);
  WrapLinesCheck->setChecked(s.WrapLines);
  LocalEchoCheck->setChecked(s.LocalEcho);
  SendLFCheck->setChecked(s.SendLF);
  BackspaceDelCheck->setChecked(s.BackspaceDel);
  SelectData(CursorCombo, s.CursorShape);
  CursorBlinkCheck->setChecked(s.CursorBlink);
  SetChosenFont(s.Font);
  for (int i = 0; i < 16; ++i) SetChosenColor(i, s.Colors[static_cast<size_t>(i)]);
}

TComTermSettings TComTermSetupFrm::Settings() const {
  TComTermSettings s;
  s.Emulation = static_cast<TTermEmulation>(EmulationCombo->currentData().toInt());
  s.Charset = static_cast<TTermCharset>(CharsetCombo->currentData().toInt());
  s.Force7Bit = Force7BitCheck->isChecked();
  s.AppendLF = AppendLFCheck->isChecked();
  s.Columns = ColumnsSpin->value();
  s.Rows = RowsSpin->value();
  s.ScrollBack = ScrollBackSpin->value();
  s.WrapLines = WrapLinesCheck->isChecked();
  s.LocalEcho = LocalEchoCheck->isChecked();
  s.SendLF = SendLFCheck->isChecked();
  s.BackspaceDel = BackspaceDelCheck->isChecked();
  s.CursorShape = static_cast<TTermCursorShape>(CursorCombo->currentData().toInt());
  s.CursorBlink = CursorBlinkCheck->isChecked();
  s.Font = FFont;
  s.Colors = FColors;
  return s;
}

void TComTermSetupFrm::SetChosenFont(const QFont& font) {
  FFont = font;
  // The family the font resolves to, not an alias such as "monospace".
  const QString name = QStringLiteral("%1 %2").arg(QFontInfo(font).family()).arg(font.pointSize() > 0 ? font.pointSize() : font.pixelSize());
  const int room = FontButton->width() - 12;
  FontButton->setText(FontButton->fontMetrics().elidedText(name, Qt::ElideMiddle, room));
  FontButton->setToolTip(name);
}

void TComTermSetupFrm::SetChosenColor(int index, const QColor& color) {
  if (index < 0 || index >= 16 || !color.isValid()) return;
  FColors[static_cast<size_t>(index)] = color;
  ColorButtons[static_cast<size_t>(index)]->setIcon(Swatch(color));
  ColorButtons[static_cast<size_t>(index)]->setToolTip(color.name());
}

void TComTermSetupFrm::PickFont() {
  bool ok = false;
  const QFont font = QFontDialog::getFont(&ok, FFont, this, Tr(N_("Font")), QFontDialog::MonospacedFonts);
  if (ok) SetChosenFont(font);
}

void TComTermSetupFrm::PickColor(int index) {
  const QColor color = QColorDialog::getColor(FColors[static_cast<size_t>(index)], this, Tr(N_("Colours")));
  if (color.isValid()) SetChosenColor(index, color);
}

bool EditComTerminal(TComTerminal& terminal) {
  // Over the window that holds the control.
  auto form = std::make_unique<TComTermSetupFrm>(terminal.window());
  form->Load(terminal.Settings());
  if (form->exec() != QDialog::Accepted) return false;
  terminal.SetSettings(form->Settings());
  return true;
}

}  // namespace cport

// SPDX-License-Identifier: MIT
// The terminal control's settings dialog: emulation, screen, keyboard and
// display settings of one control, applied together when the operator
// confirms.  Built and translated like the port setup dialog; GUI thread
// only.
#pragma once

#include <QDialog>
#include <array>

#include "CPortTerm.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace cport {

class TComTermSetupFrm : public QDialog {
  Q_OBJECT
 public:
  explicit TComTermSetupFrm(QWidget* parent = nullptr);

  // Shows these settings.
  void Load(const TComTermSettings& settings);
  // The settings as the form holds them now.
  TComTermSettings Settings() const;
  // What the font and colour pickers do once the operator has chosen.
  void SetChosenFont(const QFont& font);
  void SetChosenColor(int index, const QColor& color);

  QGroupBox* EmulationGroup;
  QLabel* EmulationLabel;
  QComboBox* EmulationCombo;  // VT100, VT52, none
  QLabel* CharsetLabel;
  QComboBox* CharsetCombo;  // UTF-8, Latin-1
  QCheckBox* Force7BitCheck;
  QCheckBox* AppendLFCheck;

  QGroupBox* ScreenGroup;
  QLabel* ColumnsLabel;
  QSpinBox* ColumnsSpin;
  QLabel* RowsLabel;
  QSpinBox* RowsSpin;
  QLabel* ScrollBackLabel;
  QSpinBox* ScrollBackSpin;
  QCheckBox* WrapLinesCheck;

  QGroupBox* KeyboardGroup;
  QCheckBox* LocalEchoCheck;
  QCheckBox* SendLFCheck;
  QCheckBox* BackspaceDelCheck;

  QGroupBox* DisplayGroup;
  QLabel* FontLabel;
  QPushButton* FontButton;  // shows the font's name; opens the font picker
  QLabel* CursorLabel;
  QComboBox* CursorCombo;  // block, underline, bar
  QCheckBox* CursorBlinkCheck;
  QLabel* ColorsLabel;
  std::array<QToolButton*, 16> ColorButtons;  // each opens the colour picker

  QPushButton* OKButton;
  QPushButton* CancelButton;

 private:
  void FormCreate();
  void PickFont();
  void PickColor(int index);

  QFont FFont;
  std::array<QColor, 16> FColors;
};

// Shows the dialog for the control and, on OK, applies every setting to it;
// true when the operator confirmed.
bool EditComTerminal(TComTerminal& terminal);

}  // namespace cport

// SPDX-License-Identifier: MIT
// The port setup dialog: port name, baud rate, data bits, stop bits, parity
// and flow control for one port, applied in one batch when the operator
// confirms.  Qt part of the serial component; GUI thread only.
#pragma once

#include <QDialog>

#include "CPort.h"
#include "CPortCtl.h"

class QGroupBox;
class QLabel;
class QPushButton;

namespace cport {

class TComSetupFrm : public QDialog {
  Q_OBJECT
 public:
  // portSource: where the names of the present ports come from (the
  // platform's driver unless given).
  explicit TComSetupFrm(QWidget* parent = nullptr, TComDriver* portSource = nullptr);

  QGroupBox* GroupBox1;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  TComComboBox* Combo1;
  TComComboBox* Combo2;
  TComComboBox* Combo3;
  TComComboBox* Combo4;
  TComComboBox* Combo5;
  TComComboBox* Combo6;
  QPushButton* Button1;
  QPushButton* Button2;

  // The six selectors in the order they are bound and applied.
  TComComboBox* Selector(int i) const;

 private:
  void FormCreate();
};

// Shows the dialog for the port and, on OK, applies the choices to it in one
// batch.  Failures while applying pass to the caller; the batch is closed
// regardless.
void EditComPort(TCustomComPort& port);

// Passes the form's texts (caption, labels, group boxes, buttons) through
// the message catalog domain, leaving widgets whose names are listed (any
// letter case) as they are.
void TranslateForm(QWidget* form, const char* domain, const QStringList& ignore);

}  // namespace cport

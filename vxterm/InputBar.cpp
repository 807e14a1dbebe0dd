// SPDX-License-Identifier: MIT
#include "InputBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Texts.h"

namespace vxterm {

TInputBar::TInputBar(QWidget* parent)
    : QWidget(parent),
      FEdit(new QLineEdit(this)),
      FEnding(new QComboBox(this)),
      FHex(new QCheckBox(QTr("Hex input"), this)),
      FSend(new QPushButton(QTr("Send"), this)),
      FError(new QLabel(this)) {
  FEdit->setObjectName("InputLine");
  FEdit->setPlaceholderText(QTr("A line to send; Return sends it"));
  FEdit->installEventFilter(this);
  // In the order of ELineEnding.
  FEnding->addItems({QTr("No line end"), QTr("CR"), QTr("LF"), QTr("CR LF")});
  FEnding->setToolTip(QTr("What follows each line sent"));
  FHex->setToolTip(QTr("The line holds hex bytes, such as 23 30 35 3F 0D, sent as they are"));
  FError->setStyleSheet("color: #c00000");
  FError->hide();
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(FEdit, 1);
  layout->addWidget(FError);
  layout->addWidget(FEnding);
  layout->addWidget(FHex);
  layout->addWidget(FSend);
  connect(FEdit, &QLineEdit::returnPressed, this, &TInputBar::Submit);
  connect(FSend, &QPushButton::clicked, this, &TInputBar::Submit);
  connect(FEdit, &QLineEdit::textEdited, FError, &QLabel::hide);
  connect(FHex, &QCheckBox::toggled, this, [this](bool on) {
    FEnding->setEnabled(!on);  // hex input sends exactly its bytes
    FError->hide();
  });
  SetEnding(ELineEnding::CR);
}

ELineEnding TInputBar::Ending() const { return static_cast<ELineEnding>(FEnding->currentIndex()); }
void TInputBar::SetEnding(ELineEnding value) { FEnding->setCurrentIndex(static_cast<int>(value)); }
bool TInputBar::HexInput() const { return FHex->isChecked(); }
void TInputBar::SetHexInput(bool on) { FHex->setChecked(on); }

void TInputBar::Submit() {
  const QString line = FEdit->text();
  const TEncodedLine e = HexInput() ? EncodeHex(line) : EncodeText(line, Ending(), FCharset);
  if (!e.Ok()) {
    FError->setText(e.Error);
    FError->show();
    return;
  }
  FError->hide();
  FHistory.Add(line);
  FEdit->clear();
  if (!e.Bytes.empty()) emit Send(e.Bytes, line);
}

bool TInputBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FEdit && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      const auto line = key == Qt::Key_Up ? FHistory.Older(FEdit->text()) : FHistory.Newer();
      if (line) FEdit->setText(*line);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace vxterm

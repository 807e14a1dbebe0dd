// SPDX-License-Identifier: MIT
// The input line under the terminal, for line-input mode: Return sends the
// line with the chosen ending (or, in hex, the bytes it names), Up and Down
// walk the history.  A line that cannot be sent stays for correcting, with
// the reason beside it.
#pragma once

#include <QWidget>

#include <string>

#include "LineInput.h"
#include "Settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vxterm {

class TInputBar : public QWidget {
  Q_OBJECT
 public:
  explicit TInputBar(QWidget* parent = nullptr);

  ELineEnding Ending() const;
  void SetEnding(ELineEnding value);
  bool HexInput() const;
  void SetHexInput(bool on);
  ECharset Charset() const { return FCharset; }
  void SetCharset(ECharset value) { FCharset = value; }
  THistory& History() { return FHistory; }
  QLineEdit* Edit() const { return FEdit; }

  // Sends what the line holds (Return does the same).
  void Submit();

 signals:
  // The bytes of a line that can be sent, and the line as typed; the input
  // line is then empty.
  void Send(const std::string& bytes, const QString& line);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* FEdit;
  QComboBox* FEnding;
  QCheckBox* FHex;
  QPushButton* FSend;
  QLabel* FError;
  THistory FHistory;
  ECharset FCharset = ECharset::Utf8;
};

}  // namespace vxterm

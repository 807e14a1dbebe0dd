// SPDX-License-Identifier: MIT
#include "StatusText.h"

#include <QLocale>

#include "Texts.h"

namespace vxterm {

QString FrameText(const TLineSettings& line) {
  static constexpr char kParity[] = {'N', 'O', 'E', 'M', 'S'};
  const char parity = line.Parity < sizeof kParity ? kParity[line.Parity] : '?';
  return QString::fromStdString(DataBitsName(line.DataBits)) + QChar(parity) +
         QString::fromStdString(StopBitsName(line.StopBits));
}

QString LineText(const TLineSettings& line) {
  QString flow;
  switch (line.Flow) {
    case cport::fcNone: flow = QTr("no flow control"); break;
    case cport::fcHardware: flow = QTr("hardware flow control"); break;
    case cport::fcSoftware: flow = QTr("software flow control"); break;
    case cport::fcCustom: flow = QTr("custom flow control"); break;
  }
  const QString port = line.Port.empty() ? QTr("no port chosen") : QString::fromStdString(line.Port);
  return QTr("%1 %2 %3, %4").arg(port).arg(line.Baud).arg(FrameText(line), flow);
}

QString StateText(EState state, const QString& port) {
  switch (state) {
    case EState::Connected: return QTr("connected");
    case EState::Disconnected: return QTr("disconnected");
    case EState::Waiting: return QTr("waiting for %1").arg(port);
  }
  return {};
}

QString CountsText(int64_t received, int64_t sent) {
  const QLocale locale;
  return QTr("received %1 B, sent %2 B").arg(locale.toString(static_cast<qlonglong>(received)),
                                              locale.toString(static_cast<qlonglong>(sent)));
}

}  // namespace vxterm

// SPDX-License-Identifier: MIT
// port-lamps: a small window on the serial port named on the command line:
// its baud rate as radio buttons (a pick applies at once) and lamps for
// receive, transmit, CTS and DSR.  A line typed at the bottom is sent with
// a carriage return; the bytes that arrive are counted.
//   port-lamps PORT [--hold MS]     e.g. port-lamps /dev/ttyUSB0
// --hold: how long a receive or transmit lamp stays lit after the last
// byte (default 100 ms).
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CPortCtl.h"
#include "CPortLed.h"

namespace {

// A failure raised inside a click (a rate the device refuses, a write that
// fails) ends up in the status line instead of ending the program.
class TApp : public QApplication {
 public:
  using QApplication::QApplication;
  QLabel* Status = nullptr;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      if (Status) Status->setText(QString::fromLocal8Bit(e.what()));
    }
    return false;
  }
};

int Usage(const char* why) {
  std::fprintf(stderr, "port-lamps: %s\nusage: port-lamps PORT [--hold MS]\n", why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  TApp app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  int hold = 100;
  if (args.size() == 3 && args[1] == "--hold") {
    bool ok = false;
    hold = args[2].toInt(&ok);
    if (!ok || hold < 0 || hold > 60000) return Usage("--hold wants milliseconds from 0 to 60000");
  } else if (args.size() != 1) {
    return Usage("name one port");
  }
  cport::InitPortErrorTexts();  // after Qt has set the locale
  // The port reports on this thread: its event thread asks the event loop.
  cport::SetWakeMainThread([] {
    QMetaObject::invokeMethod(qApp, [] { cport::CheckSynchronize(); }, Qt::QueuedConnection);
  });

  cport::TComPort port;  // 9600 8N1, no flow control
  port.SetPort(args[0].toStdString());

  QWidget window;
  window.setWindowTitle(QString("Port lamps: %1").arg(args[0]));
  auto* rates = new cport::TComRadioGroup("Baud rate");
  rates->SetColumns(4);
  rates->SetComProperty(cport::cpBaudRate);
  rates->SetComPort(&port);
  rates->SetAutoApply(true);

  auto* lamps = new QHBoxLayout;
  const std::pair<cport::TComLedSignal, const char*> lines[] = {
      {cport::lsRx, "Rx"}, {cport::lsTx, "Tx"}, {cport::lsCTS, "CTS"}, {cport::lsDSR, "DSR"}};
  for (const auto& [line, name] : lines) {
    auto* lamp = new cport::TComLed(line);
    lamp->SetHoldTime(hold);
    lamp->SetComPort(&port);
    lamps->addWidget(lamp);
    lamps->addWidget(new QLabel(name));
    lamps->addSpacing(12);
  }
  lamps->addStretch();

  auto* text = new QLineEdit;
  text->setPlaceholderText("Text to send");
  auto* send = new QPushButton("Send");
  auto* sending = new QHBoxLayout;
  sending->addWidget(text);
  sending->addWidget(send);
  auto* received = new QLabel("Received: 0 bytes");
  app.Status = new QLabel;
  app.Status->setWordWrap(true);

  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(rates);
  layout->addLayout(lamps);
  layout->addLayout(sending);
  layout->addWidget(received);
  layout->addWidget(app.Status);

  auto write = [&] {
    port.WriteStr(text->text().toStdString() + "\r");
    text->clear();
  };
  QObject::connect(send, &QPushButton::clicked, write);
  QObject::connect(text, &QLineEdit::returnPressed, write);
  long total = 0;
  port.OnRxChar = [&](cport::TCustomComPort* p, int32_t count) {
    std::string bytes;
    p->ReadStr(bytes, count);
    total += static_cast<long>(bytes.size());
    received->setText(QString("Received: %1 bytes").arg(total));
  };

  try {
    port.Open();
  } catch (const std::exception& e) {  // cport::EComPort: the text and the system's error number
    std::fprintf(stderr, "port-lamps: %s\n", e.what());
    return 1;
  }
  window.show();
  const int result = app.exec();
  // The window and the count go before the port, which may still report
  // while it closes.
  port.OnRxChar = nullptr;
  app.Status = nullptr;
  cport::SetWakeMainThread(nullptr);
  return result;
}

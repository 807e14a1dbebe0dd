// SPDX-License-Identifier: MIT
#include "CPortLed.h"

#include <QPainter>
#include <QRadialGradient>
#include <QThread>
#include <QTimerEvent>
#include <algorithm>

namespace cport {

TComLed::TComLed(QWidget* parent) : TComLed(lsConn, parent) {}

TComLed::TComLed(TComLedSignal signal, QWidget* parent) : QWidget(parent), FLedSignal(signal) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  auto state = [this](TComLedSignal line) {
    return [this, line](TCustomComPort*, bool on) { Hear(line, on ? TReport::On : TReport::Off); };
  };
  FLink.OnConn = state(lsConn);
  FLink.OnCTSChange = state(lsCTS);
  FLink.OnDSRChange = state(lsDSR);
  FLink.OnRLSDChange = state(lsRLSD);
  FLink.OnRx = state(lsRx);
  FLink.OnTx = state(lsTx);
  FLink.OnRing = [this](TCustomComPort*) { Hear(lsRing, TReport::On); };
  FLink.OnTxBuf = [this](TCustomComPort*, const void*, int32_t) { Hear(lsTx, TReport::TxDone); };
  // No bytes-received callback: the lamp must never take the bytes from
  // the port's readers.
}

TComLed::~TComLed() {
  if (FComPort) {
    FComPort->UnRegisterLink(&FLink);
    FComPort->RemoveFreeNotification(this);
  }
}

void TComLed::SetComPort(TCustomComPort* port) {
  if (port == FComPort) return;
  Unbind();
  if (!port) return;
  port->RegisterLink(&FLink);
  port->FreeNotification(this);
  FComPort = port;
  try {
    Show(PortState());
  } catch (...) {
    Show(false);
    throw;
  }
}

void TComLed::Unbind() {
  if (!FComPort) return;
  FComPort->UnRegisterLink(&FLink);
  FComPort->RemoveFreeNotification(this);
  FComPort = nullptr;
  FBusy = false;
  FHold.stop();
  Show(false);
}

void TComLed::FreeNotify(TComponent* component) {
  // The port has closed and reported so; only the link is left to undo.
  if (component == FComPort) Unbind();
}

void TComLed::SetLedSignal(TComLedSignal value) {
  if (value == FLedSignal) return;
  FLedSignal = value;
  FBusy = false;
  FHold.stop();
  if (FComPort) Show(PortState());
}

bool TComLed::PortState() const {
  if (!FComPort->Connected()) return false;
  switch (FLedSignal) {
    case lsConn: return true;
    case lsCTS: return FComPort->Signals().Contains(csCTS);
    case lsDSR: return FComPort->Signals().Contains(csDSR);
    case lsRLSD: return FComPort->Signals().Contains(csRLSD);
    case lsRing:
    case lsRx:
    case lsTx: break;  // events, not states: out until the next one
  }
  return false;
}

void TComLed::SetState(bool value) {
  if (FComPort) throw EComPort(CError_LedStateFailed);
  Show(value);
}

void TComLed::SetHoldTime(int ms) {
  FHoldTime = std::max(0, ms);
  if (FHold.isActive()) FHold.start(static_cast<int>(std::max<qint64>(0, FHoldTime - FSince.elapsed())), this);
}

void TComLed::Hear(TComLedSignal line, TReport report) {
  if (QThread::currentThread() == thread())
    Heard(line, report);
  else  // dropped should the lamp go first
    QMetaObject::invokeMethod(this, [this, line, report] { Heard(line, report); }, Qt::QueuedConnection);
}

void TComLed::Heard(TComLedSignal line, TReport report) {
  if (!FComPort) return;
  if (line == lsConn && report == TReport::Off) {
    // Closed: no line is up and nothing is under way any more.
    FBusy = false;
    FHold.stop();
    Show(false);
    return;
  }
  if (line != FLedSignal) return;
  switch (line) {
    case lsConn:
    case lsCTS:
    case lsDSR:
    case lsRLSD: Show(report == TReport::On); break;
    case lsRing:
    case lsRx:
      // Receiving off only says the queue was read empty: no activity.
      if (report == TReport::On) Flash();
      break;
    case lsTx:
      if (report == TReport::On) {
        FBusy = true;
        FHold.stop();
        Show(true);
      } else if (report == TReport::Off ||
                 !(FComPort->EventThreadCreated() && FComPort->Events().Contains(evTxEmpty))) {
        // The last byte left (or, where the port will not say so, the write
        // was handed on).
        FBusy = false;
        Flash();
      }
      break;
  }
}

void TComLed::Flash() {
  FSince.start();
  Show(true);
  // A running countdown looks at FSince when it ends, so a stream of
  // reports costs no timer restarts.
  if (!FBusy && !FHold.isActive()) FHold.start(FHoldTime, this);
}

void TComLed::timerEvent(QTimerEvent* event) {
  if (event->timerId() != FHold.timerId()) return QWidget::timerEvent(event);
  const qint64 left = FHoldTime - FSince.elapsed();
  if (left > 0) {
    FHold.start(static_cast<int>(left), this);
    return;
  }
  FHold.stop();
  Show(false);
}

void TComLed::Show(bool on) {
  if (on == FState) return;
  FState = on;
  update();
  emit StateChanged(on);
}

void TComLed::SetOnColor(const QColor& color) {
  FOnColor = color;
  update();
}

void TComLed::SetOffColor(const QColor& color) {
  FOffColor = color;
  update();
}

void TComLed::SetOnImage(const QPixmap& image) {
  FOnImage = image;
  update();
}

void TComLed::SetOffImage(const QPixmap& image) {
  FOffImage = image;
  update();
}

QSize TComLed::sizeHint() const {
  const int side = fontMetrics().height();
  return {side, side};
}

QSize TComLed::minimumSizeHint() const { return {8, 8}; }

void TComLed::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QPixmap& image = FState ? FOnImage : FOffImage;
  if (!image.isNull()) {
    QRect r(QPoint(), image.size().scaled(size(), Qt::KeepAspectRatio));
    r.moveCenter(rect().center());
    p.drawPixmap(r, image);
    return;
  }
  const qreal side = std::min(width(), height()) - 1.0;
  QRectF r(0, 0, side, side);
  r.moveCenter(QRectF(rect()).center());
  const QColor c = FState ? FOnColor : FOffColor;
  // Lit from the upper left, so on and off differ by more than hue alone.
  QRadialGradient glass(r.center() - QPointF(side / 5, side / 5), side * 0.7);
  glass.setColorAt(0, c.lighter(FState ? 170 : 130));
  glass.setColorAt(1, c);
  p.setBrush(glass);
  p.setPen(QPen(c.darker(220), 1));
  p.drawEllipse(r);
}

}  // namespace cport

// SPDX-License-Identifier: MIT
// A signal lamp that follows one line of a port: the connection, a modem
// line (CTS, DSR, RLSD), the ring indicator, or receive or transmit
// activity.  Qt part of the serial component.
//
// Bound to a port, the lamp shows what the port reports and cannot be set
// by hand (SetState raises EComPort code 19).  Lines that are states follow
// the port, including their state at open and their fall at close.  Ring
// and activity light on each report and stay lit for HoldTime after the last
// one, so a single byte is seen and a stream shows as one steady light; the
// transmit lamp also stays lit while the port reports a write under way.
// Unbound, the program sets the lamp freely.  StateChanged is signalled on
// every change.  Nothing is painted and no timer runs while the lamp is
// steady.
//
// GUI thread only.  A port that reports on another thread (smNone) has its
// reports handed over to the lamp's thread; bind and unbind such a port
// while it is closed.
#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QElapsedTimer>
#include <QPixmap>
#include <QWidget>

#include "CPort.h"

namespace cport {

enum TComLedSignal : uint8_t { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };

class TComLed : public QWidget, private IFreeNotification {
  Q_OBJECT
 public:
  explicit TComLed(QWidget* parent = nullptr);
  explicit TComLed(TComLedSignal signal, QWidget* parent = nullptr);
  ~TComLed() override;

  TCustomComPort* ComPort() const { return FComPort; }
  // Binding shows the line's present state (off while the port is closed);
  // unbinding puts the lamp out.  A failed line query while binding passes
  // to the caller with the lamp bound and out.
  void SetComPort(TCustomComPort* port);
  TComLedSignal LedSignal() const { return FLedSignal; }
  void SetLedSignal(TComLedSignal value);

  bool State() const { return FState; }
  // Refused with EComPort code 19 while a port is bound.
  void SetState(bool value);

  // Milliseconds a ring or activity lamp stays lit after the last report
  // (100 by default; below 0 counts as 0).  A change also applies to the
  // lamp lit now.
  int HoldTime() const { return FHoldTime; }
  void SetHoldTime(int ms);

  QColor OnColor() const { return FOnColor; }
  void SetOnColor(const QColor& color);
  QColor OffColor() const { return FOffColor; }
  void SetOffColor(const QColor& color);
  // Drawn instead of the coloured lamp when set (scaled to fit, keeping its
  // proportions); a null pixmap returns to the colour.
  QPixmap OnImage() const { return FOnImage; }
  void SetOnImage(const QPixmap& image);
  QPixmap OffImage() const { return FOffImage; }
  void SetOffImage(const QPixmap& image);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  void StateChanged(bool state);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  enum class TReport : uint8_t { On, Off, TxDone };
  void FreeNotify(TComponent* component) override;
  void Unbind();
  // The line's state as the port has it now.
  bool PortState() const;
  // A report from the port, on whichever thread the port reports.
  void Hear(TComLedSignal line, TReport report);
  void Heard(TComLedSignal line, TReport report);
  void Flash();
  void Show(bool on);

  TComLink FLink;
  TCustomComPort* FComPort = nullptr;
  TComLedSignal FLedSignal = lsConn;
  bool FState = false;
  bool FBusy = false;  // a write is under way: lit without counting down
  int FHoldTime = 100;
  QBasicTimer FHold;
  QElapsedTimer FSince;  // since the last report of a lit ring or activity lamp
  QColor FOnColor{0x24, 0xe0, 0x3c};
  QColor FOffColor{0x1c, 0x4a, 0x22};
  QPixmap FOnImage;
  QPixmap FOffImage;
};

}  // namespace cport

// SPDX-License-Identifier: MIT
// The control panel's main window: its controls, the setting slots, the
// polling cycle that talks to the generator, the operator's handlers and the
// stored port settings.
#pragma once

#include <QColor>
#include <QWidget>

#include <array>
#include <cstdint>
#include <string>

#include "CPort.h"
#include "Protocol.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QTabWidget;
class QTimer;

namespace vxpanel {

class TSettingsStore;

// A rectangle with a fill and a border, the status lamp.
class TShape : public QWidget {
 public:
  explicit TShape(QWidget* parent = nullptr);
  QColor BrushColor() const { return FBrush; }
  void SetBrushColor(const QColor& colour);
  QColor PenColor() const { return FPen; }
  int PenWidth() const { return FPenWidth; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor FBrush{128, 0, 128};
  QColor FPen{128, 128, 128};
  int FPenWidth = 3;
};

// One per track bar: the bar's position as last stored, and whether it still
// has to go to the generator.
struct TSettingSlot {
  int32_t Value = 0;
  bool Changed = false;
};

struct TSettingSlots {
  TSettingSlot TBfreq, TBpower, TBpwmp, TBpwmr, TBsweep, Tds, TBtrr, TBup;
};

class TMainForm : public QWidget {
 public:
  // driver: the serial driver for CP; nullptr for the platform's own.
  explicit TMainForm(cport::TComDriver* driver = nullptr, QWidget* parent = nullptr);
  ~TMainForm() override;

  // -- the cycle, the protocol and the handlers ------------------------------------
  void FormCreate();
  void Timer1Timer();
  void send_data(int8_t address, char letter, int32_t value);
  void SendCommand(const std::string& text);
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();
  // Configure: the port setup dialog, then open, then store.
  void Button6Click();
  void TBfreqChange();
  void TBpowerChange();
  void TBpwmpChange();
  void TBpwmrChange();
  void TBsweepChange();
  void TdsChange();
  void TBtrrChange();
  void TBupChange();
  void LoadPortSettings();
  void StorePortSettings(TSettingsStore& store);

  // -- controls (owned by the window) -----------------------------------------------
  QTabWidget* PageControl1;
  QWidget *Control, *Sweeping, *TabSheet1;
  QSlider *TBfreq, *TBup, *TBpower, *TBsweep, *Tds, *TBtrr, *TBpwmp, *TBpwmr;
  QLineEdit *Efreq, *Eup, *Epower, *Esweep, *Eds, *Etrr, *Epwmp, *Epwmr;
  QLabel *Label20, *Label16, *Label21, *Label15, *Label26, *Lacc;
  QProgressBar *PBP, *PBC, *PBT, *PB, *PBov, *PBacc;
  QLineEdit *Ephase, *Ecurent, *Etracking, *Epoti, *Eov, *Eacc;
  QLabel *Lerr, *Lcpb, *Label25;
  TShape* Sh;
  QLineEdit* Esr;
  QPushButton *Button1, *Button2, *Button3, *Button4, *Button5, *Button6;
  QLabel *Image1, *Image2, *Image3;
  QTimer* Timer1;
  cport::TComPort CP;

  // -- panel state -------------------------------------------------------------------
  TSettingSlots Slots;
  int8_t PollStep = 0;
  int32_t Poti = 0, Phase = 0, Current = 0, Tracking = 0, AcCurrent = 0, Voltage = 0;
  char State = 0;

  // The bar colour of a progress bar, as set for it.
  static QColor BarColour(const QProgressBar* bar);

 private:
  QSlider* AddTrackBar(QWidget* page, int top, const char* caption, int min, int max, int position,
                       QLineEdit*& edit, const char* editName, void (TMainForm::*handler)());
  void AddMeasurement(const char* caption, QLabel*& label, const char* labelName, QProgressBar*& bar, int max,
                      QLineEdit*& edit, const char* editName, int labelTop, int barTop, int editTop);
  // Connects a handler so that a failure in it is reported by the
  // application without unwinding through the toolkit's own frames.
  template <class Sender, class Signal>
  void Connect(Sender* sender, Signal signal, void (TMainForm::*handler)());
  void ShowWaiting();
  void Step();
  int32_t ReadReply();
  [[noreturn]] void TransferFailed(const cport::EComPort& e);
  void DrainRead();
  void ReadValue(char letter, TSettingSlot& slot);
  void VersionReply();
  void ShowSettings();
  void SendStep();
  void PotentiometerReply();
  void StatusReply();
  void ShowLook(const TStateLook& look);
  void TrackBarChanged(QSlider* bar, TSettingSlot& slot, QLineEdit* edit, std::string (*text)(int32_t));
  static void SetBarColour(QProgressBar* bar, const TRgb& colour);
  static int32_t SetBarPosition(QProgressBar* bar, int32_t value);

  std::array<char, kReadBufferSize> FReadBuffer{};
  int32_t FReceived = 0;
  bool FFailureReported = false;
  bool FTicking = false;  // the cycle's transfers survive a lost device
};

}  // namespace vxpanel

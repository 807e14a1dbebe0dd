// SPDX-License-Identifier: MIT
#include "Main.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <cerrno>

#include "Application.h"
#include "SettingsStore.h"

// Resources of a static library are registered by name, from the global
// namespace.
static void InitPictures() { Q_INIT_RESOURCE(pictures); }

namespace vxpanel {

namespace {

// Ends a tick quietly: the failure it met has been reported already.
struct TTickEnded {};

// What a transfer meets when the device itself has gone (an adapter pulled
// out, a line hung up), as against a transfer that failed on a device that
// is still there.
bool DeviceGone(const cport::EComPort& e) {
  const int32_t err = e.SystemErrorCode();
  return err == EIO || err == ENXIO || err == ENODEV;
}

constexpr const char* kWaiting = "waiting.......";

QColor Colour(const TRgb& c) { return QColor(c.R, c.G, c.B); }

QLabel* AddLabel(QWidget* parent, const char* name, const char* caption, int left, int top) {
  auto* l = new QLabel(QString::fromLatin1(caption), parent);
  l->setObjectName(name);
  l->move(left, top);
  l->adjustSize();
  return l;
}

QLineEdit* AddEdit(QWidget* parent, const char* name, QRect geometry) {
  auto* e = new QLineEdit(QString::fromLatin1(name), parent);
  e->setObjectName(name);
  e->setGeometry(geometry);
  return e;
}

QPushButton* AddButton(QWidget* parent, const char* name, const char* caption, int left, int top) {
  auto* b = new QPushButton(QString::fromLatin1(caption), parent);
  b->setObjectName(name);
  b->setGeometry(left, top, 75, 25);
  return b;
}

QLabel* AddPicture(QWidget* parent, const char* name, const char* file, QRect geometry) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  l->setGeometry(geometry);
  l->setPixmap(QPixmap(QString(":/pictures/") + file));
  l->setAttribute(Qt::WA_TranslucentBackground);
  return l;
}

}  // namespace

// ---------------------------------------------------------------------------
// The lamp

TShape::TShape(QWidget* parent) : QWidget(parent) {}

void TShape::SetBrushColor(const QColor& colour) {
  if (colour == FBrush) return;
  FBrush = colour;
  update();
}

void TShape::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const qreal inset = FPenWidth / 2.0;
  p.setPen(QPen(FPen, FPenWidth));
  p.setBrush(FBrush);
  p.drawRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
}

// ---------------------------------------------------------------------------
// Building the window

template <class Sender, class Signal>
void TMainForm::Connect(Sender* sender, Signal signal, void (TMainForm::*handler)()) {
  connect(sender, signal, this, [this, handler] {
    try {
      (this->*handler)();
    } catch (...) {
      ReportException(std::current_exception());
    }
  });
}

QSlider* TMainForm::AddTrackBar(QWidget* page, int top, const char* caption, int min, int max, int position,
                                QLineEdit*& edit, const char* editName, void (TMainForm::*handler)()) {
  AddLabel(page, "", caption, 16, top - 16);
  AddLabel(page, "", "min", 16, top + 32);
  AddLabel(page, "", "max", 136, top + 32);
  auto* bar = new QSlider(Qt::Horizontal, page);
  bar->setGeometry(8, top, 150, 33);
  bar->setRange(min, max);
  bar->setSingleStep(1);
  bar->setPageStep(2);
  bar->setTickPosition(QSlider::TicksBelow);
  bar->setTickInterval(max - min);  // a tick at each end only
  bar->setValue(position);          // before the handler is attached: no change
  edit = AddEdit(page, editName, QRect(160, top, 113, 21));
  // Every operator action runs the handler, also one that does not move the
  // bar (a key at the end, the end of a drag); a programmatic change runs it
  // only when the limited position differs.
  Connect(bar, &QAbstractSlider::valueChanged, handler);
  Connect(bar, &QAbstractSlider::actionTriggered, handler);
  Connect(bar, &QAbstractSlider::sliderReleased, handler);
  return bar;
}

void TMainForm::AddMeasurement(const char* caption, QLabel*& label, const char* labelName, QProgressBar*& bar,
                               int max, QLineEdit*& edit, const char* editName, int labelTop, int barTop,
                               int editTop) {
  label = AddLabel(this, labelName, caption, 320, labelTop);
  bar = new QProgressBar(this);
  bar->setGeometry(320, barTop, 150, 17);
  bar->setRange(0, max);
  bar->setValue(0);
  bar->setTextVisible(false);
  edit = AddEdit(this, editName, QRect(320, editTop, 65, 21));
}

TMainForm::TMainForm(cport::TComDriver* driver, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      CP(nullptr, driver) {
  InitPictures();
  setObjectName("MainForm");
  setWindowTitle("VX generator control panel");
  setFixedSize(493, 507);
  move(186, 115);

  PageControl1 = new QTabWidget(this);
  PageControl1->setGeometry(8, 8, 297, 441);
  Control = new QWidget;
  Sweeping = new QWidget;
  TabSheet1 = new QWidget;
  PageControl1->addTab(Control, "Control");
  PageControl1->addTab(Sweeping, "Sweeping");
  PageControl1->addTab(TabSheet1, "Connectors");
  PageControl1->setCurrentIndex(0);

  TBfreq = AddTrackBar(Control, 32, "Frequency", 21435, 40560, 21435, Efreq, "Efreq", &TMainForm::TBfreqChange);
  TBup = AddTrackBar(Control, 96, "Ultrasonic power", 0, 4095, 0, Eup, "Eup", &TMainForm::TBupChange);
  TBpower = AddTrackBar(Control, 160, "Power", 0, 100, 50, Epower, "Epower", &TMainForm::TBpowerChange);
  TBsweep = AddTrackBar(Sweeping, 32, "Fast sweeping", 0, 255, 7, Esweep, "Esweep", &TMainForm::TBsweepChange);
  Tds = AddTrackBar(Sweeping, 96, "Sweeping", 0, 255, 0, Eds, "Eds", &TMainForm::TdsChange);
  TBtrr = AddTrackBar(Sweeping, 160, "Tracking range", 0, 30, 0, Etrr, "Etrr", &TMainForm::TBtrrChange);
  TBpwmp = AddTrackBar(Sweeping, 296, "PWM period", 1, 100, 100, Epwmp, "Epwmp", &TMainForm::TBpwmpChange);
  TBpwmr = AddTrackBar(Sweeping, 360, "PWM ratio", 0, 100, 50, Epwmr, "Epwmr", &TMainForm::TBpwmrChange);

  AddMeasurement("Phase", Label20, "Label20", PBP, 1000, Ephase, "Ephase", 8, 24, 48);
  AddMeasurement("Curent", Label16, "Label16", PBC, 700, Ecurent, "Ecurent", 72, 88, 112);
  AddMeasurement("Tracking", Label21, "Label21", PBT, 60, Etracking, "Etracking", 136, 152, 176);
  AddMeasurement("Poti", Label15, "Label15", PB, 100, Epoti, "Epoti", 200, 216, 240);
  AddMeasurement("Output voltage", Label26, "Label26", PBov, 1000, Eov, "Eov", 264, 280, 304);
  AddMeasurement("AC current", Lacc, "Lacc", PBacc, 1000, Eacc, "Eacc", 328, 344, 368);

  Lerr = AddLabel(this, "Lerr", "what", 318, 400);
  Lerr->setAlignment(Qt::AlignCenter);
  Sh = new TShape(this);
  Sh->setObjectName("Sh");
  Sh->setGeometry(320, 416, 73, 17);
  Lcpb = AddLabel(Control, "Lcpb", "COM port busy", 19, 376);
  Label25 = AddLabel(Control, "Label25", "Version", 206, 352);
  Esr = AddEdit(Control, "Esr", QRect(200, 368, 65, 21));

  Button6 = AddButton(this, "Button6", "Configure", 408, 376);
  Button3 = AddButton(this, "Button3", "Write", 408, 408);
  Button4 = AddButton(this, "Button4", "Start", 320, 440);
  Button2 = AddButton(this, "Button2", "Read", 408, 440);
  Button5 = AddButton(this, "Button5", "Stop", 320, 472);
  Button1 = AddButton(this, "Button1", "Exit", 408, 472);
  Connect(Button1, &QPushButton::clicked, &TMainForm::Button1Click);
  Connect(Button2, &QPushButton::clicked, &TMainForm::Button2Click);
  Connect(Button3, &QPushButton::clicked, &TMainForm::Button3Click);
  Connect(Button4, &QPushButton::clicked, &TMainForm::Button4Click);
  Connect(Button5, &QPushButton::clicked, &TMainForm::Button5Click);
  Connect(Button6, &QPushButton::clicked, &TMainForm::Button6Click);

  Image1 = AddPicture(this, "Image1", "Image1.png", QRect(32, 456, 257, 49));
  Image2 = AddPicture(Control, "Image2", "Image2.png", QRect(8, 240, 97, 121));
  Image3 = AddPicture(TabSheet1, "Image3", "Image3.png", QRect(16, 8, 257, 401));

  Timer1 = new QTimer(this);
  Timer1->setInterval(50);
  Timer1->setTimerType(Qt::PreciseTimer);  // six ticks make the loop: no drift of a coarse timer
  Connect(Timer1, &QTimer::timeout, &TMainForm::Timer1Timer);
  Timer1->start();

  // A failure here is shown, and the window opens and works all the same.
  try {
    FormCreate();
  } catch (...) {
    ReportError(ErrorText(std::current_exception()));
  }
}

TMainForm::~TMainForm() { Timer1->stop(); }

void TMainForm::FormCreate() {
  SetBarColour(PB, {255, 0, 0});
  SetBarColour(PBP, {255, 128, 128});
  SetBarColour(PBacc, {0, 128, 0});
  SetBarColour(PBT, {0, 0, 0});
  PollStep = 0;
  ShowWaiting();
  LoadPortSettings();
}

void TMainForm::ShowWaiting() {
  for (QLineEdit* e : {Efreq, Epower, Esweep, Epwmr, Epwmp, Eds, Etrr, Eup}) e->setText(kWaiting);
}

QColor TMainForm::BarColour(const QProgressBar* bar) { return bar->palette().color(QPalette::Highlight); }

void TMainForm::SetBarColour(QProgressBar* bar, const TRgb& colour) {
  QPalette p = bar->palette();
  p.setColor(QPalette::Highlight, Colour(colour));
  bar->setPalette(p);
}

// A progress bar holds positions inside its range.
int32_t TMainForm::SetBarPosition(QProgressBar* bar, int32_t value) {
  const int32_t position = std::clamp(value, bar->minimum(), bar->maximum());
  bar->setValue(position);
  return position;
}

// ---------------------------------------------------------------------------
// Protocol

void TMainForm::send_data(int8_t address, char letter, int32_t value) { SendCommand(SetFrame(address, letter, value)); }

// A frame that does not go out whole (its write time-out ran out) has
// failed as much as one whose write raised.  Only the cycle survives a lost
// device: an operator's button closes the window whatever the cause.
void TMainForm::SendCommand(const std::string& text) {
  try {
    if (CP.WriteStr(text) == static_cast<int32_t>(text.size())) return;
  } catch (const cport::EComPort& e) {
    if (FTicking && DeviceGone(e)) TransferFailed(e);
  } catch (...) {
  }
  close();
}

// ---------------------------------------------------------------------------
// Polling cycle

void TMainForm::Timer1Timer() {
  const QScopedValueRollback<bool> ticking(FTicking, true);
  FReadBuffer.fill(0);
  FReceived = 0;
  if (!CP.Connected()) {
    try {
      CP.Open();
    } catch (...) {
      return;  // tried again next tick
    }
  } else {
    Lcpb->setVisible(false);
  }
  try {
    Step();
  } catch (const TTickEnded&) {
    return;
  }
  if (++PollStep > 19) PollStep = 14;
}

void TMainForm::Step() {
  switch (PollStep) {
    case 0: DrainRead(); SendCommand(QueryFrame('u')); break;
    case 1: break;
    case 2: ReadValue('u', Slots.TBup); SendCommand(std::string(kVersionQuery)); break;
    case 3: VersionReply(); SendCommand(QueryFrame('f')); break;
    case 4: ReadValue('f', Slots.TBfreq); SendCommand(QueryFrame('s')); break;
    case 5: ReadValue('s', Slots.TBsweep); SendCommand(QueryFrame('w')); break;
    case 6: ReadValue('w', Slots.TBpwmp); SendCommand(QueryFrame('m')); break;
    case 7: ReadValue('m', Slots.TBpwmr); SendCommand(QueryFrame('p')); break;
    case 8: ReadValue('p', Slots.TBpower); SendCommand(QueryFrame('d')); break;
    case 9: ReadValue('d', Slots.Tds); SendCommand(QueryFrame('r')); break;
    case 10: ReadValue('r', Slots.TBtrr); ShowSettings(); break;
    case 11: case 12: case 13: DrainRead(); break;
    case 14: SendStep(); DrainRead(); break;
    case 15: SendCommand(QueryFrame('t')); DrainRead(); break;
    case 16: break;
    case 17: PotentiometerReply(); break;
    case 18: SendCommand(QueryFrame('?')); DrainRead(); break;
    case 19: StatusReply(); break;
    default: break;
  }
}

int32_t TMainForm::ReadReply() {
  try {
    FReceived = CP.Read(FReadBuffer.data(), kReadCount);
  } catch (const cport::EComPort& e) {
    TransferFailed(e);
  }
  FFailureReported = false;
  return FReceived;
}

// Called while the cycle handles a failed transfer; ends the tick.  The
// failure is reported once, and not again until a read has succeeded.  A
// lost device closes the port, so that the reopen on every tick finds it
// when it comes back, and the read-back starts over then: the generator may
// have restarted with other settings.  Until then the lamp says what the
// panel knows.
void TMainForm::TransferFailed(const cport::EComPort& e) {
  if (DeviceGone(e)) {
    try {
      CP.Close();
    } catch (...) {
      // Still open: the next transfer fails again, quietly.
    }
    PollStep = 0;
    ShowLook(NoConnectionLook());
  }
  if (FFailureReported) throw TTickEnded{};
  FFailureReported = true;
  throw;
}

void TMainForm::DrainRead() { ReadReply(); }

void TMainForm::ReadValue(char letter, TSettingSlot& slot) {
  ReadReply();
  if (auto v = ParseValueReply({FReadBuffer.data(), static_cast<size_t>(FReceived)}, letter)) slot.Value = *v;
}

void TMainForm::VersionReply() {
  ReadReply();
  const auto reply = ParseVersionReply({FReadBuffer.data(), static_cast<size_t>(FReceived)});
  if (!reply) {
    Esr->setText("Unknown");
    return;
  }
  if (const auto range = VariantRange(reply->Kind, reply->Model)) {
    for (QWidget* w : {static_cast<QWidget*>(PBacc), static_cast<QWidget*>(Eacc), static_cast<QWidget*>(Lacc)})
      w->setVisible(false);
    // Exactly the variant's range, whatever the bar had; a position that
    // leaves the range runs the bar's handler.
    TBfreq->setTickInterval(range->Max - range->Min);
    TBfreq->setRange(range->Min, range->Max);
  }
  Esr->setText(QString::fromLatin1(reply->Text.data(), static_cast<qsizetype>(reply->Text.size())));
}

void TMainForm::ShowSettings() {
  TBfreq->setValue(Slots.TBfreq.Value);
  TBpower->setValue(Slots.TBpower.Value);
  TBpwmp->setValue(Slots.TBpwmp.Value);
  TBpwmr->setValue(Slots.TBpwmr.Value);
  TBsweep->setValue(Slots.TBsweep.Value);
  Tds->setValue(Slots.Tds.Value);
  TBtrr->setValue(Slots.TBtrr.Value);
  TBup->setValue(Slots.TBup.Value);
  auto show = [](QLineEdit* e, const std::string& text) { e->setText(QString::fromStdString(text)); };
  show(Efreq, FrequencyText(Slots.TBfreq.Value));
  show(Epower, PercentText(Slots.TBpower.Value));
  show(Esweep, PlainText(Slots.TBsweep.Value));
  show(Eds, PlainText(Slots.Tds.Value));
  show(Epwmr, PercentText(Slots.TBpwmr.Value));
  show(Epwmp, PwmPeriodText(Slots.TBpwmp.Value));
  show(Etrr, PlainText(Slots.TBtrr.Value));
  show(Eup, PlainText(Slots.TBup.Value));
}

void TMainForm::SendStep() {
  const std::pair<TSettingSlot*, char> order[] = {
      {&Slots.TBfreq, 'f'}, {&Slots.TBpower, 'p'}, {&Slots.TBpwmp, 'w'}, {&Slots.TBpwmr, 'm'},
      {&Slots.TBsweep, 's'}, {&Slots.Tds, 'd'},    {&Slots.TBtrr, 'r'},  {&Slots.TBup, 'u'},
  };
  for (auto [slot, letter] : order) {
    if (!slot->Changed) continue;
    send_data(kGeneratorAddress, letter, slot->Value);
    slot->Changed = false;
  }
}

void TMainForm::PotentiometerReply() {
  ReadReply();
  const auto v = ParseValueReply({FReadBuffer.data(), static_cast<size_t>(FReceived)}, 't');
  if (!v) return;
  Poti = *v;
  SetBarColour(PB, PotentiometerColour(SetBarPosition(PB, Poti)));
  Epoti->setText(QString::fromStdString(NumberText(Poti)));
}

void TMainForm::StatusReply() {
  ReadReply();
  const auto s = ParseStatusBlock({FReadBuffer.data(), static_cast<size_t>(FReceived)});
  TStateLook look = NoConnectionLook();
  if (s) {
    auto show = [](QLineEdit* e, int32_t v) { e->setText(QString::fromStdString(NumberText(v))); };
    Phase = s->Phase;
    SetBarPosition(PBP, Phase);
    show(Ephase, Phase);
    Current = s->Current;
    SetBarPosition(PBC, Current);
    show(Ecurent, Current);
    Tracking = s->Tracking;
    SetBarPosition(PBT, Tracking);
    show(Etracking, Tracking - 30);
    AcCurrent = s->AcCurrent;
    SetBarPosition(PBacc, AcCurrent);
    show(Eacc, AcCurrent);
    Voltage = s->Voltage;
    SetBarColour(PBov, VoltageColour(SetBarPosition(PBov, Voltage)));
    show(Eov, Voltage);
    State = s->State;
    look = StateLook(State);
  }
  ShowLook(look);
}

void TMainForm::ShowLook(const TStateLook& look) {
  Sh->SetBrushColor(Colour(look.Lamp));
  Lerr->setText(QString::fromLatin1(look.Caption.data(), static_cast<qsizetype>(look.Caption.size())));
  Lerr->adjustSize();
}

// ---------------------------------------------------------------------------
// Operator controls

void TMainForm::TrackBarChanged(QSlider* bar, TSettingSlot& slot, QLineEdit* edit, std::string (*text)(int32_t)) {
  const int32_t p = bar->sliderPosition();
  slot.Value = p;
  slot.Changed = true;
  edit->setText(QString::fromStdString(text(p)));
}

void TMainForm::TBfreqChange() { TrackBarChanged(TBfreq, Slots.TBfreq, Efreq, FrequencyText); }
void TMainForm::TBpowerChange() { TrackBarChanged(TBpower, Slots.TBpower, Epower, PercentText); }
void TMainForm::TBpwmpChange() { TrackBarChanged(TBpwmp, Slots.TBpwmp, Epwmp, PwmPeriodText); }
void TMainForm::TBpwmrChange() { TrackBarChanged(TBpwmr, Slots.TBpwmr, Epwmr, PercentText); }
void TMainForm::TBsweepChange() { TrackBarChanged(TBsweep, Slots.TBsweep, Esweep, PlainText); }
void TMainForm::TdsChange() { TrackBarChanged(Tds, Slots.Tds, Eds, PlainText); }
void TMainForm::TBtrrChange() { TrackBarChanged(TBtrr, Slots.TBtrr, Etrr, PlainText); }
void TMainForm::TBupChange() { TrackBarChanged(TBup, Slots.TBup, Eup, PlainText); }

void TMainForm::Button1Click() { close(); }

void TMainForm::Button2Click() {
  PollStep = 0;
  ShowWaiting();
}

void TMainForm::Button3Click() { SendCommand(std::string(kWriteFrame)); }
void TMainForm::Button4Click() { SendCommand(std::string(kStartFrame)); }
void TMainForm::Button5Click() { SendCommand(std::string(kStopFrame)); }

// Configure: the operator's choices apply even when the port then cannot be
// opened (the failure is shown and nothing is stored); a key that can be
// neither opened nor made ends it without a word.  OK or Cancel, every
// press that gets past the open writes all five values again.
void TMainForm::Button6Click() {
  TSettingsStore store;
  CP.ShowSetupDialog();
  CP.Open();
  if (!store.OpenKey(kPortSettingsKey, true)) return;
  StorePortSettings(store);
}

// ---------------------------------------------------------------------------
// Stored port settings

void TMainForm::LoadPortSettings() {
  TSettingsStore store;
  if (store.OpenKey(kPortSettingsKey, false)) {
    CP.SetPort(store.ReadString("Port"));
    CP.SetDataBits(static_cast<cport::TDataBits>(store.ReadOrdinal("DataBits", cport::DataBitsCount)));
    CP.Parity().SetBits(static_cast<cport::TParityBits>(store.ReadOrdinal("Parity", cport::ParityBitsCount)));
    CP.FlowControl().SetFlowControl(
        static_cast<cport::TFlowControl>(store.ReadOrdinal("FlowControl", cport::FlowControlCount)));
    CP.SetBaudRate(static_cast<cport::TBaudRate>(store.ReadOrdinal("BaudRate", cport::BaudRateCount)));
    store.CloseKey();
  } else {
    store.OpenKey(kPortSettingsKey, true);  // a key that cannot be made fails at the first write
    StorePortSettings(store);
  }
}

void TMainForm::StorePortSettings(TSettingsStore& store) {
  store.WriteString("Port", CP.Port());
  store.WriteInteger("DataBits", CP.DataBits());
  store.WriteInteger("Parity", CP.Parity().Bits());
  store.WriteInteger("FlowControl", CP.FlowControl().GetFlowControl());
  store.WriteInteger("BaudRate", CP.BaudRate());
  store.CloseKey();
}

}  // namespace vxpanel

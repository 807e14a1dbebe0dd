// SPDX-License-Identifier: MIT
#include "Window.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "CPortLed.h"
#include "CPortTerm.h"
#include "ControlSettings.h"
#include "InputBar.h"
#include "Session.h"
#include "Texts.h"

namespace vxterm {

namespace {

struct TLampLook {
  cport::TComLedSignal Signal;
  const char* Caption;
  const char* Tip;
};
constexpr std::array<TLampLook, 7> kLamps{{
    {cport::lsConn, N_("Conn"), N_("Connected")},
    {cport::lsRx, N_("Rx"), N_("Receiving")},
    {cport::lsTx, N_("Tx"), N_("Sending")},
    {cport::lsCTS, N_("CTS"), N_("Clear to send")},
    {cport::lsDSR, N_("DSR"), N_("Data set ready")},
    {cport::lsRLSD, N_("DCD"), N_("Data carrier detect (RLSD)")},
    {cport::lsRing, N_("RI"), N_("Ring indicator")},
}};

// A status text that gives way in a narrow window: drawn shortened in the
// middle, whole in its tooltip.
class TShortenedLabel : public QLabel {
 public:
  using QLabel::QLabel;
  QSize minimumSizeHint() const override {
    return {fontMetrics().averageCharWidth() * 16, QLabel::minimumSizeHint().height()};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QRect r = contentsRect();
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(text(), Qt::ElideMiddle, r.width()));
  }
};

}  // namespace

TTermWindow::TTermWindow(const TSettings& settings, QSettings* store, cport::TComDriver* driver, QWidget* parent)
    : QMainWindow(parent),
      FPort(std::make_unique<cport::TComPort>(nullptr, driver)),
      FStore(store),
      FDriver(driver),
      FSettings(settings),
      FStatusTimer(new QTimer(this)) {
  setObjectName("vxterm");
  FSession = new TSession(*FPort, this);
  FTerminal = new cport::TComTerminal;
  FInput = new TInputBar;
  auto* centre = new QWidget;
  auto* layout = new QVBoxLayout(centre);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(FTerminal, 1);
  layout->addWidget(FInput);
  setCentralWidget(centre);
  BuildActions();
  BuildToolBar();
  BuildStatusBar();

  // The terminal shows what the session makes of the bytes, and its keys
  // go out through the session's writes.
  FTerminal->SetComPort(FPort.get());
  FTerminal->SetReceivesFromPort(false);
  // A stream shown 25 times a second looks no different to a person and
  // costs the window less than half of 60 (the first bytes after a quiet
  // spell still show at once).
  FTerminal->SetFrameInterval(40);
  FTerminal->SetSendHandler([this](const std::string& bytes) { FSession->Send(bytes); });
  ApplyTerminalSettings(settings.Terminal);

  const TViewSettings& v = settings.View;
  FSession->SetLine(settings.Line);
  FSession->SetDTR(v.DTR);
  FSession->SetRTS(v.RTS);
  FSession->SetHexPause(v.HexPauseMs);
  FSession->SetTimestamps(v.Timestamps);
  FSession->SetHex(v.Hex);
  DTRAction->setChecked(v.DTR);
  RTSAction->setChecked(v.RTS);
  TimestampsAction->setChecked(v.Timestamps);
  HexAction->setChecked(v.Hex);
  LineInputAction->setChecked(v.LineInput);
  FInput->setVisible(v.LineInput);
  FInput->SetEnding(v.Ending);
  FInput->History().SetEntries(settings.History);

  connect(FSession, &TSession::ViewBytes, this,
          [this](const QByteArray& b) { FTerminal->Feed(b.constData(), static_cast<size_t>(b.size())); });
  connect(FSession, &TSession::ViewText, FTerminal, &cport::TComTerminal::WriteText);
  connect(FSession, &TSession::Message, this, &TTermWindow::ShowMessage);
  connect(FSession, &TSession::StateChanged, this, &TTermWindow::StateChanged);
  FStatusTimer->setSingleShot(true);
  FStatusTimer->setInterval(200);
  connect(FStatusTimer, &QTimer::timeout, this, &TTermWindow::UpdateStatus);
  connect(FSession, &TSession::CountsChanged, this, [this] {
    if (!FStatusTimer->isActive()) FStatusTimer->start();
  });
  connect(FSession, &TSession::FileProgress, this, [this](qint64 done, qint64 total) {
    FileProgress->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 1000);
  });
  connect(FSession, &TSession::FileFinished, this, [this] {
    FileProgress->hide();
    CancelFileButton->hide();
    UpdateLineActions();
  });
  connect(FInput, &TInputBar::Send, this, [this](const std::string& bytes, const QString& line) {
    if (FSession->State() != EState::Connected) {
      ShowMessage(QTr("Not connected"));
      return;
    }
    FSession->Send(bytes);
    // The line as typed, on a line of its own: its ending would only move
    // the cursor about.
    if (FTerminal->LocalEcho()) FTerminal->WriteText(LineStart() + line + "\n");
  });

  const bool restored = !settings.Geometry.isEmpty() && restoreGeometry(settings.Geometry);
  if (!settings.WindowState.isEmpty()) restoreState(settings.WindowState);
  QSize fit = sizeHint();
  if (const QScreen* s = screen()) fit = fit.boundedTo(s->availableGeometry().size());
  if (!restored)
    resize(fit);
  else if (width() < fit.width())
    // Stored under shorter texts (another language): lamps and actions
    // pushed into a bar's overflow would be lost to the person.
    resize(fit.width(), height());
  StateChanged(FSession->State());
  if (v.LineInput)
    FInput->Edit()->setFocus();
  else
    FTerminal->setFocus();
}

TTermWindow::~TTermWindow() {
  // The session closes the port and lets go of it before the port goes;
  // the terminal and the lamps hear of the port's end themselves.
  delete FSession;
  FSession = nullptr;
}

// ---------------------------------------------------------------------------
// Building

void TTermWindow::BuildActions() {
  auto make = [this](const char* text, const char* tip, bool checkable = false) {
    auto* a = new QAction(QTr(text), this);
    a->setIconText(a->text());  // a tool button would drop the "..."
    a->setToolTip(QTr(tip));
    a->setCheckable(checkable);
    return a;
  };
  ConnectAction = make(N_("Connect"), N_("Open the port, or stop using it"));
  PortAction = make(N_("Port..."), N_("The port and its line settings"));
  TerminalAction = make(N_("Terminal..."), N_("Emulation, screen, keyboard and display"));
  SendFileAction = make(N_("Send file..."), N_("Send the bytes of a file"));
  BreakAction = make(N_("Break"), N_("Hold the line in the break state for 250 ms"));
  DTRAction = make(N_("DTR"), N_("Data terminal ready: raise or lower the line"), true);
  RTSAction = make(N_("RTS"), N_("Request to send: raise or lower the line"), true);
  TimestampsAction = make(N_("Timestamps"), N_("Each received line with its arrival time"), true);
  HexAction = make(N_("Hex"), N_("Received bytes as hex rows"), true);
  LineInputAction = make(N_("Line input"), N_("Type a whole line below the terminal and send it at once"), true);
  LogAction = make(N_("Log..."), N_("Append what arrives to a file"));
  StopLogAction = make(N_("Stop logging"), N_("Close the log file"));
  ClearAction = make(N_("Clear"), N_("Empty the screen and the scrollback"));
  StopLogAction->setEnabled(false);

  connect(ConnectAction, &QAction::triggered, this, &TTermWindow::ToggleConnection);
  connect(PortAction, &QAction::triggered, this, &TTermWindow::EditPort);
  connect(TerminalAction, &QAction::triggered, this, &TTermWindow::EditTerminal);
  connect(SendFileAction, &QAction::triggered, this, &TTermWindow::ChooseSendFile);
  connect(BreakAction, &QAction::triggered, this, [this] { FSession->SendBreak(250); });
  connect(DTRAction, &QAction::toggled, this, [this](bool on) { FSession->SetDTR(on); });
  connect(RTSAction, &QAction::toggled, this, [this](bool on) { FSession->SetRTS(on); });
  connect(TimestampsAction, &QAction::toggled, this, [this](bool on) {
    FSession->SetTimestamps(on);
    UpdateHexFit();
  });
  connect(HexAction, &QAction::toggled, this, [this](bool on) { FSession->SetHex(on); });
  connect(LineInputAction, &QAction::toggled, this, [this](bool on) {
    FInput->setVisible(on);
    if (on)
      FInput->Edit()->setFocus();
    else
      FTerminal->setFocus();
  });
  connect(LogAction, &QAction::triggered, this, &TTermWindow::ChooseLog);
  connect(StopLogAction, &QAction::triggered, this, [this] { SetLog(QString(), false); });
  connect(ClearAction, &QAction::triggered, FTerminal, &cport::TComTerminal::Clear);
}

void TTermWindow::BuildToolBar() {
  // Two rows, so that the window fits a small screen in any language: the
  // connection and the line, then the view, the log and the lamps.
  QToolBar* session = addToolBar(QTr("Session"));
  session->setObjectName("SessionBar");
  session->setToolButtonStyle(Qt::ToolButtonTextOnly);
  session->addAction(ConnectAction);
  session->addAction(PortAction);
  session->addAction(TerminalAction);
  session->addSeparator();
  session->addAction(SendFileAction);
  session->addAction(BreakAction);
  session->addAction(DTRAction);
  session->addAction(RTSAction);
  addToolBarBreak();
  QToolBar* view = addToolBar(QTr("View"));
  view->setObjectName("ViewBar");
  view->setToolButtonStyle(Qt::ToolButtonTextOnly);
  view->addAction(TimestampsAction);
  view->addAction(HexAction);
  view->addAction(LineInputAction);
  view->addSeparator();
  view->addAction(LogAction);
  auto* logMenu = new QMenu(this);
  logMenu->addAction(StopLogAction);
  LogAction->setMenu(logMenu);
  if (auto* button = qobject_cast<QToolButton*>(view->widgetForAction(LogAction)))
    button->setPopupMode(QToolButton::MenuButtonPopup);
  view->addAction(ClearAction);
  view->addSeparator();

  auto* lamps = new QWidget;
  auto* row = new QHBoxLayout(lamps);
  row->setContentsMargins(6, 0, 6, 0);
  row->setSpacing(8);
  for (size_t i = 0; i < kLamps.size(); ++i) {
    auto* cell = new QWidget;
    auto* column = new QVBoxLayout(cell);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(1);
    Lamps[i] = new cport::TComLed(kLamps[i].Signal);
    Lamps[i]->SetComPort(FPort.get());
    auto* caption = new QLabel(QTr(kLamps[i].Caption));
    QFont small = caption->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    caption->setFont(small);
    column->addWidget(Lamps[i], 0, Qt::AlignHCenter);
    column->addWidget(caption, 0, Qt::AlignHCenter);
    cell->setToolTip(QTr(kLamps[i].Tip));
    row->addWidget(cell);
  }
  view->addWidget(lamps);
}

void TTermWindow::BuildStatusBar() {
  FileProgress = new QProgressBar;
  FileProgress->setRange(0, 1000);
  FileProgress->setTextVisible(false);
  FileProgress->setMaximumWidth(160);
  FileProgress->hide();
  CancelFileButton = new QToolButton;
  CancelFileButton->setText(QTr("Cancel"));
  CancelFileButton->setToolTip(QTr("Stop sending the file"));
  CancelFileButton->hide();
  connect(CancelFileButton, &QToolButton::clicked, this, [this] { FSession->CancelFile(); });
  LineLabel = new TShortenedLabel;
  StateLabel = new QLabel;
  CountsLabel = new QLabel;
  statusBar()->addPermanentWidget(FileProgress);
  statusBar()->addPermanentWidget(CancelFileButton);
  statusBar()->addPermanentWidget(LineLabel);
  statusBar()->addPermanentWidget(StateLabel);
  statusBar()->addPermanentWidget(CountsLabel);
}

// ---------------------------------------------------------------------------
// Actions

void TTermWindow::Start() { FSession->Connect(); }

void TTermWindow::ToggleConnection() {
  if (FSession->State() == EState::Disconnected)
    FSession->Connect();
  else
    FSession->Disconnect();
}

void TTermWindow::EditPort() {
  // The dialog edits a copy: the session applies what changed, reconnecting
  // only for another port.
  cport::TComPort scratch(nullptr, FDriver);
  ApplyLineSettings(scratch, FSession->Line());
  scratch.ShowSetupDialog();
  TLineSettings chosen = LineSettingsOf(scratch);
  if (chosen == FSession->Line()) return;
  FSession->SetLine(chosen);
  UpdateLineActions();
  UpdateStatus();
  StoreSettings();
}

void TTermWindow::EditTerminal() {
  if (!FTerminal->ShowSetupDialog()) return;
  FInput->SetCharset(FTerminal->Charset() == cport::tcLatin1 ? ECharset::Latin1 : ECharset::Utf8);
  UpdateHexFit();
  StoreSettings();
}

void TTermWindow::ApplyTerminalSettings(const TTerminalSettings& settings) {
  FTerminal->SetSettings(ToControl(settings));
  FInput->SetCharset(settings.Charset);
  UpdateHexFit();
}

void TTermWindow::ChooseSendFile() {
  if (FSession->Transmitter().SendingFile()) return;
  bool unused = false;
  const QString path = AskFile(EFileQuestion::SendFile, unused);
  if (path.isEmpty()) return;
  QString error;
  if (!FSession->SendFile(path, error)) {
    ShowMessage(error);
    return;
  }
  // A small file may be out already.
  if (!FSession->Transmitter().SendingFile()) return;
  FileProgress->setValue(0);
  FileProgress->show();
  CancelFileButton->show();
  UpdateLineActions();
}

void TTermWindow::ChooseLog() {
  bool capture = false;
  const QString path = AskFile(EFileQuestion::Log, capture);
  if (!path.isEmpty()) SetLog(path, capture);
}

void TTermWindow::SetLog(const QString& path, bool capture) {
  FSession->SetLog(path, capture ? TLogFile::EMode::Capture : TLogFile::EMode::Text);
  StopLogAction->setEnabled(!path.isEmpty());
  if (path.isEmpty())
    ShowMessage(QTr("Log closed"));
  else
    ShowMessage((capture ? QTr("Capturing the bytes that arrive to %1") : QTr("Logging to %1")).arg(path));
}

QString TTermWindow::AskFile(EFileQuestion question, bool& capture) {
  if (FChooseFile) return FChooseFile(question, capture);
  if (question == EFileQuestion::SendFile) return QFileDialog::getOpenFileName(this, QTr("Send file"));
  const QString text = QTr("Text log (*.log *.txt)"), raw = QTr("Raw bytes (*.bin *.raw)");
  QString filter = text;
  // Logs are appended to, never replaced: no question about overwriting.
  const QString path = QFileDialog::getSaveFileName(this, QTr("Log"), QString(), text + ";;" + raw, &filter,
                                                    QFileDialog::DontConfirmOverwrite);
  capture = filter == raw;
  return path;
}

// ---------------------------------------------------------------------------
// What the window shows

void TTermWindow::StateChanged(EState state) {
  ConnectAction->setText(state == EState::Disconnected ? QTr("Connect") : QTr("Disconnect"));
  ConnectAction->setIconText(ConnectAction->text());
  const QString target = FSession->Target();
  setWindowTitle(target.isEmpty() ? QString("vxterm") : QTr("%1 - vxterm").arg(target));
  UpdateLineActions();
  UpdateStatus();
  // The port that worked is the one to start with next time.
  if (state == EState::Connected) StoreSettings();
}

void TTermWindow::ShowMessage(const QString& text) {
  FTerminal->WriteText(LineStart() + "-- " + text + " --\n");
}

// What starts a line of the window's own, wherever the device left the cursor.
QString TTermWindow::LineStart() const { return FTerminal->Emulator().CursorColumn() != 0 ? "\n" : ""; }

void TTermWindow::UpdateLineActions() {
  const bool connected = FSession->State() == EState::Connected;
  DTRAction->setEnabled(connected && FSession->DTRFree());
  RTSAction->setEnabled(connected && FSession->RTSFree());
  BreakAction->setEnabled(connected);
  SendFileAction->setEnabled(connected && !FSession->Transmitter().SendingFile());
}

void TTermWindow::UpdateStatus() {
  TLineSettings line = FSession->Line();
  if (FSession->State() == EState::Connected) line.Port = FSession->Target().toStdString();
  LineLabel->setText(LineText(line));
  LineLabel->setToolTip(LineLabel->text());
  StateLabel->setText(StateText(FSession->State(), FSession->Target()));
  CountsLabel->setText(CountsText(FSession->ReceivedCount(), FSession->SentCount()));
}

void TTermWindow::UpdateHexFit() {
  FSession->SetHexTextInView(FTerminal->Columns() >= FSession->Formatter().HexRowWidth(true));
}

// ---------------------------------------------------------------------------
// Settings

TSettings TTermWindow::CurrentSettings() const {
  TSettings s = FSettings;
  s.Line = FSession->Line();
  s.Terminal = FromControl(FTerminal->Settings());
  s.View.Timestamps = TimestampsAction->isChecked();
  s.View.Hex = HexAction->isChecked();
  s.View.LineInput = LineInputAction->isChecked();
  s.View.Ending = FInput->Ending();
  s.View.DTR = DTRAction->isChecked();
  s.View.RTS = RTSAction->isChecked();
  s.Geometry = saveGeometry();
  s.WindowState = saveState();
  s.History = FInput->History().Entries();
  return s;
}

void TTermWindow::StoreSettings() {
  if (FStore) SaveSettings(*FStore, CurrentSettings());
}

void TTermWindow::closeEvent(QCloseEvent* event) {
  StoreSettings();
  event->accept();
}

}  // namespace vxterm

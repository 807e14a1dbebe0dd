// SPDX-License-Identifier: MIT
// vxterm's window: the terminal control bound to the port in the middle, a
// tool bar with the session's actions and the line lamps above it, the
// input line (line-input mode) below it, and a status bar with the port's
// line settings, the state of the connection and the bytes counted.
//
// The session (Session.h) reads what arrives and feeds the terminal with
// what its formatter makes of it; keys typed go out through the session's
// overlapped writes.  A device that goes away is said in the terminal and
// the status bar, never in a box.
#pragma once

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>

#include "CPort.h"
#include "Settings.h"
#include "StatusText.h"

class QAction;
class QLabel;
class QProgressBar;
class QSettings;
class QToolButton;

namespace cport {
class TComLed;
class TComTerminal;
}  // namespace cport

namespace vxterm {

class TInputBar;
class TSession;

class TTermWindow : public QMainWindow {
  Q_OBJECT
 public:
  // store: where the settings go when they change and at the end (none:
  // nowhere); driver: the serial driver (the platform's unless given).
  TTermWindow(const TSettings& settings, QSettings* store = nullptr, cport::TComDriver* driver = nullptr,
              QWidget* parent = nullptr);
  ~TTermWindow() override;

  cport::TComPort& Port() { return *FPort; }
  TSession& Session() { return *FSession; }
  cport::TComTerminal& Terminal() { return *FTerminal; }
  TInputBar& Input() { return *FInput; }

  // The settings as they are now, to be stored.
  TSettings CurrentSettings() const;
  void StoreSettings();

  // Where the file dialogs' answers come from (tests answer themselves).
  enum class EFileQuestion { SendFile, Log };
  // Returns the chosen file, empty for none; for the log, capture tells
  // whether raw bytes were chosen.
  using TFileChooser = std::function<QString(EFileQuestion question, bool& capture)>;
  void SetFileChooser(TFileChooser chooser) { FChooseFile = std::move(chooser); }

  // The tool bar's actions, in their order.
  QAction* ConnectAction;
  QAction* PortAction;
  QAction* TerminalAction;
  QAction* SendFileAction;
  QAction* BreakAction;
  QAction* DTRAction;
  QAction* RTSAction;
  QAction* TimestampsAction;
  QAction* HexAction;
  QAction* LineInputAction;
  QAction* LogAction;
  QAction* StopLogAction;  // in the log button's menu
  QAction* ClearAction;

  // Connection, Rx, Tx, CTS, DSR, RLSD, ring.
  std::array<cport::TComLed*, 7> Lamps{};
  QLabel* LineLabel;
  QLabel* StateLabel;
  QLabel* CountsLabel;
  QProgressBar* FileProgress;
  QToolButton* CancelFileButton;

  // Starts the session: connects, or says that no port is chosen.
  void Start();
  // Logs to path (empty: stops), as text or as a raw capture.
  void SetLog(const QString& path, bool capture);
  // A note for the person, in the terminal on a line of its own (the status
  // bar's state says what the connection is doing).
  void ShowMessage(const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildActions();
  void BuildToolBar();
  void BuildStatusBar();
  void ToggleConnection();
  void EditPort();
  void EditTerminal();
  void ChooseSendFile();
  void ChooseLog();
  void StateChanged(EState state);
  void UpdateStatus();
  QString LineStart() const;
  void UpdateLineActions();
  void UpdateHexFit();
  void ApplyTerminalSettings(const TTerminalSettings& settings);
  QString AskFile(EFileQuestion question, bool& capture);

  std::unique_ptr<cport::TComPort> FPort;
  TSession* FSession;
  cport::TComTerminal* FTerminal;
  TInputBar* FInput;
  QSettings* FStore;
  cport::TComDriver* FDriver;
  TSettings FSettings;  // what is not kept elsewhere (the hex pause)
  QTimer* FStatusTimer;
  TFileChooser FChooseFile;
};

}  // namespace vxterm

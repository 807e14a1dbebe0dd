// SPDX-License-Identifier: MIT
// The terminal control's settings and its port: the link that brings the
// received bytes, and what goes back.
#include <QApplication>
#include <QFontDatabase>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "CPortTerm.h"
#include "CPortTermSetup.h"

namespace cport {

// ---------------------------------------------------------------------------
// Settings' defaults

QFont TComTermSettings::DefaultTermFont() {
  QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setStyleHint(QFont::TypeWriter);
  if (f.pointSizeF() < 9) f.setPointSize(10);
  return f;
}

std::array<QColor, 16> TComTermSettings::DefaultTermColors() {
  return {QColor(0, 0, 0),       QColor(205, 0, 0),     QColor(0, 205, 0),     QColor(205, 205, 0),
          QColor(0, 0, 238),     QColor(205, 0, 205),   QColor(0, 205, 205),   QColor(229, 229, 229),
          QColor(127, 127, 127), QColor(255, 0, 0),     QColor(0, 255, 0),     QColor(255, 255, 0),
          QColor(92, 92, 255),   QColor(255, 0, 255),   QColor(0, 255, 255),   QColor(255, 255, 255)};
}

// ---------------------------------------------------------------------------
// The link and the hand-over of deliveries made on another thread

// Owned by the control and shared with the calls it posts to itself, which
// find it gone when the control is.  The port's calls arrive on whatever
// thread its SyncMethod picks.
class TComTermLink : public std::enable_shared_from_this<TComTermLink> {
 public:
  TComTermLink(TComTerminal* owner, bool receive) : FOwner(owner), FGuiThread(std::this_thread::get_id()) {
    if (receive)
      Link.OnRxBuf = [this](TCustomComPort*, const void* buffer, int32_t count) {
        if (count > 0) Rx(buffer, static_cast<size_t>(count));
      };
    Link.OnConn = [this](TCustomComPort*, bool on) { Conn(on); };
  }

  TComLink Link;

  // The control is going: nothing more reaches it.
  void Detach() {
    std::lock_guard lock(FMutex);
    FOwner = nullptr;
    FInbox.clear();
    FRoom.notify_all();
  }

 private:
  // Held back from a thread that outruns the GUI: the port's own thread
  // waits for room (without losing a byte) rather than memory growing.
  static constexpr size_t kInboxLimit = 1 << 20;
  static constexpr auto kRoomWait = std::chrono::milliseconds(200);

  bool OnGuiThread() const { return std::this_thread::get_id() == FGuiThread; }

  void Rx(const void* buffer, size_t count) {
    if (OnGuiThread()) {
      Drain();  // whatever came before on another thread goes first
      if (FOwner) FOwner->Received(buffer, count);
      return;
    }
    std::unique_lock lock(FMutex);
    // Bounded, so that a Close on the GUI thread waiting for this thread
    // is held up briefly at most.
    FRoom.wait_for(lock, kRoomWait, [this] { return FInbox.size() < kInboxLimit || !FOwner; });
    if (!FOwner) return;
    FInbox.append(static_cast<const char*>(buffer), count);
    if (!FDrainPosted) {  // one drain takes all that comes before it runs
      FDrainPosted = true;
      PostLocked([](TComTermLink&) {});
    }
  }

  void Conn(bool on) {
    if (OnGuiThread()) {
      Drain();
      if (FOwner) FOwner->ConnectionChanged(on);
      return;
    }
    std::lock_guard lock(FMutex);
    if (!FOwner) return;
    PostLocked([on](TComTermLink& self) {
      if (self.FOwner) self.FOwner->ConnectionChanged(on);
    });
  }

  // Queues a drain, and then what follows it, on the GUI thread.
  template <class F>
  void PostLocked(F then) {
    std::weak_ptr<TComTermLink> weak = weak_from_this();
    QMetaObject::invokeMethod(
        qApp,
        [weak, then] {
          if (auto self = weak.lock()) {
            self->Drain();
            then(*self);
          }
        },
        Qt::QueuedConnection);
  }

  void Drain() {
    std::string bytes;
    {
      std::lock_guard lock(FMutex);
      bytes.swap(FInbox);
      FDrainPosted = false;
      FRoom.notify_all();
    }
    if (!bytes.empty() && FOwner) FOwner->Received(bytes.data(), bytes.size());
  }

  TComTerminal* FOwner;  // read and cleared on the GUI thread only
  const std::thread::id FGuiThread;
  std::mutex FMutex;
  std::condition_variable FRoom;
  std::string FInbox;
  bool FDrainPosted = false;
};

// ---------------------------------------------------------------------------
// The control

TComTerminal::TComTerminal(QWidget* parent)
    : QWidget(parent),
      FEmu(std::make_unique<TVtEmulator>(FSettings.Columns, FSettings.Rows)),
      FScrollBar(new QScrollBar(Qt::Vertical, this)),
      FFlushTimer(new QTimer(this)),
      FBlinkTimer(new QTimer(this)) {
  InitPortErrorTexts();  // binds the catalog domain of the control's texts
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_InputMethodEnabled);
  setCursor(Qt::IBeamCursor);
  FScrollBar->setCursor(Qt::ArrowCursor);
  FScrollBar->setFocusPolicy(Qt::NoFocus);
  connect(FScrollBar, &QScrollBar::valueChanged, this,
          [this](int value) { SetScrollPosition(FScrollBar->maximum() - value); });
  FFlushTimer->setSingleShot(true);
  connect(FFlushTimer, &QTimer::timeout, this, &TComTerminal::Flush);
  FBlinkTimer->setInterval(500);
  connect(FBlinkTimer, &QTimer::timeout, this, &TComTerminal::BlinkTick);
  FEmu->SetEmulation(FSettings.Emulation);
  FEmu->SetCharset(FSettings.Charset);
  FEmu->SetForce7Bit(FSettings.Force7Bit);
  FEmu->SetAppendLF(FSettings.AppendLF);
  FEmu->SetWrapLines(FSettings.WrapLines);
  FEmu->SetScrollBack(FSettings.ScrollBack);
  FSinceFlush.start();
  FontChanged();
  ContentReset();
}

TComTerminal::~TComTerminal() { Unbind(); }

void TComTerminal::SetComPort(TCustomComPort* port) {
  if (port == FComPort) return;
  Unbind();
  if (port) {
    FLink = std::make_shared<TComTermLink>(this, FReceivesFromPort);
    port->RegisterLink(&FLink->Link);
    port->FreeNotification(this);
    FComPort = port;
  }
  ConnectionChanged(Connected());
}

void TComTerminal::SetReceivesFromPort(bool value) {
  if (value == FReceivesFromPort) return;
  FReceivesFromPort = value;
  // The port decides whether it reads for its links when a link comes or
  // goes: bind again with a link that asks, or does not.
  if (TCustomComPort* port = FComPort) {
    Unbind();
    SetComPort(port);
  }
}

void TComTerminal::Unbind() {
  if (FLink) FLink->Detach();
  if (FComPort) {
    FComPort->RemoveFreeNotification(this);
    FComPort->UnRegisterLink(&FLink->Link);
  }
  FComPort = nullptr;
  FLink.reset();
}

void TComTerminal::FreeNotify(TComponent* component) {
  if (component != FComPort) return;
  // The port is going: it calls no link any more and needs no goodbye.
  FLink->Detach();
  FLink.reset();
  FComPort = nullptr;
  ConnectionChanged(false);
}

void TComTerminal::ConnectionChanged(bool) {
  update();  // the whole screen shows the state
}

void TComTerminal::Received(const void* data, size_t count) {
  FEmu->Feed(data, count);
  SendAnswers();
  ScheduleFlush();
}

void TComTerminal::SendAnswers() {
  const std::string answer = FEmu->TakeAnswer();
  // An answer to a line that went away has nobody to read it.
  if (!answer.empty() && Connected()) Send(answer);
  FBells += FEmu->TakeBells();
}

void TComTerminal::Send(const std::string& bytes) {
  try {
    if (FSendHandler)
      FSendHandler(bytes);
    else
      FComPort->WriteStr(bytes);
  } catch (...) {
    // Reached from the port's own notification as often as from a key: the
    // failure is reported where the application reports them.
    HandleApplicationException(std::current_exception());
  }
}

// -- settings ------------------------------------------------------------------

void TComTerminal::SetEmulation(TTermEmulation value) {
  FSettings.Emulation = value;
  FEmu->SetEmulation(value);
  ContentReset();
}

int TComTerminal::Columns() const { return FEmu->Columns(); }
int TComTerminal::Rows() const { return FEmu->Rows(); }

void TComTerminal::SetColumns(int value) {
  value = std::clamp(value, TermMinColumns, TermMaxColumns);
  FSettings.Columns = value;
  if (value == FEmu->Columns()) return;
  FEmu->Resize(value, FEmu->Rows());
  ContentReset();
}

void TComTerminal::SetRows(int value) {
  value = std::clamp(value, TermMinRows, TermMaxRows);
  FSettings.Rows = value;
  if (value == FEmu->Rows()) return;
  FEmu->Resize(FEmu->Columns(), value);
  ContentReset();
}

void TComTerminal::SetAppendLF(bool value) {
  FSettings.AppendLF = value;
  FEmu->SetAppendLF(value);
}

void TComTerminal::SetForce7Bit(bool value) {
  FSettings.Force7Bit = value;
  FEmu->SetForce7Bit(value);
}

void TComTerminal::SetWrapLines(bool value) {
  FSettings.WrapLines = value;
  FEmu->SetWrapLines(value);
}

void TComTerminal::SetScrollBack(int lines) {
  FSettings.ScrollBack = std::clamp(lines, 0, TermMaxScrollBack);
  FEmu->SetScrollBack(FSettings.ScrollBack);
  ContentReset();
}

void TComTerminal::SetCharset(TTermCharset value) {
  FSettings.Charset = value;
  FEmu->SetCharset(value);
}

void TComTerminal::SetFont(const QFont& value) {
  FSettings.Font = value;
  FontChanged();
}

QColor TComTerminal::Color(int index) const {
  return index >= 0 && index < 16 ? FSettings.Colors[static_cast<size_t>(index)] : QColor();
}

void TComTerminal::SetColor(int index, const QColor& value) {
  if (index < 0 || index >= 16 || !value.isValid()) return;
  FSettings.Colors[static_cast<size_t>(index)] = value;
  update();
}

void TComTerminal::SetCursorShape(TTermCursorShape value) {
  FSettings.CursorShape = value;
  InvalidateViewRow(FCursorRowShown);
}

void TComTerminal::SetCursorBlink(bool value) {
  FSettings.CursorBlink = value;
  UpdateBlinkTimer();
  InvalidateViewRow(FCursorRowShown);
}

void TComTerminal::SetSettings(const TComTermSettings& value) {
  SetEmulation(value.Emulation);
  SetColumns(value.Columns);
  SetRows(value.Rows);
  SetLocalEcho(value.LocalEcho);
  SetSendLF(value.SendLF);
  SetAppendLF(value.AppendLF);
  SetForce7Bit(value.Force7Bit);
  SetWrapLines(value.WrapLines);
  SetScrollBack(value.ScrollBack);
  SetCharset(value.Charset);
  SetBackspaceDel(value.BackspaceDel);
  SetFont(value.Font);
  for (int i = 0; i < 16; ++i) SetColor(i, value.Colors[static_cast<size_t>(i)]);
  SetCursorShape(value.CursorShape);
  SetCursorBlink(value.CursorBlink);
}

TComTermSettings TComTerminal::Settings() const {
  TComTermSettings s = FSettings;
  s.Columns = FEmu->Columns();
  s.Rows = FEmu->Rows();
  return s;
}

bool TComTerminal::ShowSetupDialog() { return EditComTerminal(*this); }

// -- content -------------------------------------------------------------------

void TComTerminal::Clear() {
  FEmu->Clear();
  ContentReset();
}

void TComTerminal::WriteText(const QString& text) {
  FEmu->WriteText(text.toStdString());
  ScheduleFlush();
}

void TComTerminal::Feed(const void* data, size_t count) {
  if (count > 0) Received(data, count);
}

}  // namespace cport

// SPDX-License-Identifier: MIT
// A program run inside the terminal control, for looking at the control as
// a user would (not a figure):
//   term-session [--script FILE] [--shots DIR] [--log FILE] [--font-size PT]
//                [--emulation vt100|vt52|none] -- COMMAND [ARGS...]
// The control's port opens one end of a pseudo-terminal pair; the far end
// is joined to a second pair on which COMMAND runs with TERM=vt100, as if a
// device with a terminal session sat at the end of a serial line.  Without
// a script the window stays open for a person at the keyboard.  --log keeps
// what the program sent, for vtreplay.  A script
// has one step per line:
//   expect TEXT   wait (10 s at most) until the screen shows TEXT
//   type TEXT     type the characters, 60 ms apart (\r, \n, \e, \\ written so)
//   key NAME      press a key: Return, Tab, Escape, Backspace, Delete, Home,
//                 Up, Down, Left, Right, F1-F4, Kp0-Kp9, KpEnter, KpMinus,
//                 KpComma, KpPeriod
//   wait MS       let MS milliseconds pass
//   drag R C R C  select with the mouse from one cell to another (1-based)
//   wheel N       turn the wheel N notches (up: back into the scrollback)
//   close, open   close or open the port
//   shot NAME     save the window as DIR/NAME.png
//   dump          print the screen's text on standard output
//   quit          end
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "CPortTerm.h"

using namespace cport;

namespace {

// Copies between the two masters until told to stop or a side closes;
// what comes from b is also written to log (if open).
void Bridge(int a, int b, FILE* log, const std::atomic<bool>& stop) {
  char buf[4096];
  while (!stop) {
    pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    if (::poll(p, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
      if (n <= 0) return;
      if (log && i == 1) std::fwrite(buf, 1, static_cast<size_t>(n), log);
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = ::write(p[1 - i].fd, buf + done, static_cast<size_t>(n - done));
        if (w < 0 && errno != EINTR && errno != EAGAIN) return;
        if (w > 0) done += w;
      }
    }
  }
}

QString Unescape(const QString& s) {
  QString out;
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const QChar c = s[++i];
    out += c == 'r' ? QChar('\r') : c == 'n' ? QChar('\n') : c == 'e' ? QChar(0x1b) : c;
  }
  return out;
}

void Key(QWidget* w, int key, Qt::KeyboardModifiers mods, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, mods, text);
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, mods, text);
  QApplication::sendEvent(w, &release);
}

bool ScreenHas(const TComTerminal& t, const QString& text) {
  const TVtEmulator& e = t.Emulator();
  const int top = e.ScrollbackCount();
  return QString::fromStdString(e.Text(top, 0, top + e.Rows() - 1, e.Columns())).contains(text);
}

// Waits while the GUI runs.
void Pause(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void Mouse(QWidget* w, QEvent::Type type, QPoint at) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
  QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

int RunScript(TComTerminal& term, TCustomComPort& port, const QString& path, const QString& shots) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "term-session: cannot read %s\n", qPrintable(path));
    return 2;
  }
  static const std::map<QString, std::pair<int, Qt::KeyboardModifiers>> keys = {
      {"Return", {Qt::Key_Return, Qt::NoModifier}}, {"Up", {Qt::Key_Up, Qt::NoModifier}},
      {"Down", {Qt::Key_Down, Qt::NoModifier}},     {"Left", {Qt::Key_Left, Qt::NoModifier}},
      {"Right", {Qt::Key_Right, Qt::NoModifier}},   {"F1", {Qt::Key_F1, Qt::NoModifier}},
      {"F2", {Qt::Key_F2, Qt::NoModifier}},         {"F3", {Qt::Key_F3, Qt::NoModifier}},
      {"F4", {Qt::Key_F4, Qt::NoModifier}},         {"KpEnter", {Qt::Key_Enter, Qt::KeypadModifier}},
      {"KpMinus", {Qt::Key_Minus, Qt::KeypadModifier}}, {"KpComma", {Qt::Key_Comma, Qt::KeypadModifier}},
      {"KpPeriod", {Qt::Key_Period, Qt::KeypadModifier}}, {"Tab", {Qt::Key_Tab, Qt::NoModifier}},
      {"Escape", {Qt::Key_Escape, Qt::NoModifier}},  {"Backspace", {Qt::Key_Backspace, Qt::NoModifier}},
      {"Delete", {Qt::Key_Delete, Qt::NoModifier}},  {"Home", {Qt::Key_Home, Qt::NoModifier}}};
  int line = 0;
  while (!f.atEnd()) {
    ++line;
    const QString step = QString::fromUtf8(f.readLine()).chopped(1);
    const QString word = step.section(' ', 0, 0), arg = step.section(' ', 1);
    if (word.isEmpty() || word.startsWith('#')) continue;
    if (word == "expect") {
      QElapsedTimer t;
      t.start();
      while (!ScreenHas(term, arg) && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      if (!ScreenHas(term, arg)) std::fprintf(stderr, "term-session: line %d: \"%s\" not shown\n", line, qPrintable(arg));
      Pause(100);  // the rest of the screen follows
    } else if (word == "type") {
      for (const QChar c : Unescape(arg)) {  // at a typist's pace
        Key(&term, c == '\r' ? Qt::Key_Return : 0, Qt::NoModifier, c);
        Pause(60);
      }
    } else if (word == "key") {
      if (arg.startsWith("Kp") && arg.size() == 3 && arg[2].isDigit()) {
        Key(&term, Qt::Key_0 + arg[2].digitValue(), Qt::KeypadModifier, arg.mid(2));
      } else if (auto k = keys.find(arg); k != keys.end()) {
        Key(&term, k->second.first, k->second.second, {});
      } else {
        std::fprintf(stderr, "term-session: line %d: no key %s\n", line, qPrintable(arg));
      }
    } else if (word == "drag") {
      const QStringList n = arg.split(' ', Qt::SkipEmptyParts);
      if (n.size() != 4) continue;
      Mouse(&term, QEvent::MouseButtonPress, term.CellRect(n[0].toInt() - 1, n[1].toInt() - 1).topLeft());
      const QPoint end = term.CellRect(n[2].toInt() - 1, n[3].toInt() - 1).topRight() + QPoint(1, 1);
      Mouse(&term, QEvent::MouseMove, end);
      Mouse(&term, QEvent::MouseButtonRelease, end);
    } else if (word == "wheel") {
      const QPointF at(10, 10);
      QWheelEvent e(at, term.mapToGlobal(at), {}, QPoint(0, 120 * arg.toInt()), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
      QApplication::sendEvent(&term, &e);
    } else if (word == "close") {
      port.Close();
    } else if (word == "open") {
      port.Open();
    } else if (word == "wait") {
      Pause(arg.toInt());
    } else if (word == "shot") {
      Pause(50);
      term.grab().save(QDir(shots).filePath(arg + ".png"));
    } else if (word == "dump") {
      const TVtEmulator& e = term.Emulator();
      for (int r = 0; r < e.Rows(); ++r) {
        const int l = e.ScrollbackCount() + r;
        std::printf("%2d|%s|\n", r + 1, e.Text(l, 0, l, e.Columns()).c_str());
      }
      std::fflush(stdout);
    } else if (word == "quit") {
      break;
    } else {
      std::fprintf(stderr, "term-session: line %d: what is \"%s\"?\n", line, qPrintable(word));
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QString script, shots = ".";
  FILE* log = nullptr;
  int fontSize = 0;
  TTermEmulation emulation = teVT100;
  int first = 1;
  for (; first < argc; ++first) {
    const QString a = argv[first];
    if (a == "--script" && first + 1 < argc) script = argv[++first];
    else if (a == "--shots" && first + 1 < argc) shots = argv[++first];
    else if (a == "--log" && first + 1 < argc) log = std::fopen(argv[++first], "wb");
    else if (a == "--font-size" && first + 1 < argc) fontSize = std::atoi(argv[++first]);
    else if (a == "--emulation" && first + 1 < argc) {
      const QString e = argv[++first];
      emulation = e == "none" ? teNone : e == "vt52" ? teVT52 : teVT100;
    }
    else if (a == "--") { ++first; break; }
    else break;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: term-session [--script FILE] [--shots DIR] [--log FILE] [--font-size PT]\n"
                 "                    [--emulation vt100|vt52|none] -- COMMAND [ARGS...]\n");
    return 2;
  }

  SetWakeMainThread([] { QMetaObject::invokeMethod(qApp, [] { CheckSynchronize(); }, Qt::QueuedConnection); });

  int lineMaster = -1, lineSlave = -1;
  char linePath[256];
  if (::openpty(&lineMaster, &lineSlave, linePath, nullptr, nullptr) != 0) return 1;
  int hostMaster = -1;
  pid_t child = -1;
  std::atomic<bool> stop{false};
  std::thread bridge;
  // The program starts once the control is up and running, so that what it
  // asks the terminal first is answered as soon as a terminal would.
  auto start = [&] {
    winsize size{24, 80, 0, 0};
    child = ::forkpty(&hostMaster, nullptr, nullptr, &size);
    if (child == 0) {
      ::setenv("TERM", "vt100", 1);
      ::execvp(argv[first], argv + first);
      std::perror("term-session: exec");
      ::_exit(127);
    }
    if (child > 0) bridge = std::thread(Bridge, lineMaster, hostMaster, log, std::cref(stop));
    return child > 0;
  };

  int rc = 0;
  {
    TComPort port;
    port.SetPort(linePath);
    port.SetBaudRate(br115200);
    TComTerminal term;
    term.setWindowTitle("term-session");
    term.SetComPort(&port);
    term.SetEmulation(emulation);
    if (fontSize > 0) {
      QFont f = term.Font();
      f.setPointSize(fontSize);
      term.SetFont(f);
    }
    port.Open();
    term.resize(term.sizeHint());
    // The window follows the screen between 80 and 132 columns.
    QObject::connect(&term, &TComTerminal::ScreenResized, &term, [&term] { term.resize(term.sizeHint()); });
    term.show();
    term.setFocus();
    QTimer::singleShot(0, [&] {
      if (!start()) {
        rc = 1;
        app.quit();
      } else if (!script.isEmpty()) {
        rc = RunScript(term, port, script, shots);
        app.quit();
      }
    });
    app.exec();
  }
  stop = true;
  if (child > 0) {
    ::kill(child, SIGHUP);
    ::waitpid(child, nullptr, 0);
  }
  if (bridge.joinable()) bridge.join();
  if (hostMaster >= 0) ::close(hostMaster);
  if (log) std::fclose(log);
  ::close(lineMaster);
  ::close(lineSlave);
  SetWakeMainThread(nullptr);
  return rc;
}

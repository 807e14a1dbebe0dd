// SPDX-License-Identifier: MIT
// The terminal control under a flood (figures, not a test):
//   term-bench [SECONDS]     (default 5 per stream)
// Offscreen, the control follows a port on one end of a pseudo-terminal
// pair while a thread writes to the other end as fast as the pair takes
// bytes.  For each stream it prints the bytes per second shown, the paints
// per second, and the longest a 50 ms timer on the GUI thread fired late
// during the flood (target: under 100 ms).
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "CPortTerm.h"

using namespace cport;

namespace {

std::string PlainLines() {
  std::string s;
  for (int i = 0; i < 2000; ++i) {
    std::string line = "line " + std::to_string(i) + ": ";
    while (line.size() < 78) line += static_cast<char>('a' + (line.size() * 7 + i) % 26);
    s += line + "\r\n";
  }
  return s;
}

// Cursor moves, colours, and scrolls of a region, as a full-screen program
// sends them.
std::string EscapeHeavy() {
  std::string s = "\x1b[5;20r";
  for (int i = 0; i < 3000; ++i) {
    s += "\x1b[" + std::to_string(1 + i % 24) + ";" + std::to_string(1 + (i * 13) % 70) + "H";
    s += "\x1b[1;" + std::to_string(31 + i % 7) + ";" + std::to_string(40 + (i / 7) % 8) + "m";
    s += "status " + std::to_string(i) + "\x1b[0m\x1b[K";
    if (i % 5 == 0) s += "\x1b[20;1H\n";
  }
  return s + "\x1b[r";
}

std::string Utf8Text() {
  std::string s;
  for (int i = 0; i < 2000; ++i) s += "Grüße, Ελληνικά, Кириллица, ½ € ✓ " + std::to_string(i) + "\r\n";
  return s;
}

struct TResult {
  double Seconds = 0, BytesPerSecond = 0, PaintsPerSecond = 0, LongestLateMs = 0;
};

class PaintCounter : public QObject {
 public:
  long Paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

TResult Flood(const std::string& pattern, double seconds) {
  int master = -1, slave = -1;
  char path[256];
  if (::openpty(&master, &slave, path, nullptr, nullptr) != 0) {
    std::perror("openpty");
    std::exit(1);
  }
  TComPort port;
  port.SetPort(path);
  port.SetBaudRate(br115200);
  TComTerminal term;
  term.SetComPort(&port);
  // What reached the control, counted beside it on the same port.
  std::atomic<long long> shown{0};
  TComLink counter;
  counter.OnRxBuf = [&](TCustomComPort*, const void*, int32_t n) { shown += n; };
  port.RegisterLink(&counter);
  port.Open();
  term.resize(term.sizeHint());
  term.show();
  PaintCounter paints;
  term.installEventFilter(&paints);

  std::atomic<bool> stop{false};
  std::atomic<long long> written{0};
  std::thread writer([&] {
    while (!stop) {
      for (size_t done = 0; done < pattern.size() && !stop;) {
        const ssize_t w = ::write(master, pattern.data() + done, std::min<size_t>(4096, pattern.size() - done));
        if (w > 0) {
          done += static_cast<size_t>(w);
          written += w;
        } else if (w < 0 && errno != EINTR && errno != EAGAIN) {
          return;
        }
      }
    }
  });
  // The far end never reads what the control answers; drain it so that the
  // answers cannot fill the pair and stall the GUI thread's writes.
  std::thread reader([&] {
    char buf[4096];
    while (!stop) {
      if (::read(master, buf, sizeof buf) < 0 && errno != EINTR && errno != EAGAIN) return;
    }
  });

  QElapsedTimer clock;
  clock.start();
  qint64 last = 0, longestLate = 0;
  QTimer tick;
  tick.setInterval(50);
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    longestLate = std::max(longestLate, now - last - 50);
    last = now;
  });
  const long long shownAtStart = shown;
  paints.Paints = 0;
  tick.start();
  last = clock.elapsed();
  QTimer::singleShot(static_cast<int>(seconds * 1000), qApp, &QCoreApplication::quit);
  QApplication::exec();
  tick.stop();
  TResult r;
  r.Seconds = static_cast<double>(clock.elapsed()) / 1000;
  r.BytesPerSecond = static_cast<double>(shown - shownAtStart) / r.Seconds;
  r.PaintsPerSecond = static_cast<double>(paints.Paints) / r.Seconds;
  r.LongestLateMs = static_cast<double>(longestLate);

  stop = true;
  ::close(slave);  // ends the reader's and writer's waits on the pair
  port.Close();
  ::close(master);
  writer.join();
  reader.join();
  port.UnRegisterLink(&counter);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  SetWakeMainThread([] { QMetaObject::invokeMethod(qApp, [] { CheckSynchronize(); }, Qt::QueuedConnection); });
  const std::pair<const char*, std::string> streams[] = {
      {"plain 80-column lines", PlainLines()}, {"escape-heavy", EscapeHeavy()}, {"UTF-8 text", Utf8Text()}};
  std::printf("%-22s %10s %10s %12s\n", "stream", "MB/s shown", "paints/s", "longest late");
  for (const auto& [name, bytes] : streams) {
    const TResult r = Flood(bytes, seconds);
    std::printf("%-22s %10.2f %10.1f %9.0f ms\n", name, r.BytesPerSecond / 1e6, r.PaintsPerSecond, r.LongestLateMs);
    std::fflush(stdout);
  }
  SetWakeMainThread(nullptr);
  return 0;
}

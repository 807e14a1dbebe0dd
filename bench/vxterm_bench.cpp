// SPDX-License-Identifier: MIT
// vxterm-bench: vxterm's figures on pseudo-terminals, without a display.
//   vxterm-bench [seconds] [megabytes]     (defaults 10 and 32)
//
// cpu:   starts the real vxterm program (offscreen, private settings) on a
//        pseudo-terminal with timestamps and a text log, and feeds it lines
//        of 80 characters at the pace of 115200 baud (11520 bytes a
//        second); after ten seconds (the scrollback full, as in any long
//        session) measures the CPU time of the whole process (all threads,
//        user and system) per second of wall time in three windows of the
//        given length, and takes the median.  Target: under 3 % of one
//        core.  Every line sent must be in the log.
// flood: a vxterm window in this process on a pseudo-terminal whose far end
//        writes text as fast as it can; a 50 ms timer on the GUI thread
//        notes how late each tick comes, and the log (a capture of the raw
//        bytes) must hold every byte, in order.  Targets: no tick later
//        than 100 ms; nothing lost.
// Exit code 0 when every target is met.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <vector>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "Application.h"
#include "ProcessCpu.h"
#include "Session.h"
#include "Window.h"

extern char** environ;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "vxterm-bench: %s\n", why.c_str());
  std::exit(2);
}

// A pseudo-terminal whose far end this program plays.
struct TLine {
  TLine() {
    char name[256];
    if (::openpty(&Master, &Slave, name, nullptr, nullptr) != 0) Fail("openpty failed");
    Path = name;
  }
  ~TLine() {
    ::close(Master);
    ::close(Slave);
  }
  void Write(const std::string& bytes) const {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(Master, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno != EINTR && errno != EAGAIN) Fail("writing the far end failed");
      if (n > 0) done += static_cast<size_t>(n);
    }
  }
  int Master = -1, Slave = -1;
  std::string Path;
};

// Line n of the text sent: 80 characters and CR LF.
std::string TextLine(size_t n) {
  char head[32];
  std::snprintf(head, sizeof head, "line %08zu ", n);
  std::string line = head;
  for (size_t i = 0; line.size() < 80; ++i) line += static_cast<char>('a' + (n + i) % 26);
  return line + "\r\n";
}

double CpuSeconds(pid_t pid) {
  const auto seconds = bench::ProcessCpuSeconds(pid);
  if (!seconds) Fail("cannot read /proc/" + std::to_string(pid) + "/stat");
  return *seconds;
}

std::string ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll().toStdString();
}

size_t CountLines(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t p = 0; (p = text.find(part, p)) != std::string::npos; p += part.size()) ++n;
  return n;
}

// The machine is shared: the figures come with how busy it was.
std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = Clock::now() + milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

bool CpuFigure(int seconds, const QString& home) {
  TLine line;
  const QString log = home + "/cpu.log";
  pid_t pid = 0;
  char program[] = VXTERM_PATH;
  std::string port = line.Path, logArg = log.toStdString();
  char stamps[] = "--timestamps", logOption[] = "--log";
  char* argv[] = {program, port.data(), stamps, logOption, logArg.data(), nullptr};
  if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) Fail("cannot start " VXTERM_PATH);
  // Connected once the note is in the log.
  const auto started = Clock::now();
  while (ReadAll(log).find("Connected to") == std::string::npos) {
    if (Clock::now() - started > std::chrono::seconds(20)) Fail("vxterm did not connect");
    std::this_thread::sleep_for(milliseconds(20));
  }
  // Lines at the line's pace: ten seconds to fill the terminal's
  // scrollback (the steady state of a long session), then three windows
  // of the given length, each measured on its own.
  const double bytesPerSecond = 115200.0 / 10.0;
  const auto t0 = Clock::now();
  size_t lines = 0, bytes = 0;
  auto feedUntil = [&](Clock::time_point end) {
    while (Clock::now() < end) {
      const std::string text = TextLine(lines++);
      line.Write(text);
      bytes += text.size();
      std::this_thread::sleep_until(t0 + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(double(bytes) / bytesPerSecond)));
    }
  };
  feedUntil(t0 + std::chrono::seconds(10));
  std::vector<double> windows;
  for (int w = 0; w < 3; ++w) {
    const double c0 = CpuSeconds(pid);
    const auto w0 = Clock::now();
    feedUntil(w0 + std::chrono::seconds(seconds));
    const double c1 = CpuSeconds(pid);
    windows.push_back(100.0 * (c1 - c0) / std::chrono::duration<double>(Clock::now() - w0).count());
  }
  const double rate = double(bytes) / std::chrono::duration<double>(Clock::now() - t0).count();
  // The last lines reach the log.
  std::this_thread::sleep_for(milliseconds(300));
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  const std::string text = ReadAll(log);
  const size_t logged = CountLines(text, " line ");
  std::vector<double> sorted = windows;
  std::sort(sorted.begin(), sorted.end());
  const double percent = sorted[1];
  const bool ok = percent < 3.0 && logged == lines;
  std::printf("cpu: %.2f %% of one core (median of %.2f, %.2f, %.2f over %d s each) at %.0f bytes/s with "
              "timestamps and a log; %zu lines of 82 bytes, %zu in the log with their times; load average %s; "
              "target < 3 %% and every line: %s\n",
              percent, windows[0], windows[1], windows[2], seconds, rate, lines, logged, LoadAverage().c_str(),
              ok ? "met" : "MISSED");
  return ok;
}

bool FloodFigure(int megabytes, const QString& home) {
  TLine line;
  vxterm::TSettings settings;
  settings.Line.Port = line.Path;
  settings.Line.Baud = 115200;
  vxterm::TTermWindow window(settings);
  const QString capture = home + "/flood.bin";
  window.SetLog(capture, true);
  window.show();
  window.Start();
  if (window.Session().State() != vxterm::EState::Connected) Fail("the window did not connect");

  std::string sent;
  for (size_t n = 0; sent.size() < size_t(megabytes) * 1024 * 1024; ++n) sent += TextLine(n);
  // The ticks: each one's lateness against the one before.
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0, worst = 0, ticks = 0;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(50);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    if (ticks++ > 0) worst = std::max(worst, now - last - 50);
    last = now;
  });
  tick.start();
  std::atomic<bool> written{false};
  const auto t0 = Clock::now();
  std::thread writer([&] {
    line.Write(sent);
    written = true;
  });
  const bool all = WaitFor([&] { return written && window.Session().ReceivedCount() >= int64_t(sent.size()); }, 600000);
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  tick.stop();
  writer.join();
  window.SetLog(QString(), false);  // closes the file
  const bool whole = ReadAll(capture) == sent;
  const bool ok = all && whole && worst <= 100;
  std::printf("flood: %.1f MiB in %.2f s (%.1f MB/s) shown and logged; 50 ms timer: %lld ticks, latest %lld ms "
              "late; log %s; load average %s; targets <= 100 ms late and nothing lost: %s\n",
              double(sent.size()) / 1048576.0, seconds, double(sent.size()) / seconds / 1e6, ticks, worst,
              whole ? "holds every byte in order" : "DIFFERS", LoadAverage().c_str(), ok ? "met" : "MISSED");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const int megabytes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 32;
  QTemporaryDir home;
  if (!home.isValid()) Fail("no temporary folder");
  // Never a display, never the user's own settings.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
  const bool cpu = CpuFigure(seconds, home.path());
  vxterm::TApplication app(argc, argv);
  const bool flood = FloodFigure(megabytes, home.path());
  return cpu && flood ? 0 : 1;
}

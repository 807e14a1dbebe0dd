// SPDX-License-Identifier: MIT
// panel-bench: the control panel's two figures against the simulated
// generator, on pseudo-terminals, without a display.
//   panel-bench [seconds]        (default 10)
//
// cpu:     starts the real vxpanel program (offscreen, private settings that
//          point it at a simulated generator), lets it reach its measurement
//          loop, and measures the CPU time of the whole process (all its
//          threads, user and system) per second of wall time over the
//          period.  Target: under 1 % of one core.
// latency: a panel in this process on a second simulated generator; the
//          power bar is moved at random moments and the time from the change
//          to the set frame's arrival at the generator is taken.  Target: at
//          most one measurement loop (300 ms) plus the frame's time on the
//          line (10 bytes at 9600 baud, about 10 ms).
// Exit code 0 when both targets are met.
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Application.h"
#include "ProcessCpu.h"
#include "Main.h"
#include "Simulator.h"

extern char** environ;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "panel-bench: %s\n", why.c_str());
  std::exit(2);
}

vxsim::TModelOptions Model() {
  vxsim::TModelOptions m;
  m.Wobble = 0;
  return m;
}

size_t Count(const vxsim::TSimulator& sim, const std::string& frame, Clock::time_point from = {}) {
  size_t n = 0;
  for (const auto& e : sim.Events())
    if (e.Kind == vxsim::EEvent::Received && e.Bytes == frame && e.When >= from) ++n;
  return n;
}

double CpuSeconds(pid_t pid) {
  const auto seconds = bench::ProcessCpuSeconds(pid);
  if (!seconds) Fail("cannot read /proc/" + std::to_string(pid) + "/stat");
  return *seconds;
}

void WriteSettings(const QString& home, const std::string& port) {
  QDir().mkpath(home + "/Morvaleq");
  QFile f(home + "/Morvaleq/KV.conf");
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) Fail("cannot write settings");
  f.write(("[ComPort]\nPort=" + port + "\nDataBits=3\nParity=0\nFlowControl=2\nBaudRate=7\n").c_str());
}

bool Poll(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = Clock::now() + milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

// Runs the event loop for ms milliseconds.
void Run(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

bool CpuFigure(int seconds, const QString& home) {
  vxsim::TSimulator sim{vxsim::TGeneratorModel(Model())};
  sim.Start();
  WriteSettings(home, sim.Path());
  pid_t pid = 0;
  char program[] = VXPANEL_PATH;
  char* argv[] = {program, nullptr};
  if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) Fail("cannot start " VXPANEL_PATH);
  const bool looping = Poll([&] { return Count(sim, "%05?\r") >= 2; }, 15000);
  bool ok = false;
  if (looping) {
    const double c0 = CpuSeconds(pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double c1 = CpuSeconds(pid);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double percent = 100.0 * (c1 - c0) / wall;
    const size_t polls = Count(sim, "%05?\r", t0);
    ok = percent < 1.0;
    std::printf("cpu: %.2f %% of one core over %.1f s (%.3f s CPU; %zu status polls, one per %.0f ms) "
                "target < 1 %%: %s\n",
                percent, wall, c1 - c0, polls, polls ? 1000.0 * wall / double(polls) : 0.0, ok ? "met" : "MISSED");
  } else {
    std::printf("cpu: the panel did not reach its measurement loop\n");
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return ok;
}

bool LatencyFigure(const QString& home) {
  vxsim::TSimulator sim{vxsim::TGeneratorModel(Model())};
  sim.Start();
  WriteSettings(home, sim.Path());
  vxpanel::TMainForm form;
  form.show();
  if (!Poll([&] { return Count(sim, "%05?\r") >= 1; }, 15000)) Fail("the in-process panel did not start polling");

  std::mt19937 random(7);
  std::uniform_int_distribution<int> pause(0, 300);
  std::vector<double> delays;
  for (int i = 0; i < 40; ++i) {
    Run(pause(random));
    const int value = form.TBpower->value() == 60 ? 61 : 60;
    char frame[16];
    std::snprintf(frame, sizeof frame, "#05p%05d\r", value);
    const auto t0 = Clock::now();
    form.TBpower->setValue(value);
    if (!Poll([&] { return Count(sim, frame, t0) > 0; }, 5000)) Fail("a set frame never arrived");
    for (const auto& e : sim.Events())
      if (e.Kind == vxsim::EEvent::Received && e.Bytes == frame && e.When >= t0)
        delays.push_back(std::chrono::duration<double, std::milli>(e.When - t0).count());
  }
  std::sort(delays.begin(), delays.end());
  const double mean = std::accumulate(delays.begin(), delays.end(), 0.0) / double(delays.size());
  const double limit = 300.0 + 10.0 * 1000.0 / 960.0;
  const bool ok = delays.back() <= limit;
  std::printf("latency: %zu changes, mean %.0f ms, median %.0f ms, max %.0f ms; target <= %.0f ms: %s\n",
              delays.size(), mean, delays[delays.size() / 2], delays.back(), limit, ok ? "met" : "MISSED");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  QTemporaryDir home;
  if (!home.isValid()) Fail("no temporary folder");
  // The panels here never see a display or the user's own settings.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
  const bool cpu = CpuFigure(seconds, home.path());
  vxpanel::TApplication app(argc, argv);
  vxpanel::SetErrorReporter([](const QString& text) { std::fprintf(stderr, "panel: %s\n", qPrintable(text)); });
  const bool latency = LatencyFigure(home.path());
  return cpu && latency ? 0 : 1;
}

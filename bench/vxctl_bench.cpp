// SPDX-License-Identifier: MIT
// vxctl-bench: how long a whole `vxctl status` process takes against the
// vxgen-sim program (its default 5 ms reply delay, on a pseudo-terminal, so
// no line time), start-up and exit included, as a script sees it.
//   vxctl-bench [runs]        (default 200)
//
// Runs vxctl once with --port and once with the panel's stored port
// settings (a private settings folder pointing at the simulator), each
// `runs` times after a few warm-up runs, and prints min, median, 90th
// percentile and max of the wall time from spawn to exit.
// Target: median under 40 ms.  On a real line at 9600 8N1 add the frames'
// time on the wire (26 bytes, about 27 ms).  Exit code 0 when met.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(std::vector<std::string> args, int out) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out, 1);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// Milliseconds of one run, or a negative number when it failed.
double RunOnce(const std::vector<std::string>& args, int devNull) {
  const auto t0 = Clock::now();
  const pid_t pid = Spawn(args, devNull);
  if (pid < 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

bool Measure(const char* what, const std::vector<std::string>& args, int runs, int devNull, double& median) {
  for (int i = 0; i < 5; ++i) RunOnce(args, devNull);  // page cache, dynamic loader
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const double ms = RunOnce(args, devNull);
    if (ms < 0) {
      std::fprintf(stderr, "vxctl-bench: %s: run %d failed\n", what, i);
      return false;
    }
    t.push_back(ms);
  }
  std::sort(t.begin(), t.end());
  median = t[t.size() / 2];
  std::printf("%-24s runs %d  min %.1f  median %.1f  p90 %.1f  max %.1f ms\n", what, runs, t.front(), median,
              t[t.size() * 9 / 10], t.back());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  ::signal(SIGPIPE, SIG_IGN);

  // The simulator as a user starts it; its first stdout line is the terminal.
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return 2;
  const pid_t sim = Spawn({VXGEN_SIM_PATH}, out[1]);
  ::close(out[1]);
  if (sim < 0) return 2;
  std::string path;
  char c;
  pollfd p{out[0], POLLIN, 0};
  while (::poll(&p, 1, 10000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') path += c;
  if (path.empty()) {
    std::fprintf(stderr, "vxctl-bench: vxgen-sim gave no terminal\n");
    return 2;
  }

  // Private stored settings that point at the simulator.
  const std::filesystem::path home =
      std::filesystem::temp_directory_path() / ("vxctl-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(home / "Morvaleq");
  std::ofstream(home / "Morvaleq/KV.conf")
      << "[ComPort]\nPort=" << path << "\nDataBits=3\nParity=0\nFlowControl=2\nBaudRate=7\n";
  ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);

  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  double withPort = 0, stored = 0;
  const bool ok = Measure("status --port", {VXCTL_PATH, "--port", path, "status"}, runs, devNull, withPort) &&
                  Measure("status (stored port)", {VXCTL_PATH, "status"}, runs, devNull, stored);

  ::kill(sim, SIGTERM);
  ::waitpid(sim, nullptr, 0);
  std::filesystem::remove_all(home);
  if (!ok) return 2;
  const bool met = withPort < 40 && stored < 40;
  std::printf("target: median under 40 ms: %s\n", met ? "met" : "NOT met");
  return met ? 0 : 1;
}

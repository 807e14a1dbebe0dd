// SPDX-License-Identifier: MIT
// Idle means asleep: CPU time of this process while a port is open on a
// pseudo-terminal with all ten events watched and no traffic.
//   cport-idle [seconds]          (default 5)
// Prints the process's user and system CPU time over the idle period.
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "CPort.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  int master = -1, slave = -1;
  char name[256];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  cport::TComPort port;
  port.SetPort(name);
  port.SetEvents(cport::AllComEvents);
  port.Open();
  const double cpu0 = CpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = CpuSeconds() - cpu0;
  port.Close();
  std::printf("idle %.1f s with all ten events watched: CPU %.6f s (%.4f %% of one core)\n", wall, cpu,
              100.0 * cpu / wall);
  ::close(master);
  ::close(slave);
  return 0;
}

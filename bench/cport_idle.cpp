// SPDX-License-Identifier: MIT
// Idle means asleep: CPU time of this process while a port is open on a
// pseudo-terminal with all ten events watched and no traffic.
//   cport-idle [seconds] [modem]  (default 5)
// Prints the process's user and system CPU time over the idle period.  With
// "modem", the modem-line helper runs too: a pseudo-terminal has no modem
// lines, so its wait for them is stood in for by one that blocks in the
// kernel the same way.
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <string>

#include "CPort.h"
#include "ComHooksLinux.h"

namespace {

int gNoChange[2] = {-1, -1};
int StandInLineWait(int) {
  char c;
  return ::read(gNoChange[0], &c, 1) == 1 ? 0 : -1;  // nothing is ever written
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  const bool modem = argc > 2 && std::string(argv[2]) == "modem";
  if (modem) {
    if (::pipe(gNoChange) != 0) return 1;
    cport::lnx::SetModemLineWaitForTesting(StandInLineWait);
  }
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
  std::printf("idle %.1f s with all ten events watched%s: CPU %.6f s (%.4f %% of one core)\n", wall,
              modem ? " and modem lines" : "", cpu, 100.0 * cpu / wall);
  ::close(master);
  ::close(slave);
  return 0;
}

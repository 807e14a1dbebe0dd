// SPDX-License-Identifier: MIT
// The serial port component measured by the peer harness's contract:
//   cport-bench TEST SLAVE P1 [P2]
// prints READY once the port is set up, optional NOTE lines, one RESULT line.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "CPort.h"

#if defined(__linux__)
#include <poll.h>
#include <pty.h>
#include <unistd.h>
#endif

using namespace cport;
using Clock = std::chrono::steady_clock;

namespace {

const char kFrame[] = "#05p00050\r";

double NsSince(Clock::time_point t0) { return std::chrono::duration<double, std::nano>(Clock::now() - t0).count(); }

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "cport-bench: %s\n", why.c_str());
  std::exit(1);
}

void Line(const std::string& s) {
  std::fputs((s + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void Result(const std::vector<double>& values) {
  std::string s = "RESULT";
  char tmp[64];
  for (double v : values) {
    std::snprintf(tmp, sizeof tmp, " %.3f", v);
    s += tmp;
  }
  Line(s);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// 9600 8N1, raw, no flow control: the port's defaults.
void OpenPort(TComPort& port, const char* path, TComEvents events = {}) {
  port.SetPort(path);
  port.SetEvents(events);
  port.Open();
}

// A read that waits up to a second for its whole count.
void WaitingReads(TComPort& port) {
  TComTimeouts t;
  t.SetReadInterval(0);
  t.SetReadTotalM(0);
  t.SetReadTotalC(1000);
  port.SetTimeouts(t);
}

void ReadExact(TComPort& port, uint8_t* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    const int32_t r = port.Read(buf + got, static_cast<int32_t>(n - got));
    if (r <= 0) Fail("read timed out after " + std::to_string(got) + " of " + std::to_string(n) + " bytes");
    got += static_cast<size_t>(r);
  }
}

int RoundTrips(const char* path, uint64_t warmup, uint64_t timed) {
  TComPort port;
  OpenPort(port, path);
  WaitingReads(port);
  Line("READY");
  Line("NOTE lib cport (this project)");
  uint8_t buf[16];
  std::vector<double> us;
  us.reserve(timed);
  for (uint64_t i = 0; i < warmup + timed; ++i) {
    const auto t0 = Clock::now();
    if (port.WriteStr(kFrame) != 10) Fail("short write");
    ReadExact(port, buf, 10);
    const double ns = NsSince(t0);
    if (std::memcmp(buf, kFrame, 10) != 0) Fail("echo differs");
    if (i >= warmup) us.push_back(ns / 1000.0);
  }
  Result(us);
  return 0;
}

int EmptyReads(const char* path, uint64_t calls, uint64_t batches) {
  TComPort port;
  OpenPort(port, path);
  Line("READY");
  Line("NOTE lib cport (this project)");
  std::vector<uint8_t> buf(4096);
  std::vector<double> perCall;
  for (uint64_t b = 0; b < batches; ++b) {
    const auto t0 = Clock::now();
    for (uint64_t i = 0; i < calls; ++i)
      if (port.Read(buf.data(), 4096) != 0) Fail("data where none was sent");
    perCall.push_back(NsSince(t0) / static_cast<double>(calls));
  }
  Result(perCall);
  return 0;
}

int BulkWrite(const char* path, uint64_t total, uint64_t chunk) {
  if (chunk == 0 || chunk % 256 != 0) Fail("chunk must be a multiple of 256");
  TComPort port;
  OpenPort(port, path);
  // A bulk write must not end by its per-byte time-out on a busy far end.
  port.Timeouts().SetWriteTotalM(0);
  port.Timeouts().SetWriteTotalC(0);
  std::vector<uint8_t> buf(chunk);
  for (size_t k = 0; k < chunk; ++k) buf[k] = static_cast<uint8_t>(k);
  Line("READY");
  Line("NOTE lib cport (this project)");
  const auto t0 = Clock::now();
  for (uint64_t done = 0; done < total;) {
    const auto n = static_cast<int32_t>(std::min<uint64_t>(chunk, total - done));
    if (port.Write(buf.data(), n) != n) Fail("short write");
    done += static_cast<uint64_t>(n);
  }
  const double seconds = NsSince(t0) / 1e9;
  Result({static_cast<double>(total) / 1e6 / seconds});
  return 0;
}

int BulkRead(const char* path, uint64_t total, uint64_t ask) {
  if (ask == 0) Fail("read size must be positive");
  TComPort port;
  OpenPort(port, path);
  // Return as soon as anything has arrived, waiting up to a second for it.
  port.Timeouts().SetReadInterval(-1);
  port.Timeouts().SetReadTotalM(-1);
  port.Timeouts().SetReadTotalC(1000);
  std::vector<uint8_t> buf(ask);
  Line("READY");
  Line("NOTE lib cport (this project)");
  uint64_t got = 0;
  Clock::time_point t0;
  while (got < total) {
    const auto want = static_cast<int32_t>(std::min<uint64_t>(ask, total - got));
    const int32_t n = port.Read(buf.data(), want);
    if (n <= 0) Fail("read timed out after " + std::to_string(got) + " bytes");
    if (got == 0) t0 = Clock::now();
    for (int32_t i = 0; i < n; ++i)
      if (buf[static_cast<size_t>(i)] != static_cast<uint8_t>((got + static_cast<uint64_t>(i)) % 256))
        Fail("pattern broken at byte " + std::to_string(got + static_cast<uint64_t>(i)));
    got += static_cast<uint64_t>(n);
  }
  const double seconds = NsSince(t0) / 1e9;
  Result({static_cast<double>(total) / 1e6 / seconds});
  return 0;
}

std::vector<double> OpenCloseCycles(const char* path, uint64_t iterations, TComEvents events) {
  std::vector<double> us;
  for (uint64_t i = 0; i < iterations; ++i) {
    const auto t0 = Clock::now();
    {
      TComPort port;
      OpenPort(port, path, events);
      port.Close();
    }
    us.push_back(NsSince(t0) / 1000.0);
  }
  return us;
}

int OpenClose(const char* path, uint64_t iterations) {
  Line("READY");
  Line("NOTE lib cport (this project)");
  // The control panel's port watches all ten events: its open and close also
  // start and end the event thread.  A fixed count keeps the harness's
  // per-operation system call figures (a difference of two runs) exact.
  const auto withThread = OpenCloseCycles(path, 30, AllComEvents);
  char note[128];
  std::snprintf(note, sizeof note, "NOTE with all ten events watched: median %.1f us", Median(withThread));
  Line(note);
  Result(OpenCloseCycles(path, iterations, {}));
  return 0;
}

#if defined(__linux__)
// Not for the harness: what a transfer costs once it goes pending.  Round
// trips of the frame over a pseudo-terminal this program echoes itself; the
// read waits for the echo (a) in a blocking Read, moved by the caller, and
// (b) as a ReadAsync nobody waits for, moved by the device's helper thread
// while the caller only asks IsAsyncCompleted (which never waits).
int PendingCost(uint64_t timed) {
  int master = -1, slave = -1;
  char name[256];
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) Fail("openpty failed");
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    char b[64];
    while (!stop) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::read(master, b, sizeof b);
      if (n > 0 && ::write(master, b, static_cast<size_t>(n)) != n) Fail("echo failed");
    }
  });
  TComPort port;
  OpenPort(port, name);
  WaitingReads(port);
  uint8_t buf[16];
  std::vector<double> blocking, unattended;
  PAsync a = nullptr;
  InitAsync(a);
  double firstPending = 0;
  for (uint64_t i = 0; i < 100 + timed; ++i) {
    auto t0 = Clock::now();
    if (port.WriteStr(kFrame) != 10) Fail("short write");
    ReadExact(port, buf, 10);
    if (i >= 100) blocking.push_back(NsSince(t0) / 1000.0);
    t0 = Clock::now();
    if (port.WriteStr(kFrame) != 10) Fail("short write");
    if (port.ReadAsync(buf, 10, a) == 0)
      while (!port.IsAsyncCompleted(a)) std::this_thread::yield();
    const double us = NsSince(t0) / 1000.0;
    if (port.WaitForAsync(a) != 10 || std::memcmp(buf, kFrame, 10) != 0) Fail("echo differs");
    if (i == 0) firstPending = us;
    if (i >= 100) unattended.push_back(us);
  }
  DoneAsync(a);
  port.Close();
  stop = true;
  echo.join();
  ::close(slave);
  ::close(master);
  std::printf("round trip, median of %llu: blocking %.1f us, unattended overlapped %.1f us (first one, starting the helper: %.1f us)\n",
              static_cast<unsigned long long>(timed), Median(blocking), Median(unattended), firstPending);
  return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s M1|M2|M3W|M3R|M4 SLAVE P1 [P2]   or   %s PENDING - ROUNDTRIPS\n", argv[0], argv[0]);
    return 2;
  }
  const std::string test = argv[1];
  const char* path = argv[2];
  const uint64_t p1 = std::strtoull(argv[3], nullptr, 10);
  const uint64_t p2 = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 0;
  try {
    if (test == "M1") return RoundTrips(path, p1, p2);
    if (test == "M2") return EmptyReads(path, p1, p2);
    if (test == "M3W") return BulkWrite(path, p1, p2);
    if (test == "M3R") return BulkRead(path, p1, p2);
    if (test == "M4") return OpenClose(path, p1);
#if defined(__linux__)
    if (test == "PENDING") return PendingCost(p1);  // makes its own pseudo-terminal
#endif
  } catch (const std::exception& e) {
    Fail(e.what());
  }
  std::fprintf(stderr, "unsupported test %s\n", test.c_str());
  return 2;
}

// SPDX-License-Identifier: MIT
// The packet splitter's figures:
//   packet-bench [frames]          (end-to-end frames, default 100000)
//  - AddData alone: 20-byte "\r\n" frames in 4 KiB arrivals, 4 KiB frames
//    in 64 KiB arrivals (throughput, best of five rounds), and a 1 MiB
//    packet fed one byte at a time (time, best of five);
//  - end to end over a pseudo-terminal: the far end writes the frames as
//    fast as the line takes them, a splitter on the port (event thread,
//    smThreadSync) checks that each arrives once and in order; frames per
//    second and the process's CPU time.
// Exits 1 if a frame is lost, doubled or out of order.
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "CPortPacket.h"

using namespace cport;
using Clock = std::chrono::steady_clock;

namespace {

double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Frame i: "F", eight digits, padding to frameSize - 2, then CR LF.
std::string Frames(size_t count, size_t frameSize) {
  std::string all;
  all.reserve(count * frameSize);
  char digits[32];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(digits, sizeof digits, "F%08zu", i);
    std::string f(digits);
    f.resize(frameSize - 2, '.');
    all += f + "\r\n";
  }
  return all;
}

// Bytes per second through AddData, best of five rounds.
double SplitRate(const std::string& bytes, size_t arrival, size_t frameSize, int32_t max) {
  double best = 0;
  for (int round = 0; round < 5; ++round) {
    TComDataPacket s;
    s.SetStopString("\r\n");
    s.SetMaxBufferSize(max);
    size_t packets = 0, payload = 0;
    s.OnPacket = [&](TComDataPacket*, const std::string& p) {
      ++packets;
      payload += p.size();
    };
    size_t fed = 0;
    const auto t0 = Clock::now();
    while (SecondsSince(t0) < 0.4) {
      for (size_t at = 0; at < bytes.size(); at += arrival) {
        const size_t n = std::min(arrival, bytes.size() - at);
        s.AddData(bytes.data() + at, static_cast<int32_t>(n));
      }
      fed += bytes.size();
    }
    const double rate = static_cast<double>(fed) / SecondsSince(t0);
    if (packets != fed / frameSize || payload != packets * (frameSize - 2)) {
      std::fprintf(stderr, "packet-bench: %zu packets from %zu bytes\n", packets, fed);
      std::exit(1);
    }
    best = std::max(best, rate);
  }
  return best;
}

double OneBytePacketMs() {
  const std::string payload(1 << 20, 'x');
  double best = 1e9;
  for (int round = 0; round < 5; ++round) {
    TComDataPacket s;
    s.SetStopString("\r\n");
    s.SetMaxBufferSize(2 << 20);
    size_t got = 0;
    s.OnPacket = [&](TComDataPacket*, const std::string& p) { got = p.size(); };
    const auto t0 = Clock::now();
    for (char c : payload) s.AddData(&c, 1);
    s.AddData("\r", 1);
    s.AddData("\n", 1);
    best = std::min(best, SecondsSince(t0) * 1000);
    if (got != payload.size()) {
      std::fprintf(stderr, "packet-bench: the 1 MiB packet came as %zu bytes\n", got);
      std::exit(1);
    }
  }
  return best;
}

int EndToEnd(size_t count) {
  int master = -1, slave = -1;
  char name[256];
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::fprintf(stderr, "packet-bench: openpty failed\n");
    return 1;
  }
  const std::string all = Frames(count, 20);
  TComPort port;
  port.SetPort(name);
  TComDataPacket s;
  s.SetStopString("\r\n");
  size_t next = 0;
  bool ok = true;
  char expect[32];
  s.OnPacket = [&](TComDataPacket*, const std::string& p) {
    std::snprintf(expect, sizeof expect, "F%08zu", next);
    if (p.size() != 18 || p.compare(0, 9, expect) != 0) ok = false;
    ++next;
  };
  s.OnDiscard = [&](TComDataPacket*, const std::string&) { ok = false; };
  s.SetComPort(&port);
  port.Open();

  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  std::thread far([&] {
    for (size_t at = 0; at < all.size();) {
      const ssize_t w = ::write(master, all.data() + at, std::min<size_t>(all.size() - at, 4096));
      if (w > 0) at += static_cast<size_t>(w);
      else if (errno != EINTR && errno != EAGAIN) break;
    }
  });
  const bool done = SynchronizeUntil([&] { return next >= count || !ok; }, 60000);
  const double wall = SecondsSince(t0);
  const double cpu = CpuSeconds() - cpu0;
  far.join();
  port.Close();
  ::close(master);
  ::close(slave);
  std::printf("end to end over a pseudo-terminal: %zu frames of 20 bytes in %.3f s: %.0f frames/s; "
              "process CPU %.3f s (%.0f%% of one core); %s\n",
              next, wall, static_cast<double>(next) / wall, cpu, 100 * cpu / wall,
              done && ok && next == count ? "every frame once and in order" : "FRAMES LOST OR OUT OF ORDER");
  return done && ok && next == count ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t frames = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
  const std::string small = Frames(200000, 20);
  const std::string large = Frames(1024, 4096);
  const double smallRate = SplitRate(small, 4096, 20, 1024);
  std::printf("AddData, 20-byte \"\\r\\n\" frames in 4 KiB arrivals: %.0f MB/s (%.1f M frames/s; target >= 200 MB/s)\n",
              smallRate / 1e6, smallRate / 20 / 1e6);
  const double largeRate = SplitRate(large, 65536, 4096, 8192);
  std::printf("AddData, 4 KiB frames in 64 KiB arrivals: %.0f MB/s (target >= 1000 MB/s)\n", largeRate / 1e6);
  std::printf("AddData, a 1 MiB packet one byte at a time: %.1f ms (target < 50 ms)\n", OneBytePacketMs());
  std::fflush(stdout);
  return EndToEnd(frames);
}

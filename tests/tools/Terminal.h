// SPDX-License-Identifier: MIT
// The panel's end of the simulator's line: opens the terminal by its path,
// raw, as the serial component would.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>

namespace vxsim::test {

class TTerminal {
 public:
  explicit TTerminal(const std::string& path) : FFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    if (FFd < 0) throw std::runtime_error("cannot open " + path);
    termios t{};
    ::tcgetattr(FFd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(FFd, TCSANOW, &t);
  }
  ~TTerminal() { ::close(FFd); }
  TTerminal(const TTerminal&) = delete;
  TTerminal& operator=(const TTerminal&) = delete;

  void Send(const std::string& bytes) {
    if (::write(FFd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("terminal write failed");
  }

  // Waits until n bytes have come or timeoutMs passed.
  std::string Receive(size_t n, int timeoutMs = 5000) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{FFd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buf[256];
      const ssize_t r = ::read(FFd, buf, std::min(sizeof buf, n - out.size()));
      if (r > 0) out.append(buf, static_cast<size_t>(r));
      else if (r == 0 || (errno != EAGAIN && errno != EINTR)) break;
    }
    return out;
  }

  // Whatever arrives within waitMs.
  std::string Drain(int waitMs) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return out;
      pollfd p{FFd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buf[256];
      const ssize_t r = ::read(FFd, buf, sizeof buf);
      if (r <= 0) return out;
      out.append(buf, static_cast<size_t>(r));
    }
  }

  // True once the far end has closed the line (an unplugged adapter).
  bool HungUp() {
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLHUP | POLLERR))) return false;
    return true;
  }

 private:
  int FFd;
};

}  // namespace vxsim::test

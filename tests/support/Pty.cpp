// SPDX-License-Identifier: MIT
#include "Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace cport::test {

TPty::TPty() {
  char name[256];
  if (::openpty(&FMaster, &FSlave, name, nullptr, nullptr) != 0)
    throw std::runtime_error("openpty failed");
  FPath = name;
  // The terminal end keeps the kernel's defaults (cooked, echoing): the port
  // must set up the line itself.  (termios calls on a master act on the
  // terminal end, so the master is left alone.)
  ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
}

TPty::~TPty() {
  if (FMaster >= 0) ::close(FMaster);
  if (FSlave >= 0) ::close(FSlave);
}

void TPty::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::write(FMaster, bytes.data() + done, bytes.size() - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno != EAGAIN && errno != EINTR) throw std::runtime_error("pty write failed");
    pollfd p{FMaster, POLLOUT, 0};
    ::poll(&p, 1, 100);
  }
}

std::string TPty::Receive(size_t n, int timeoutMs) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buf[4096];
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{FMaster, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t r = ::read(FMaster, buf, std::min(sizeof buf, n - out.size()));
    if (r > 0) out.append(buf, static_cast<size_t>(r));
    else if (r < 0 && errno != EAGAIN && errno != EINTR) break;
  }
  return out;
}

std::string TPty::Drain(int waitMs) {
  std::string out;
  char buf[4096];
  pollfd p{FMaster, POLLIN, 0};
  while (::poll(&p, 1, out.empty() ? waitMs : 0) > 0) {
    const ssize_t r = ::read(FMaster, buf, sizeof buf);
    if (r <= 0) break;
    out.append(buf, static_cast<size_t>(r));
  }
  return out;
}

void TPty::HangUp() {
  if (FSlave >= 0) ::close(FSlave);
  FSlave = -1;
  if (FMaster >= 0) ::close(FMaster);
  FMaster = -1;
}

}  // namespace cport::test

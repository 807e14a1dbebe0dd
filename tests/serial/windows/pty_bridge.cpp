// SPDX-License-Identifier: MIT
// A Linux program the Windows tests run beside Wine: the far end of their
// COM ports.  Each connection to it gets a fresh pseudo-terminal whose
// terminal end becomes a COM port of the Wine prefix (a dosdevices link);
// the bridge sends the port's name and a newline, then passes bytes both
// ways between the connection and the pseudo-terminal until the connection
// closes, when the link goes too.
//   pty-bridge WINEPREFIX PORT-FILE PID-FILE
// Listens on 127.0.0.1 at a free port, which it writes into PORT-FILE once
// it accepts connections.  Ends on SIGTERM, or by itself after an hour.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string gDosDevices;

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Links the terminal as the first free COM number from 50 on.
std::string LinkPort(const std::string& terminal, std::string& link) {
  for (int n = 50; n <= 250; ++n) {
    link = gDosDevices + "/com" + std::to_string(n);
    if (::symlink(terminal.c_str(), link.c_str()) == 0) return "COM" + std::to_string(n);
    if (errno != EEXIST) break;
  }
  link.clear();
  return {};
}

void Serve(int conn) {
  int master = -1, slave = -1;
  char name[256];
  std::string link, port;
  if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) port = LinkPort(name, link);
  const std::string hello = port + "\n";
  if (!port.empty() && WriteAll(conn, hello.data(), hello.size())) {
    // The terminal end stays open here too: closing the port between two
    // opens must not hang the line up.
    pollfd fds[2] = {{conn, POLLIN, 0}, {master, POLLIN, 0}};
    char buf[16384];
    for (;;) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[0].revents) {
        const ssize_t n = ::read(conn, buf, sizeof buf);
        if (n <= 0 || !WriteAll(master, buf, static_cast<size_t>(n))) break;
      }
      if (fds[1].revents) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0 || !WriteAll(conn, buf, static_cast<size_t>(n))) break;
      }
    }
  }
  if (!link.empty()) ::unlink(link.c_str());
  if (master >= 0) ::close(master);
  if (slave >= 0) ::close(slave);
  ::close(conn);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: pty-bridge WINEPREFIX PORT-FILE PID-FILE\n");
    return 2;
  }
  gDosDevices = std::string(argv[1]) + "/dosdevices";
  ::signal(SIGPIPE, SIG_IGN);
  ::alarm(3600);  // a run that never stops it does not leave it behind
  const int srv = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (srv < 0 || ::bind(srv, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(srv, 16) != 0 ||
      ::getsockname(srv, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    std::perror("pty-bridge");
    return 1;
  }
  std::ofstream(argv[3]) << ::getpid() << "\n";
  // Written whole under another name first: a reader never sees half of it.
  const std::string tmp = std::string(argv[2]) + ".new";
  std::ofstream(tmp) << ntohs(addr.sin_port) << "\n";
  ::rename(tmp.c_str(), argv[2]);
  for (;;) {
    const int conn = ::accept4(srv, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn < 0) {
      if (errno == EINTR) continue;
      std::perror("pty-bridge: accept");
      return 1;
    }
    // Small socket buffers: a far end that stops reading soon holds the
    // port's writes back, as a slow line would.
    const int size = 16384;
    ::setsockopt(conn, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    std::thread(Serve, conn).detach();
  }
}

// SPDX-License-Identifier: MIT
#include "FarEnd.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace cport::test {

namespace {

// The bridge's fixture names the file that holds its port number.
int BridgePort() {
  const char* file = std::getenv("VX_PTY_BRIDGE_PORT_FILE");
  if (!file) return 0;
  int port = 0;
  std::ifstream(file) >> port;
  return port;
}

struct TWinsock {
  TWinsock() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~TWinsock() { ::WSACleanup(); }
};

}  // namespace

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string FarEndMissing() {
  if (BridgePort() > 0 || (std::getenv("VX_TEST_PORT") && std::getenv("VX_TEST_FAR_END"))) return {};
  return "no far end: under Wine the pseudo-terminal bridge gives one (scripts/test-windows); on Windows "
         "set VX_TEST_PORT and VX_TEST_FAR_END to two COM ports wired to each other";
}

TFarEnd::TFarEnd() : FSocket(INVALID_SOCKET) {
  static TWinsock winsock;
  const int port = BridgePort();
  if (port <= 0) {
    const char* test = std::getenv("VX_TEST_PORT");
    const char* farName = std::getenv("VX_TEST_FAR_END");
    if (!test || !farName) throw std::runtime_error(FarEndMissing());
    const std::string path = std::string("\\\\.\\") + farName;
    const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error(std::string("cannot open the far end ") + farName);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(h, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = dcb.fNull = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    ::SetCommState(h, &dcb);
    ::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    FLine = h;
    FPort = test;
    return;
  }
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
  FSocket = s;
  // Small buffers: while the test does not read, the port's writes back up
  // soon, as on a slow line.
  const int size = 16384;
  ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<u_short>(port));
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot reach the pseudo-terminal bridge");
  // Its first line is the port's name.
  std::string line = Receive(1, 10000);
  while (!line.empty() && line.back() != '\n') {
    const std::string more = Receive(1, 10000);
    if (more.empty()) break;
    line += more;
  }
  if (line.size() < 2 || line.back() != '\n') throw std::runtime_error("the bridge gave no port");
  FPort = line.substr(0, line.size() - 1);
}

TFarEnd::~TFarEnd() {
  if (FSocket != INVALID_SOCKET) ::closesocket(static_cast<SOCKET>(FSocket));
  if (FLine) ::CloseHandle(FLine);
}

void TFarEnd::Send(const std::string& bytes) {
  if (FLine) {
    DWORD n = 0;
    if (!::WriteFile(FLine, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) || n != bytes.size())
      throw std::runtime_error("the far end's write failed");
    return;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const int n = ::send(static_cast<SOCKET>(FSocket), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
    if (n <= 0) throw std::runtime_error("the bridge went away");
    done += static_cast<size_t>(n);
  }
}

std::string TFarEnd::Receive(size_t n, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string got = FPending.substr(0, n);
  FPending.erase(0, got.size());
  while (got.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left < 0) break;
    if (FLine) {
      // Returns with the first bytes, or after what is left of the time.
      COMMTIMEOUTS t{MAXDWORD, MAXDWORD, static_cast<DWORD>(left / 1000 + 1), 0, 0};
      ::SetCommTimeouts(FLine, &t);
      char buf[4096];
      DWORD r = 0;
      if (!::ReadFile(FLine, buf, static_cast<DWORD>(std::min<size_t>(sizeof buf, n - got.size())), &r, nullptr)) break;
      got.append(buf, r);
      continue;
    }
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(FSocket), &set);
    timeval tv{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
    if (::select(0, &set, nullptr, nullptr, &tv) <= 0) break;
    char buf[65536];
    const int r = ::recv(static_cast<SOCKET>(FSocket), buf, sizeof buf, 0);
    if (r <= 0) break;
    got.append(buf, static_cast<size_t>(r));
  }
  if (got.size() > n) {
    FPending = got.substr(n) + FPending;
    got.resize(n);
  }
  return got;
}

}  // namespace cport::test

// SPDX-License-Identifier: MIT
// The far end of a COM port for the tests.  Under Wine: a pseudo-terminal
// on the Linux side, reached through the bridge (pty_bridge.cpp) that links
// it into the Wine prefix as "COMn".  On Windows: the port VX_TEST_FAR_END
// names, wired to VX_TEST_PORT by a null-modem cable (or a virtual pair),
// both at 115200 baud.
#pragma once

#include <cstddef>
#include <string>

namespace cport::test {

class TFarEnd {
 public:
  TFarEnd();  // throws std::runtime_error when the bridge cannot be reached
  ~TFarEnd();
  TFarEnd(const TFarEnd&) = delete;
  TFarEnd& operator=(const TFarEnd&) = delete;

  // The port's name ("COM51").
  const std::string& Port() const { return FPort; }
  // A real line (slow: tests move less over it), not a pseudo-terminal.
  bool RealLine() const { return FLine != nullptr; }
  // Sends bytes to the port.
  void Send(const std::string& bytes);
  // What the port sent: waits until n bytes have come or timeoutMs passed.
  std::string Receive(size_t n, int timeoutMs = 5000);

 private:
  unsigned long long FSocket;
  void* FLine = nullptr;  // the far end's own port on a real line
  std::string FPort;
  std::string FPending;  // received after the port's name, not yet taken
};

// Why no far end can be had here, or empty.
std::string FarEndMissing();

// Whether the test runs under Wine (its ntdll says so).
bool UnderWine();

}  // namespace cport::test

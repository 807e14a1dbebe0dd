// SPDX-License-Identifier: MIT
// A pseudo-terminal pair: the port under test opens the terminal end by its
// path, the test plays the far end on the master.
#pragma once

#include <functional>
#include <string>

#include "Wait.h"

namespace cport::test {

class TPty {
 public:
  TPty();  // throws std::runtime_error when no pair can be made
  ~TPty();
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;

  const std::string& Path() const { return FPath; }
  int Master() const { return FMaster; }
  // The test's own descriptor of the terminal end (opened before the port).
  int Slave() const { return FSlave; }

  // Sends bytes to the port.
  void Send(const std::string& bytes);
  // What the port sent: waits until n bytes have come or timeoutMs passed.
  std::string Receive(size_t n, int timeoutMs = 5000);
  // Whatever has arrived within waitMs.
  std::string Drain(int waitMs = 0);
  // Closes the far end: the port sees the line hang up.
  void HangUp();

 private:
  int FMaster = -1;
  int FSlave = -1;  // keeps the pair alive between opens of the port
  std::string FPath;
};

}  // namespace cport::test

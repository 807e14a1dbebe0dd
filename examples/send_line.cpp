// SPDX-License-Identifier: MIT
// send-line: opens the serial port named on the command line at 9600 8N1,
// sends one line ended by a carriage return and prints the line that comes
// back (or what arrived within two seconds).
//   send-line PORT TEXT        e.g. send-line /dev/ttyUSB0 '%@05SR'
#include <chrono>
#include <clocale>
#include <cstdio>
#include <string>
#include <thread>

#include "CPort.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");  // the component's texts in the user's language
  if (argc != 3) {
    std::fprintf(stderr, "usage: send-line PORT TEXT\n");
    return 2;
  }
  try {
    cport::TComPort port;     // 9600 8N1, no flow control
    port.SetPort(argv[1]);    // "COM1" is /dev/ttyS0; "/..." is a path
    port.SetEvents({});       // no event thread: poll with Read
    port.Open();
    port.WriteStr(std::string(argv[2]) + "\r");

    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (reply.find('\r') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      char buf[64];
      const int n = port.Read(buf, sizeof buf);  // returns at once with what arrived
      if (n > 0)
        reply.append(buf, static_cast<size_t>(n));
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (const auto cr = reply.find('\r'); cr != std::string::npos) reply.resize(cr);
    if (reply.empty()) {
      std::fprintf(stderr, "send-line: no answer on %s\n", argv[1]);
      return 3;
    }
    std::printf("%s\n", reply.c_str());
    return 0;
  } catch (const std::exception& e) {  // cport::EComPort: the text and the system's error number
    std::fprintf(stderr, "send-line: %s\n", e.what());
    return 1;
  }
}

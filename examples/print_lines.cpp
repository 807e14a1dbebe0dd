// SPDX-License-Identifier: MIT
// print-lines: opens the serial port named on the command line at 9600 8N1
// and prints each line the device sends, a line being what comes before a
// carriage return and line feed.  Ends after COUNT lines when one is given,
// or when the device goes away.
//   print-lines PORT [COUNT]        e.g. print-lines /dev/ttyUSB0 10
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CPort.h"
#include "CPortPacket.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");  // the component's texts in the user's language
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: print-lines PORT [COUNT]\n");
    return 2;
  }
  char* end = nullptr;
  const long count = argc == 3 ? std::strtol(argv[2], &end, 10) : 0;
  if (argc == 3 && (*end != '\0' || count < 1)) {
    std::fprintf(stderr, "print-lines: COUNT must be a whole number of 1 or more, not '%s'\n", argv[2]);
    return 2;
  }
  try {
    cport::TComPort port;  // 9600 8N1; its event thread watches the line
    port.SetPort(argv[1]);
    cport::TComDataPacket lines;  // splits what arrives at each "\r\n"
    lines.SetStopString("\r\n");
    lines.SetComPort(&port);
    long printed = 0;
    bool gone = false;
    lines.OnPacket = [&](cport::TComDataPacket*, const std::string& line) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
      ++printed;
    };
    port.OnError = [&](cport::TCustomComPort*, cport::TComErrors errors) {
      if (errors.Contains(cport::ceIO)) gone = true;  // unplugged, or the far end hung up
    };
    port.Open();
    // The main loop: the event thread hands each arrival to this thread,
    // where the splitter and the handlers above run.
    cport::SynchronizeUntil([&] { return gone || (count > 0 && printed >= count); }, -1);
    if (gone) {
      std::fprintf(stderr, "print-lines: %s went away\n", argv[1]);
      return 1;
    }
    return 0;
  } catch (const std::exception& e) {  // cport::EComPort: the text and the system's error number
    std::fprintf(stderr, "print-lines: %s\n", e.what());
    return 1;
  }
}

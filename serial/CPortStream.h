// SPDX-License-Identifier: MIT
// The port as a C++ stream: std::getline, operator<< and >> and any
// std::istream parser work on an open port.
//
//  - Reads come through the port's Read and its time-outs: a read takes
//    what is waiting, or waits for the first byte as the time-outs say (with
//    the default time-outs it does not wait).  A read that ends with nothing
//    sets eofbit; clear() and read on.  A line cut by the time-out comes back
//    with eofbit set, so it can be told from a whole one.
//  - Writes are buffered and go out through the port's Write on flush,
//    std::endl, before a read that needs the line, and on destruction.  A
//    short write (the write time-out passed) sets badbit and keeps the bytes
//    not sent for the next flush; an EComPort from the port sets badbit and
//    comes through where exceptions() asks for badbit.
//  - Bytes go as they are: no conversion of line ends.
// The stream reads what the port's links leave queued: a port whose link
// takes the received bytes (a splitter) gives the stream nothing.
#pragma once

#include <istream>
#include <streambuf>
#include <vector>

#include "CPort.h"

namespace cport {

class TComStreamBuf : public std::streambuf {
 public:
  explicit TComStreamBuf(TCustomComPort& port, size_t bufferSize = 1024);
  ~TComStreamBuf() override;  // sends what is buffered, failures unreported
  TComStreamBuf(const TComStreamBuf&) = delete;
  TComStreamBuf& operator=(const TComStreamBuf&) = delete;

  TCustomComPort& ComPort() const { return FPort; }

 protected:
  int_type underflow() override;
  int_type overflow(int_type ch) override;
  int sync() override;
  std::streamsize showmanyc() override;

 private:
  bool Send();  // false when the port took less than all

  TCustomComPort& FPort;
  std::vector<char> FIn, FOut;
};

class TComStream : public std::iostream {
 public:
  explicit TComStream(TCustomComPort& port, size_t bufferSize = 1024);
  ~TComStream() override;
  TCustomComPort& ComPort() const { return FBuf.ComPort(); }

 private:
  TComStreamBuf FBuf;
};

}  // namespace cport

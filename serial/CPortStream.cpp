// SPDX-License-Identifier: MIT
#include "CPortStream.h"

#include <algorithm>
#include <cstring>

namespace cport {

TComStreamBuf::TComStreamBuf(TCustomComPort& port, size_t bufferSize)
    : FPort(port), FIn(std::max<size_t>(bufferSize, 1)), FOut(std::max<size_t>(bufferSize, 1)) {
  setg(FIn.data(), FIn.data(), FIn.data());
  setp(FOut.data(), FOut.data() + FOut.size());
}

TComStreamBuf::~TComStreamBuf() {
  try {
    Send();
  } catch (...) {
    // A destructor cannot report: flush first to see failures.
  }
}

bool TComStreamBuf::Send() {
  const auto pending = static_cast<int32_t>(pptr() - pbase());
  if (pending == 0) return true;
  const int32_t sent = std::clamp(FPort.Write(pbase(), pending), 0, pending);
  // What did not go stays, first in line, for the next flush.
  std::memmove(FOut.data(), pbase() + sent, static_cast<size_t>(pending - sent));
  setp(FOut.data(), FOut.data() + FOut.size());
  pbump(pending - sent);
  return sent == pending;
}

int TComStreamBuf::sync() { return Send() ? 0 : -1; }

TComStreamBuf::int_type TComStreamBuf::overflow(int_type ch) {
  if (pptr() == epptr() && !Send() && pptr() == epptr()) return traits_type::eof();
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  *pptr() = traits_type::to_char_type(ch);
  pbump(1);
  return ch;
}

// What is waiting comes in one read; with nothing waiting, one byte is
// asked for, which waits as the port's time-outs say.
TComStreamBuf::int_type TComStreamBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  Send();  // a request goes out before its answer is awaited
  char* buf = FIn.data();
  const auto room = static_cast<int32_t>(FIn.size());
  const int32_t waiting = FPort.InputCount();
  int32_t got = FPort.Read(buf, waiting > 0 ? std::min(waiting, room) : 1);
  if (got > 0 && waiting == 0 && room > 1) {
    const int32_t more = FPort.InputCount();
    if (more > 0) got += FPort.Read(buf + got, std::min(more, room - got));
  }
  if (got <= 0) return traits_type::eof();
  setg(buf, buf, buf + got);
  return traits_type::to_int_type(*buf);
}

std::streamsize TComStreamBuf::showmanyc() {
  try {
    const int32_t waiting = FPort.Connected() ? FPort.InputCount() : 0;
    return waiting > 0 ? waiting : 0;
  } catch (const EComPort&) {
    return 0;  // only a guess is asked for; the read itself reports
  }
}

TComStream::TComStream(TCustomComPort& port, size_t bufferSize)
    : std::iostream(nullptr), FBuf(port, bufferSize) {
  rdbuf(&FBuf);
}

TComStream::~TComStream() = default;

}  // namespace cport

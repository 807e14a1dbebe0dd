// SPDX-License-Identifier: MIT
// Device control block to termios, and the read-path filters that stand in
// for what termios cannot express.
#include <sys/ioctl.h>

#include <cerrno>

#include "ComDriverLinux.h"

namespace cport::lnx {

bool StandardSpeed(uint32_t baud, speed_t& speed) {
  switch (baud) {
    case 50: speed = B50; return true;
    case 75: speed = B75; return true;
    case 110: speed = B110; return true;
    case 134: speed = B134; return true;
    case 150: speed = B150; return true;
    case 200: speed = B200; return true;
    case 300: speed = B300; return true;
    case 600: speed = B600; return true;
    case 1200: speed = B1200; return true;
    case 1800: speed = B1800; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    case 230400: speed = B230400; return true;
    case 460800: speed = B460800; return true;
    case 500000: speed = B500000; return true;
    case 576000: speed = B576000; return true;
    case 921600: speed = B921600; return true;
    case 1000000: speed = B1000000; return true;
    case 1152000: speed = B1152000; return true;
    case 1500000: speed = B1500000; return true;
    case 2000000: speed = B2000000; return true;
    case 2500000: speed = B2500000; return true;
    case 3000000: speed = B3000000; return true;
    case 3500000: speed = B3500000; return true;
    case 4000000: speed = B4000000; return true;
    default: return false;  // no constant: the caller goes through termios2
  }
}

uint32_t SpeedValue(speed_t speed) {
  switch (speed) {
    case B50: return 50;
    case B75: return 75;
    case B110: return 110;
    case B134: return 134;
    case B150: return 150;
    case B200: return 200;
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B1800: return 1800;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B500000: return 500000;
    case B576000: return 576000;
    case B921600: return 921600;
    case B1000000: return 1000000;
    case B1152000: return 1152000;
    case B1500000: return 1500000;
    case B2000000: return 2000000;
    case B2500000: return 2500000;
    case B3000000: return 3000000;
    case B3500000: return 3500000;
    case B4000000: return 4000000;
    default: return 0;
  }
}

namespace {

bool ByteSizeFlag(uint8_t byteSize, tcflag_t& flag) {
  switch (byteSize) {
    case 5: flag = CS5; return true;
    case 6: flag = CS6; return true;
    case 7: flag = CS7; return true;
    case 8: flag = CS8; return true;
    default: return false;
  }
}

bool ParityFlags(uint8_t parity, tcflag_t& flags) {
  switch (parity) {
    case 0: flags = 0; return true;
    case 1: flags = PARENB | PARODD; return true;
    case 2: flags = PARENB; return true;
    case 3: flags = PARENB | PARODD | CMSPAR; return true;  // mark: parity bit always 1
    case 4: flags = PARENB | CMSPAR; return true;           // space: always 0
    default: return false;
  }
}

bool StopBitsFlag(uint8_t stopBits, tcflag_t& flag) {
  switch (stopBits) {
    case 0: flag = 0; return true;
    case 1: flag = CSTOPB; return true;  // 1.5 has no termios form; 2 is nearest
    case 2: flag = CSTOPB; return true;
    default: return false;
  }
}

}  // namespace

int DcbToTermios(const TDCB& dcb, termios& t, TLineExtras& x) {
  tcflag_t size, parity, stop;
  if (!ByteSizeFlag(dcb.ByteSize, size) || !ParityFlags(dcb.Parity, parity) || !StopBitsFlag(dcb.StopBits, stop))
    return EINVAL;
  if (dcb.BaudRate == 0) return EINVAL;  // B0 would hang the line up
  const bool outX = dcb.Has(TDCB::DCB_OutX), inX = dcb.Has(TDCB::DCB_InX);
  if ((outX || inX) && dcb.XonChar == dcb.XoffChar) return EINVAL;

  TLineExtras e;
  const uint32_t dtr = dcb.DtrControl(), rts = dcb.RtsControl();
  switch (dtr) {
    case DTR_CODE_DISABLE: e.ModemClear |= TIOCM_DTR; break;
    case DTR_CODE_ENABLE: e.ModemSet |= TIOCM_DTR; break;
    case DTR_CODE_HANDSHAKE: e.ModemSet |= TIOCM_DTR; break;  // no DTR flow on Linux: held high
    default: return EINVAL;
  }
  const bool ctsFlow = dcb.Has(TDCB::DCB_OutxCtsFlow);
  switch (rts) {
    case RTS_CODE_DISABLE:
      if (!ctsFlow) e.ModemClear |= TIOCM_RTS;
      break;
    case RTS_CODE_ENABLE:
      if (!ctsFlow) e.ModemSet |= TIOCM_RTS;
      break;
    case RTS_CODE_HANDSHAKE:
      // Input-only RTS flow does not exist here; without CTS flow the
      // receiver is always ready, so RTS stays high.
      if (!ctsFlow) e.ModemSet |= TIOCM_RTS;
      break;
    case RTS_CODE_TOGGLE:
      e.Rs485 = true;
      break;
    default: return EINVAL;
  }

  speed_t speed = B9600;
  if (!StandardSpeed(dcb.BaudRate, speed)) {
    e.CustomBaud = true;
    speed = B38400;  // placeholder until termios2 sets the real rate
  }
  e.Baud = dcb.BaudRate;

  const bool check = dcb.Has(TDCB::DCB_Parity);
  // Checking always marks: without PARMRK the kernel queues 0 in place of a
  // byte received in error, and the byte is to be kept unless replaced.
  e.Marked = check;
  e.ReplaceMarked = check && dcb.Has(TDCB::DCB_ErrorChar);
  e.ReplaceChar = dcb.ErrorChar;
  e.DiscardNull = dcb.Has(TDCB::DCB_Null);
  e.DsrSensitivity = dcb.Has(TDCB::DCB_DsrSensitivity);
  e.BitsPerChar = 1 + dcb.ByteSize + (parity ? 1 : 0) + (stop ? 2 : 1);

  termios n = t;
  n.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IUCLC | IXON | IXANY | IXOFF | IMAXBEL | IUTF8);
  if (check) n.c_iflag |= INPCK;
  if (e.Marked) n.c_iflag |= PARMRK;
  if (outX) n.c_iflag |= IXON;
  if (inX) n.c_iflag |= IXOFF;
  n.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  n.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ECHOKE | ICANON | ISIG |
                                      IEXTEN | NOFLSH | TOSTOP | XCASE);
  n.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  n.c_cflag |= CLOCAL | CREAD | size | parity | stop;
  if (ctsFlow) n.c_cflag |= CRTSCTS;
  n.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  n.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  // One byte makes a read ready: an empty queue then reads as EAGAIN and a
  // read of nothing means the line hung up.
  n.c_cc[VMIN] = 1;
  n.c_cc[VTIME] = 0;
  cfsetispeed(&n, speed);
  cfsetospeed(&n, speed);
  t = n;
  x = e;
  return 0;
}

TKernelLine KernelLine(const termios& t) {
  TKernelLine k;
  k.Iflag = t.c_iflag;
  k.Oflag = t.c_oflag;
  k.Cflag = t.c_cflag;
  k.Lflag = t.c_lflag;
  k.Line = t.c_line;
  for (size_t i = 0; i < sizeof k.Cc && i < NCCS; ++i) k.Cc[i] = t.c_cc[i];
  return k;
}

TTermiosLine TermiosToLine(const termios& t) {
  TTermiosLine l;
  l.Baud = SpeedValue(cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5: l.ByteSize = 5; break;
    case CS6: l.ByteSize = 6; break;
    case CS7: l.ByteSize = 7; break;
    case CS8: l.ByteSize = 8; break;
  }
  if (t.c_cflag & PARENB) {
    const bool odd = t.c_cflag & PARODD, stick = t.c_cflag & CMSPAR;
    l.Parity = stick ? (odd ? 3 : 4) : (odd ? 1 : 2);
  }
  l.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
  l.Check = t.c_iflag & INPCK;
  l.Marked = t.c_iflag & PARMRK;
  l.CtsRts = t.c_cflag & CRTSCTS;
  l.XonXoffOut = t.c_iflag & IXON;
  l.XonXoffIn = t.c_iflag & IXOFF;
  l.XonChar = static_cast<char>(t.c_cc[VSTART]);
  l.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  l.Raw = !(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN)) && !(t.c_oflag & OPOST) &&
          !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) && t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0;
  return l;
}

bool PortPath(const std::string& port, std::string& path) {
  if (port.empty()) return false;
  // Refuse any ".." component so that a stored name cannot walk out of /dev.
  size_t start = 0;
  while (start <= port.size()) {
    size_t end = port.find('/', start);
    if (end == std::string::npos) end = port.size();
    if (port.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  if (port[0] == '/') {
    path = port;
    return true;
  }
  if (port.size() > 3 && (port[0] == 'C' || port[0] == 'c') && (port[1] == 'O' || port[1] == 'o') &&
      (port[2] == 'M' || port[2] == 'm')) {
    unsigned long n = 0;
    bool digits = true;
    for (size_t i = 3; i < port.size(); ++i) {
      if (port[i] < '0' || port[i] > '9' || n > 100000) {
        digits = false;
        break;
      }
      n = n * 10 + static_cast<unsigned long>(port[i] - '0');
    }
    if (digits && n >= 1) {
      path = "/dev/ttyS" + std::to_string(n - 1);
      return true;
    }
  }
  path = "/dev/" + port;
  return true;
}

size_t UnmarkBytes(uint8_t* data, size_t n, TMarkState& state, bool replace, char replaceChar) {
  size_t w = 0;
  for (size_t r = 0; r < n; ++r) {
    const uint8_t c = data[r];
    switch (state.Pending) {
      case 0:
        if (c == 0xFF)
          state.Pending = 1;
        else
          data[w++] = c;
        break;
      case 1:
        if (c == 0xFF) {
          data[w++] = 0xFF;  // an escaped 0xFF byte
          state.Pending = 0;
        } else if (c == 0) {
          state.Pending = 2;
        } else {
          data[w++] = c;  // not a mark the line discipline makes; keep the byte
          state.Pending = 0;
        }
        break;
      default:
        data[w++] = replace ? static_cast<uint8_t>(replaceChar) : c;  // the byte received in error
        state.Pending = 0;
        break;
    }
  }
  return w;
}

size_t DropNulls(uint8_t* data, size_t n) {
  size_t w = 0;
  for (size_t r = 0; r < n; ++r)
    if (data[r] != 0) data[w++] = data[r];
  return w;
}

}  // namespace cport::lnx

// SPDX-License-Identifier: MIT
// The Linux driver's mapping of a device control block onto termios, on
// plain structs; port names; the read-path filters.
#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "ComDriverLinux.h"

using namespace cport;
using namespace cport::lnx;

namespace {

TDCB DefaultDcb() {
  TDCB d;
  d.BaudRate = 9600;
  d.Flags = TDCB::DCB_Binary;
  d.XonLim = d.XoffLim = 256;
  d.ByteSize = 8;
  d.XonChar = 17;
  d.XoffChar = 19;
  return d;
}

// A terminal as the kernel hands it out (cooked, echoing, translating),
// with what an earlier setting may have left: every mapping must clear what
// it does not ask for.
termios Cooked() {
  termios t{};
  t.c_iflag = ICRNL | IXON | IXOFF | IMAXBEL | BRKINT | INPCK | PARMRK;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ECHO | ICANON | ISIG | IEXTEN | ECHOE;
  t.c_cflag = CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 5;
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
  return t;
}

TEST(TermiosMapping, DefaultsGiveARaw9600EightNoneOneLine) {
  termios t = Cooked();
  TLineExtras x;
  ASSERT_EQ(DcbToTermios(DefaultDcb(), t, x), 0);
  const TTermiosLine l = TermiosToLine(t);
  EXPECT_TRUE(l.Raw);
  EXPECT_EQ(l.Baud, 9600u);
  EXPECT_EQ(l.ByteSize, 8);
  EXPECT_EQ(l.Parity, 0);
  EXPECT_EQ(l.StopBits, 0);
  EXPECT_FALSE(l.Check);
  EXPECT_FALSE(l.Marked);
  EXPECT_FALSE(l.CtsRts);
  EXPECT_FALSE(l.XonXoffOut);
  EXPECT_FALSE(l.XonXoffIn);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_cflag & HUPCL, static_cast<tcflag_t>(HUPCL));  // bits not owned are kept
  EXPECT_EQ(t.c_iflag & (IXANY | ISTRIP | ICRNL), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);  // an empty queue reads as EAGAIN, never as 0
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_FALSE(x.CustomBaud);
  EXPECT_EQ(x.ModemClear, TIOCM_DTR | TIOCM_RTS);  // both held low
  EXPECT_EQ(x.ModemSet, 0);
  EXPECT_EQ(x.BitsPerChar, 10u);
}

struct TFormatCase {
  const char* Name;
  uint8_t ByteSize, Parity, StopBits;
  tcflag_t Size, ParityFlags;
  bool Cstopb;
};
void PrintTo(const TFormatCase& c, std::ostream* os) { *os << c.Name; }

class LineFormat : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(LineFormat, EveryValueHasItsFlags) {
  const TFormatCase& c = GetParam();
  TDCB d = DefaultDcb();
  d.ByteSize = c.ByteSize;
  d.Parity = c.Parity;
  d.StopBits = c.StopBits;
  termios t = Cooked();
  TLineExtras x;
  ASSERT_EQ(DcbToTermios(d, t, x), 0);
  EXPECT_EQ(t.c_cflag & CSIZE, c.Size);
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.ParityFlags);
  EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.Cstopb);
  const TTermiosLine l = TermiosToLine(t);
  EXPECT_EQ(l.ByteSize, c.ByteSize);
  EXPECT_EQ(l.Parity, c.Parity);
}

INSTANTIATE_TEST_SUITE_P(
    AllValues, LineFormat,
    ::testing::Values(TFormatCase{"five_none_one", 5, 0, 0, CS5, 0, false},
                      TFormatCase{"six_odd_one", 6, 1, 0, CS6, PARENB | PARODD, false},
                      TFormatCase{"seven_even_two", 7, 2, 2, CS7, PARENB, true},
                      TFormatCase{"eight_mark_one", 8, 3, 0, CS8, PARENB | PARODD | CMSPAR, false},
                      TFormatCase{"eight_space_one", 8, 4, 0, CS8, PARENB | CMSPAR, false},
                      // One and a half stop bits do not exist in termios: two is nearest.
                      TFormatCase{"eight_none_one_and_a_half", 8, 0, 1, CS8, 0, true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TermiosMapping, ValuesTheLineCannotCarryAreRefusedAndChangeNothing) {
  struct {
    const char* Name;
    void (*Spoil)(TDCB&);
  } cases[] = {
      {"byte size 4", [](TDCB& d) { d.ByteSize = 4; }},
      {"byte size 9", [](TDCB& d) { d.ByteSize = 9; }},
      {"parity 5", [](TDCB& d) { d.Parity = 5; }},
      {"stop bits 3", [](TDCB& d) { d.StopBits = 3; }},
      {"rate 0 (would hang up)", [](TDCB& d) { d.BaudRate = 0; }},
      {"dtr code 3", [](TDCB& d) { d.Flags |= 3u << TDCB::DCB_DtrControlShift; }},
      {"xon equals xoff", [](TDCB& d) {
         d.Flags |= TDCB::DCB_OutX;
         d.XoffChar = d.XonChar;
       }},
  };
  for (auto& c : cases) {
    TDCB d = DefaultDcb();
    c.Spoil(d);
    termios t = Cooked();
    const termios before = t;
    TLineExtras x;
    x.Baud = 777;
    EXPECT_EQ(DcbToTermios(d, t, x), EINVAL) << c.Name;
    EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0) << c.Name;
    EXPECT_EQ(x.Baud, 777u) << c.Name;
  }
}

TEST(TermiosMapping, RatesWithoutAConstantGoThroughTermios2) {
  const uint32_t named[] = {110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  for (uint32_t b : named) {
    TDCB d = DefaultDcb();
    d.BaudRate = b;
    termios t = Cooked();
    TLineExtras x;
    ASSERT_EQ(DcbToTermios(d, t, x), 0);
    EXPECT_FALSE(x.CustomBaud) << b;
    EXPECT_EQ(TermiosToLine(t).Baud, b);
  }
  for (uint32_t b : {14400u, 56000u, 128000u, 256000u, 31250u, 123457u}) {
    TDCB d = DefaultDcb();
    d.BaudRate = b;
    termios t = Cooked();
    TLineExtras x;
    ASSERT_EQ(DcbToTermios(d, t, x), 0);
    EXPECT_TRUE(x.CustomBaud) << b;
    EXPECT_EQ(x.Baud, b);
  }
}

TEST(TermiosMapping, FlowControlFlags) {
  TDCB d = DefaultDcb();
  d.Flags |= TDCB::DCB_OutxCtsFlow | (RTS_CODE_HANDSHAKE << TDCB::DCB_RtsControlShift);
  termios t = Cooked();
  TLineExtras x;
  ASSERT_EQ(DcbToTermios(d, t, x), 0);
  EXPECT_TRUE(TermiosToLine(t).CtsRts);
  EXPECT_EQ(x.ModemSet & TIOCM_RTS, 0);  // the kernel drives RTS now
  EXPECT_EQ(x.ModemClear & TIOCM_RTS, 0);

  d = DefaultDcb();
  d.Flags |= TDCB::DCB_OutX | TDCB::DCB_InX;
  d.XonChar = 'Q';
  d.XoffChar = 'S';
  t = Cooked();
  ASSERT_EQ(DcbToTermios(d, t, x), 0);
  const TTermiosLine l = TermiosToLine(t);
  EXPECT_TRUE(l.XonXoffOut);
  EXPECT_TRUE(l.XonXoffIn);
  EXPECT_FALSE(l.CtsRts);
  EXPECT_EQ(l.XonChar, 'Q');
  EXPECT_EQ(l.XoffChar, 'S');
  EXPECT_EQ(t.c_iflag & IXANY, 0u);  // any byte must not restart output
}

TEST(TermiosMapping, ModemLinesFollowTheirCodes) {
  struct {
    uint32_t Dtr, Rts;
    int Set, Clear;
    bool Rs485;
  } cases[] = {
      {DTR_CODE_DISABLE, RTS_CODE_DISABLE, 0, TIOCM_DTR | TIOCM_RTS, false},
      {DTR_CODE_ENABLE, RTS_CODE_ENABLE, TIOCM_DTR | TIOCM_RTS, 0, false},
      {DTR_CODE_HANDSHAKE, RTS_CODE_HANDSHAKE, TIOCM_DTR | TIOCM_RTS, 0, false},
      {DTR_CODE_ENABLE, RTS_CODE_TOGGLE, TIOCM_DTR, 0, true},
  };
  for (auto& c : cases) {
    TDCB d = DefaultDcb();
    d.Flags |= (c.Dtr << TDCB::DCB_DtrControlShift) | (c.Rts << TDCB::DCB_RtsControlShift);
    termios t = Cooked();
    TLineExtras x;
    ASSERT_EQ(DcbToTermios(d, t, x), 0);
    EXPECT_EQ(x.ModemSet, c.Set) << c.Dtr << "/" << c.Rts;
    EXPECT_EQ(x.ModemClear, c.Clear) << c.Dtr << "/" << c.Rts;
    EXPECT_EQ(x.Rs485, c.Rs485);
  }
}

TEST(TermiosMapping, ParityCheckingAndItsEmulatedParts) {
  TDCB d = DefaultDcb();
  d.Parity = 2;
  d.Flags |= TDCB::DCB_Parity;
  termios t = Cooked();
  TLineExtras x;
  ASSERT_EQ(DcbToTermios(d, t, x), 0);
  EXPECT_TRUE(TermiosToLine(t).Check);
  // Marked, so that a byte received in error is kept as received: without
  // PARMRK the kernel queues 0 in its place.
  EXPECT_TRUE(TermiosToLine(t).Marked);
  EXPECT_TRUE(x.Marked);
  EXPECT_FALSE(x.ReplaceMarked);
  EXPECT_EQ(x.BitsPerChar, 11u);

  d.Flags |= TDCB::DCB_ErrorChar | TDCB::DCB_Null | TDCB::DCB_DsrSensitivity;
  d.ErrorChar = '?';
  ASSERT_EQ(DcbToTermios(d, t, x), 0);
  EXPECT_TRUE(TermiosToLine(t).Marked);
  EXPECT_TRUE(x.Marked);
  EXPECT_TRUE(x.ReplaceMarked);
  EXPECT_EQ(x.ReplaceChar, '?');
  EXPECT_TRUE(x.DiscardNull);
  EXPECT_TRUE(x.DsrSensitivity);

  // Replacement needs checking.
  d.Flags &= ~TDCB::DCB_Parity;
  ASSERT_EQ(DcbToTermios(d, t, x), 0);
  EXPECT_FALSE(TermiosToLine(t).Marked);
  EXPECT_FALSE(x.Marked);
  EXPECT_FALSE(x.ReplaceMarked);
}

// -- port names ----------------------------------------------------------------------

TEST(PortNames, MapToDevicePaths) {
  struct {
    const char* Name;
    const char* Path;
  } ok[] = {
      {"COM1", "/dev/ttyS0"},
      {"COM12", "/dev/ttyS11"},
      {"com2", "/dev/ttyS1"},
      {"ttyUSB0", "/dev/ttyUSB0"},
      {"/dev/serial/by-id/usb-Adapter-if00", "/dev/serial/by-id/usb-Adapter-if00"},
      {"/dev/pts/7", "/dev/pts/7"},
      {"serial/by-path/x", "/dev/serial/by-path/x"},
      {"COM0", "/dev/COM0"},   // no such COM number: an ordinary name
      {"COMx", "/dev/COMx"},
      {"..x", "/dev/..x"},     // only a whole ".." component is refused
  };
  for (auto& c : ok) {
    std::string path;
    ASSERT_TRUE(PortPath(c.Name, path)) << c.Name;
    EXPECT_EQ(path, c.Path);
  }
  for (const char* bad : {"", "..", "../etc/passwd", "/dev/../etc/shadow", "serial/../../x", "/dev/pts/.."}) {
    std::string path;
    EXPECT_FALSE(PortPath(bad, path)) << bad;
  }
}

// -- read-path filters --------------------------------------------------------------

// Escaped 0xFF bytes (one, and two in a row), a byte received in error
// ('c') and a break, cut into two reads at every place: marks split across
// reads are completed by the next.
TEST(ReadFilters, MarkedBytesAreKeptOrReplacedAndEscapesUndone) {
  const struct {
    std::string Whole, Kept, Replaced;
  } cases[] = {
      {std::string("a\xFF\xFF" "b\xFF\x00" "cd\xFF\x00\x00" "e", 12), std::string("a\xFF" "bcd\0e", 7),
       "a\xFF" "b?d?e"},
      {"\xFF\xFF\xFF\xFFx", "\xFF\xFFx", "\xFF\xFFx"},
  };
  for (const auto& c : cases) {
    for (bool replace : {false, true}) {
      const std::string& expected = replace ? c.Replaced : c.Kept;
      for (size_t cut = 0; cut <= c.Whole.size(); ++cut) {
        TMarkState st;
        std::string a = c.Whole.substr(0, cut), b = c.Whole.substr(cut);
        const size_t na = UnmarkBytes(reinterpret_cast<uint8_t*>(a.data()), a.size(), st, replace, '?');
        const size_t nb = UnmarkBytes(reinterpret_cast<uint8_t*>(b.data()), b.size(), st, replace, '?');
        EXPECT_EQ(a.substr(0, na) + b.substr(0, nb), expected) << "replace " << replace << ", cut " << cut;
        EXPECT_EQ(st.Pending, 0);
      }
    }
  }
}

TEST(ReadFilters, NullsAreDropped) {
  std::string s("\0a\0\0b\0", 6);
  const size_t n = DropNulls(reinterpret_cast<uint8_t*>(s.data()), s.size());
  EXPECT_EQ(s.substr(0, n), "ab");
}

}  // namespace

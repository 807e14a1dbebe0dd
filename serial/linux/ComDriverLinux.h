// SPDX-License-Identifier: MIT
// Private to the Linux driver: how a device control block becomes termios
// and the modem-line and read-path settings that termios cannot carry.
// Pure functions on plain structs, so every value can be tested without a
// device.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ComDriver.h"
#include "ComHooksLinux.h"
#include "ComTermios2Linux.h"

namespace cport::lnx {

// What the driver does beside termios for one device control block.
struct TLineExtras {
  bool CustomBaud = false;  // rate without a B constant: set through termios2
  uint32_t Baud = 0;
  int ModemSet = 0;    // TIOCM_DTR / TIOCM_RTS to raise
  int ModemClear = 0;  // and to lower
  bool Rs485 = false;  // RTS raised only while sending (kernel RS-485 mode)
  bool DiscardNull = false;
  bool Marked = false;         // PARMRK: bytes received in error arrive marked
  bool ReplaceMarked = false;  // and become ReplaceChar; otherwise kept as received
  char ReplaceChar = 0;
  bool DsrSensitivity = false;  // received bytes dropped while DSR is low
  uint32_t BitsPerChar = 10;    // start, data, parity and stop bits
};

// B constant of a rate, when termios has one.
bool StandardSpeed(uint32_t baud, speed_t& speed);
// Rate of a B constant (0 for B0 or an unknown constant).
uint32_t SpeedValue(speed_t speed);

// Fills t (keeping the bits this mapping does not own) and x from dcb.
// Returns 0, or EINVAL for a value the line cannot carry; then t and x are
// left unchanged.
int DcbToTermios(const TDCB& dcb, termios& t, TLineExtras& x);

// The line format that a termios carries, read back for checks.
struct TTermiosLine {
  uint32_t Baud = 0;      // 0 when set through termios2 (ask the device)
  uint8_t ByteSize = 0;   // 5 to 8
  uint8_t Parity = 0;     // as in the device control block
  uint8_t StopBits = 0;   // 0 one, 2 two
  bool Check = false;     // INPCK
  bool Marked = false;    // PARMRK
  bool CtsRts = false;    // CRTSCTS
  bool XonXoffOut = false;
  bool XonXoffIn = false;
  char XonChar = 0;
  char XoffChar = 0;
  bool Raw = false;  // no echo, signals, canonical input, translations or output processing
};
TTermiosLine TermiosToLine(const termios& t);

// Device path of a port name: "COM<n>" is /dev/ttyS<n-1>, a name starting
// with "/" is a path, any other name lies under /dev.  Returns false (and
// EINVAL-worthy) for an empty name or one with a ".." component.
bool PortPath(const std::string& port, std::string& path);

// Undoes PARMRK marking in place: "\377\377" is a 0xFF byte and
// "\377\0c" the byte c received with a parity or framing error (c is 0 for
// a break), which stays c or, with replace, becomes replaceChar.  The state
// carries an incomplete mark from the end of one read into the next.
// Returns the new length (never more than n).
struct TMarkState {
  int Pending = 0;  // bytes of a mark seen so far: 0, 1 ("\377") or 2 ("\377\0")
};
size_t UnmarkBytes(uint8_t* data, size_t n, TMarkState& state, bool replace, char replaceChar);
// Drops zero bytes in place; returns the new length.
size_t DropNulls(uint8_t* data, size_t n);

// The kernel's form of a termios (see ComTermios2Linux.h for setting it).
TKernelLine KernelLine(const termios& t);

// The serial devices present, as /dev paths (0 or errno), decided from
// sysfs without opening any device; with descriptions, USB ids and the
// stable /dev/serial/by-id links.  Tests may point the lookup at a folder
// laid out as /sys/class/tty and at one standing for /dev.
int EnumSerialDevices(std::vector<std::string>& names);
int EnumSerialPortInfo(std::vector<TComPortInfo>& ports);
void SetSysClassTtyForTesting(const char* path);
void SetDevForTesting(const char* path);

}  // namespace cport::lnx

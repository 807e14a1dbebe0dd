// SPDX-License-Identifier: MIT
// Setting texts and the list of ports.  The texts are fixed and never
// translated: programs and stored files compare them.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "CPort.h"

namespace cport {

namespace {

constexpr const char* kBaudRateTexts[BaudRateCount] = {
    "Custom", "110",   "300",   "600",   "1200",   "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr const char* kStopBitsTexts[StopBitsCount] = {"1", "1.5", "2"};
constexpr const char* kDataBitsTexts[DataBitsCount] = {"5", "6", "7", "8"};
constexpr const char* kParityTexts[ParityBitsCount] = {"None", "Odd", "Even", "Mark", "Space"};
constexpr const char* kFlowControlTexts[FlowControlCount] = {"Hardware", "Software", "None", "Custom"};

// Only a to z are folded: the texts are ASCII and the comparison must not
// depend on the user's locale.
std::string UpperAscii(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

template <class E, size_t N>
E Parse(const std::string& str, const char* const (&texts)[N], E fallback) {
  const std::string key = UpperAscii(str);
  for (size_t i = 0; i < N; ++i)
    if (key == UpperAscii(texts[i])) return static_cast<E>(i);
  return fallback;
}

template <size_t N>
std::string Format(unsigned ordinal, const char* const (&texts)[N]) {
  // An ordinal outside the table can only come from a cast; give no text
  // rather than read past the table.
  return ordinal < N ? texts[ordinal] : std::string();
}

}  // namespace

std::string BaudRateToStr(TBaudRate value) { return Format(value, kBaudRateTexts); }
std::string StopBitsToStr(TStopBits value) { return Format(value, kStopBitsTexts); }
std::string DataBitsToStr(TDataBits value) { return Format(value, kDataBitsTexts); }
std::string ParityToStr(TParityBits value) { return Format(value, kParityTexts); }
std::string FlowControlToStr(TFlowControl value) { return Format(value, kFlowControlTexts); }

TBaudRate StrToBaudRate(const std::string& str) { return Parse(str, kBaudRateTexts, br9600); }
TStopBits StrToStopBits(const std::string& str) { return Parse(str, kStopBitsTexts, sbOneStopBit); }
TDataBits StrToDataBits(const std::string& str) { return Parse(str, kDataBitsTexts, dbEight); }
TParityBits StrToParity(const std::string& str) { return Parse(str, kParityTexts, prNone); }
TFlowControl StrToFlowControl(const std::string& str) { return Parse(str, kFlowControlTexts, fcCustom); }

bool PortNameLess(const std::string& a, const std::string& b) {
  // The user's collation on case-folded names: COM10 sorts between COM1 and
  // COM2, as in any plain text order.
  return std::strcoll(UpperAscii(a).c_str(), UpperAscii(b).c_str()) < 0;
}

void EnumComPorts(std::vector<std::string>& list) { EnumComPorts(list, DefaultComDriver()); }

void EnumComPorts(std::vector<std::string>& list, TComDriver& driver) {
  std::vector<std::string> names;
  if (int err = driver.EnumPorts(names)) throw EComPort(CError_RegError, err);
  std::stable_sort(names.begin(), names.end(), PortNameLess);
  list = std::move(names);
}

void EnumComPortInfo(std::vector<TComPortInfo>& list) { EnumComPortInfo(list, DefaultComDriver()); }

void EnumComPortInfo(std::vector<TComPortInfo>& list, TComDriver& driver) {
  std::vector<TComPortInfo> ports;
  if (int err = driver.EnumPortInfo(ports)) throw EComPort(CError_RegError, err);
  std::stable_sort(ports.begin(), ports.end(),
                   [](const TComPortInfo& a, const TComPortInfo& b) { return PortNameLess(a.Name, b.Name); });
  list = std::move(ports);
}

}  // namespace cport

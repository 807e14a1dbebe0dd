// SPDX-License-Identifier: MIT
// Any text given to the setting parsers yields a value of the enumeration
// whose text, formatted again, parses back to the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CPort.h"

using namespace cport;

namespace {

template <class E>
void Check(E value, int count, std::string (*format)(E), E (*parse)(const std::string&)) {
  if (static_cast<int>(value) < 0 || static_cast<int>(value) >= count) std::abort();
  if (parse(format(value)) != value) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Check(StrToBaudRate(text), BaudRateCount, BaudRateToStr, StrToBaudRate);
  Check(StrToStopBits(text), StopBitsCount, StopBitsToStr, StrToStopBits);
  Check(StrToDataBits(text), DataBitsCount, DataBitsToStr, StrToDataBits);
  Check(StrToParity(text), ParityBitsCount, ParityToStr, StrToParity);
  Check(StrToFlowControl(text), FlowControlCount, FlowControlToStr, StrToFlowControl);
  return 0;
}

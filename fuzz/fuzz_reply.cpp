// SPDX-License-Identifier: MIT
// The panel's reply parsing against arbitrary bytes from the line: no crash,
// no undefined behaviour, and each parser agrees with the C library's atol
// on the fields it takes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "Protocol.h"

using namespace vxpanel;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// What the panel's read buffer holds: the bytes, then zeros.
struct TBuffer {
  char Bytes[kReadBufferSize] = {};
  explicit TBuffer(std::string_view in) { std::memcpy(Bytes, in.data(), std::min(in.size(), size_t{kReadCount})); }
  long Field(size_t from, size_t width) const {
    char f[8] = {};
    std::memcpy(f, Bytes + from, width);
    return std::atol(f);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const TBuffer b(in);
  const bool head = b.Bytes[0] == '#' && b.Bytes[1] == '0' && b.Bytes[2] == '2';

  for (char letter : std::string_view("fpwmsdrut")) {
    const auto v = ParseValueReply(in, letter);
    Check(v.has_value() == (head && b.Bytes[3] == letter));
    if (v) Check(*v == b.Field(4, 5));
  }

  if (const auto r = ParseVersionReply(in)) {
    Check(head && b.Bytes[3] == 'S' && b.Bytes[4] == 'R');
    Check(r->Text.size() <= 5 && r->Text == std::string(b.Bytes + 3, strnlen(b.Bytes + 3, 5)));
    if (const auto range = VariantRange(r->Kind, r->Model)) Check(range->Min < range->Max);
  } else {
    Check(!(head && b.Bytes[3] == 'S' && b.Bytes[4] == 'R'));
  }

  if (const auto s = ParseStatusBlock(in)) {
    Check(head && b.Bytes[3] == '?');
    Check(s->Phase == b.Field(4, 3) && s->Current == b.Field(7, 3) && s->Tracking == b.Field(10, 3) &&
          s->AcCurrent == b.Field(13, 3) && s->Voltage == b.Field(16, 3));
    Check(!StateLook(s->State).Caption.empty());
    (void)NumberText(s->Tracking - 30);
  }

  // Any field text, also longer than the protocol's.
  const std::string text(in.substr(0, in.find('\0')));
  if (text.size() <= 9) Check(Atol(text) == std::atol(text.c_str()));
  (void)Atol(in);
  return 0;
}

// SPDX-License-Identifier: MIT
// The terminal emulation against arbitrary bytes from the line: no crash, no
// undefined behaviour, the screen and scrollback within their bounds, and a
// stream cut anywhere, or fed a byte at a time, leaves what it leaves whole.
//
// Input: a settings byte, a size byte, a cut byte, then the stream.
#include <cstdint>
#include <string>
#include <string_view>

#include "CPortVT.h"
#include "VtReport.h"

using namespace cport;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct TSettings {
  TTermEmulation Emulation;
  TTermCharset Charset;
  bool Force7Bit, AppendLF, Wrap;
  int Cols, Rows, ScrollBack;
};

void Apply(TVtEmulator& vt, const TSettings& s) {
  vt.SetEmulation(s.Emulation);
  vt.SetCharset(s.Charset);
  vt.SetForce7Bit(s.Force7Bit);
  vt.SetAppendLF(s.AppendLF);
  vt.SetWrapLines(s.Wrap);
  vt.SetScrollBack(s.ScrollBack);
}

// Everything an owner can see, attributes included.
std::string State(TVtEmulator& vt, const std::string& answer) {
  std::string out = vtreplay::ScreenReport(vt, answer);
  for (int i = 0; i < vt.LineCount(); ++i) {
    const TVtLine& line = vt.Line(i);
    out += line.Wrapped ? 'w' : '-';
    for (const TVtCell& c : line.Cells) {
      out += static_cast<char>(c.Fg);
      out += static_cast<char>(c.Bg);
      out += static_cast<char>(c.Attr);
    }
  }
  const TVtKeyModes m = vt.KeyModes();
  out += {static_cast<char>(m.Emulation), m.CursorKeys, m.KeypadApp, m.NewLine, vt.CursorVisible(), vt.ReverseScreen()};
  out += std::to_string(vt.TakeBells()) + ' ' + std::to_string(vt.ScrollbackCount());
  return out;
}

void CheckBounds(const TVtEmulator& vt, const TSettings& s) {
  Check(vt.Rows() == s.Rows);
  Check(vt.Columns() == s.Cols || vt.Columns() == 80 || vt.Columns() == 132);
  Check(vt.ScrollbackCount() <= s.ScrollBack);
  Check(vt.CursorRow() >= 0 && vt.CursorRow() < vt.Rows());
  Check(vt.CursorColumn() >= 0 && vt.CursorColumn() < vt.Columns());
  for (int r = 0; r < vt.Rows(); ++r) {
    const auto& cells = vt.ScreenRow(r).Cells;
    Check(cells.size() == static_cast<size_t>(vt.Columns()));
    // The right half of a wide character only ever follows a left half.
    for (size_t c = 0; c < cells.size(); ++c)
      if (cells[c].Ch == VtWideTail) Check(c > 0 && cells[c - 1].Ch != VtWideTail);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t settings = data[0], shape = data[1], cutByte = data[2];
  const std::string_view in(reinterpret_cast<const char*>(data) + 3, size - 3);
  TSettings s{static_cast<TTermEmulation>(settings % 3),
              settings & 0x04 ? tcLatin1 : tcUTF8,
              (settings & 0x08) != 0,
              (settings & 0x10) != 0,
              (settings & 0x20) == 0,
              shape & 0x80 ? 80 : 1 + (shape & 0x0F),
              shape & 0x80 ? 24 : 1 + (shape >> 4 & 0x07),
              settings & 0x40 ? 0 : 7};

  TVtEmulator whole(s.Cols, s.Rows), cut(s.Cols, s.Rows), bytes(s.Cols, s.Rows);
  for (TVtEmulator* vt : {&whole, &cut, &bytes}) Apply(*vt, s);

  whole.Feed(in);
  const std::string wholeAnswer = whole.TakeAnswer();
  CheckBounds(whole, s);

  const size_t at = in.size() * cutByte / 255;
  cut.Feed(in.substr(0, at));
  std::string cutAnswer = cut.TakeAnswer();
  cut.Feed(in.substr(at));
  cutAnswer += cut.TakeAnswer();

  std::string byteAnswer;
  for (char c : in) {
    bytes.Feed(&c, 1);
    byteAnswer += bytes.TakeAnswer();
  }

  const std::string expected = State(whole, wholeAnswer);
  Check(State(cut, cutAnswer) == expected);
  Check(State(bytes, byteAnswer) == expected);

  // What an owner does next never fails either.
  (void)whole.Text(-5, -5, whole.LineCount() + 5, 5000);
  whole.WriteText(in);
  CheckBounds(whole, s);
  TVtKeyPress key{static_cast<TVtKey>(cutByte % (vkKpDivide + 1)), std::string(in.substr(0, 4)), (cutByte & 1) != 0};
  (void)VtKeyBytes(key, whole.KeyModes());
  whole.Resize(1 + cutByte % 40, 1 + settings % 9);
  s.Cols = whole.Columns();
  s.Rows = whole.Rows();
  CheckBounds(whole, s);
  return 0;
}

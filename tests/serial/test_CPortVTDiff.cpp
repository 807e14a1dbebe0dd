// SPDX-License-Identifier: MIT
// The emulation against an independent one (libvterm) on generated VT100
// streams: both must agree cell for cell on the text and on the cursor.
//
// Where the two knowingly differ the generator steers clear, so that every
// other difference shows:
//  - libvterm's DECALN neither homes the cursor nor resets the region and
//    origin mode (DEC's does): each DECALN comes with those set by hand;
//  - it does not stop CUU/CUD/CNL/CPL at the margins, acts on ICH/DCH only
//    inside the region, and sets a region with top >= bottom: streams with
//    a region have none of these, and only valid regions;
//  - IL/DL leave its cursor's column (DEC's go to the left margin): each
//    comes with a CR;
//  - DECSC/DECRC keep neither character sets, origin mode nor a pending
//    wrap there: streams that save have no character sets and no origin
//    mode, and a pending wrap is ended by CR before a save or restore;
//  - a pending wrap survives LF, IND and RI that scroll, and DECAWM reset:
//    a CR comes first (and after the reset);
//  - its DEC graphics keep '_' and draw y and z as slanted signs: '_' is not
//    sent, and the slanted signs count as the plain ones;
//  - after a non-ASCII character it stops mapping through G0/G1: streams
//    with character sets are ASCII;
//  - a wide character that ends in the last column leaves its cursor on the
//    left half, and one that does not fit wraps even without autowrap: the
//    streams hold narrow characters only (the emulation tests cover wide
//    ones).
#include <gtest/gtest.h>
#include <vterm.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "CPortVT.h"
#include "VtReport.h"

using namespace cport;

namespace {

class TGenerator {
 public:
  TGenerator(uint32_t seed, int cols, int rows) : FRng(seed), FCols(cols), FRows(rows) {}

  std::string Stream() {
    std::string s;
    const bool region = R(2), charsets = R(2);
    if (!charsets) s += "\x1b" "7";
    const int n = 5 + R(80);
    for (int i = 0; i < n; ++i) Add(s, region, charsets);
    return s;
  }

 private:
  int R(int n) { return static_cast<int>(FRng() % static_cast<uint32_t>(n)); }

  std::string Num() {
    switch (R(10)) {
      case 0:
      case 1: return "";
      case 2: return "0";
      case 3: return std::to_string(R(100000));
      default: return std::to_string(R(std::max(FRows, FCols) + 3));
    }
  }

  // Whether the stream so far leaves a pending wrap: then a glyph the
  // streams never hold does not land in the last column of the row.
  bool Pending(const std::string& s) const {
    TVtEmulator e(FCols, FRows);
    e.Feed(s);
    const int row = e.CursorRow();
    if (e.CursorColumn() != FCols - 1) return false;
    e.Feed("\xe2\x98\x83");
    return e.ScreenRow(row).Cells.back().Ch != U'\u2603';
  }
  void EndPendingWrap(std::string& s) const {
    if (Pending(s)) s += '\r';
  }

  void Add(std::string& s, bool region, bool charsets) {
    static const char* const kText[] = {"\xc3\xa9", "\xc3\xbc\xc3\x9f", "\xce\xbb\xcf\x80", "\xd0\xb6", "\xe2\x82\xac"};
    switch (R(32)) {
      case 0:
      case 1:
      case 2:
      case 3:
      case 4: {
        const int len = R(FCols + 10);
        for (int j = 0; j < len; ++j) {
          const char c = static_cast<char>('!' + R(94));
          s += c == '_' ? ' ' : c;
        }
        break;
      }
      case 5:
        if (!charsets) s += kText[R(5)];
        break;
      case 6: s += "\r"; break;
      case 7:
        EndPendingWrap(s);
        s += "\n\v\f"[R(3)];
        break;
      case 8: s += "\b"; break;
      case 9: s += "\t"; break;
      case 10: s += "\x1b[" + Num() + ";" + Num() + "Hf"[R(2)]; break;
      case 11: s += "\x1b[" + Num() + (region ? "CDaG`"[R(5)] : "ABCDaeEFGd`"[R(11)]); break;
      case 12: s += "\x1b[" + std::to_string(R(3)) + "JK"[R(2)]; break;
      case 13:
        if (region && FRows > 1) {
          const int top = 1 + R(FRows - 1), bottom = top + 1 + R(FRows - top);
          s += R(4) ? "\x1b[" + std::to_string(top) + ";" + std::to_string(bottom) + "r" : "\x1b[r";
        }
        break;
      case 14: {
        const char f = "DEM"[R(3)];
        if (f != 'E') EndPendingWrap(s);
        s += "\x1b";
        s += f;
        break;
      }
      case 15:
        if (!charsets) {
          EndPendingWrap(s);
          s += R(2) ? "\x1b" "7" : "\x1b" "8";
        }
        break;
      case 16: {
        const char f = region ? "LMX"[R(3)] : "@PLMX"[R(5)];
        s += "\x1b[" + Num() + f;
        if (f == 'L' || f == 'M') s += '\r';
        break;
      }
      case 17: s += "\x1b[" + std::to_string(30 + R(8)) + ";" + std::to_string(R(8)) + "m"; break;
      case 18:
        if (charsets) s += std::string("\x1b") + "()"[R(2)] + "0BA"[R(3)];
        break;
      case 19:
        if (charsets) s += R(2) ? "\x0e" : "\x0f";
        break;
      case 20: s += R(2) ? "\x1b[?7h" : "\x1b[?7l\r"; break;
      case 21:
        if (charsets) s += R(2) ? "\x1b[?6h" : "\x1b[?6l";
        break;
      case 22: s += R(2) ? "\x1b[4h" : "\x1b[4l"; break;
      case 23: s += R(2) ? "\x1b[20h" : "\x1b[20l"; break;
      case 24: s += R(2) ? "\x1bH" : "\x1b[" + std::to_string(R(2) * 3) + "g"; break;
      case 25: s += "\x1b[r\x1b[?6l\x1b#8\x1b[H"; break;
      case 26: s += "\x1b[" + Num() + "ST"[R(2)]; break;
      case 27: s += "\x1b]0;title\a"; break;
      case 28: s += "\x1b[1\x18"; break;
      default: s += static_cast<char>('a' + R(26)); break;
    }
  }

  std::mt19937 FRng;
  int FCols, FRows;
};

struct TVTerm {
  VTerm* Vt;
  VTermScreen* Screen;
  TVTerm(int cols, int rows) : Vt(vterm_new(rows, cols)) {
    vterm_set_utf8(Vt, 1);
    Screen = vterm_obtain_screen(Vt);
    vterm_screen_reset(Screen, 1);
  }
  ~TVTerm() { vterm_free(Vt); }
  char32_t Cell(int row, int col) const {
    VTermScreenCell cell;
    vterm_screen_get_cell(Screen, VTermPos{row, col}, &cell);
    switch (cell.chars[0]) {
      case 0: return U' ';
      case 0xFFFFFFFF: return VtWideTail;
      case 0x2A7D: return U'≤';
      case 0x2A7E: return U'≥';
      default: return cell.chars[0];
    }
  }
};

std::string Escaped(const std::string& s) { return vtreplay::CEscape(s); }

// The first difference, described; empty when the two agree.
std::string Compare(const std::string& stream, int cols, int rows) {
  TVTerm ref(cols, rows);
  vterm_input_write(ref.Vt, stream.data(), stream.size());
  TVtEmulator vt(cols, rows);
  vt.Feed(stream);
  VTermPos cursor;
  vterm_state_get_cursorpos(vterm_obtain_state(ref.Vt), &cursor);
  if (cursor.row != vt.CursorRow() || cursor.col != vt.CursorColumn()) {
    char what[96];
    std::snprintf(what, sizeof what, "cursor %d,%d here, %d,%d in libvterm", vt.CursorRow(), vt.CursorColumn(),
                  cursor.row, cursor.col);
    return what;
  }
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      const char32_t mine = vt.ScreenRow(r).Cells[static_cast<size_t>(c)].Ch, theirs = ref.Cell(r, c);
      if (mine != theirs) {
        char what[96];
        std::snprintf(what, sizeof what, "cell %d,%d is U+%04X here, U+%04X in libvterm", r, c,
                      static_cast<unsigned>(mine), static_cast<unsigned>(theirs));
        return what;
      }
    }
  }
  return {};
}

void Agree(int cols, int rows, uint32_t streams) {
  int shown = 0;
  for (uint32_t seed = 0; seed < streams; ++seed) {
    const std::string stream = TGenerator(seed, cols, rows).Stream();
    const std::string difference = Compare(stream, cols, rows);
    if (!difference.empty() && shown++ < 3) ADD_FAILURE() << "seed " << seed << ": " << difference << "\n" << Escaped(stream);
  }
  EXPECT_EQ(shown, 0) << "streams that differ, of " << streams;
}

TEST(VtAgainstLibvterm, SmallScreen) { Agree(12, 6, 10000); }
TEST(VtAgainstLibvterm, StandardScreen) { Agree(80, 24, 2000); }
TEST(VtAgainstLibvterm, TwoColumnsAndOneRow) {
  Agree(2, 5, 300);
  Agree(7, 1, 300);
}

// The comparison finds a difference where there is one.
TEST(VtAgainstLibvterm, TheComparisonSeesDifferences) {
  EXPECT_EQ(Compare("ab\x1b[2;3HX", 10, 4), "");
  EXPECT_NE(Compare("\x1b[2;3H\x1b#8\x1b[J", 10, 4), "");  // DECALN homes only here
}

}  // namespace

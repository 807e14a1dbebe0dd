// SPDX-License-Identifier: MIT
// What the emulation's owner reads besides the report: renditions, the
// scrollback, the change record a view repaints by, selected text, resizing,
// the program's own text, bells and the modes the keyboard follows.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "CPortVT.h"

using namespace cport;

namespace {

std::string RowText(const TVtEmulator& vt, int line) { return vt.Text(line, 0, line, 1 << 20); }

struct TRendition {
  const char* Name;
  std::string In;
  uint8_t Fg, Bg, Attr;
};

TEST(VtRendition, SgrSetsWhatTheNextGlyphsGet) {
  const uint8_t D = VtDefaultColor;
  const TRendition cases[] = {
      {"AllAttributes", "\x1b[1;4;5;7mX", D, D, vaBold | vaUnderline | vaBlink | vaReverse},
      {"EachAttributeOff", "\x1b[1;4;5;7;22;24;25;27mX", D, D, 0},
      {"Colours", "\x1b[31;42mX", 1, 2, 0},
      {"BrightColours", "\x1b[97;100mX", 15, 8, 0},
      {"DefaultColours", "\x1b[31;42;39;49mX", D, D, 0},
      {"EmptyIsReset", "\x1b[1;31m\x1b[mX", D, D, 0},
      {"Indexed256ToNearest", "\x1b[38;5;196;48;5;4mX", 9, 4, 0},
      {"TrueColourToNearest", "\x1b[38;2;0;0;230;48;2;250;250;250mX", 4, 15, 0},
      {"MalformedExtendedColourStops", "\x1b[38;9;1mX", D, D, 0},
      {"SeventeenthParameterDropped", "\x1b[0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;1mX", D, D, 0},
      {"SixteenthParameterKept", "\x1b[0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;1mX", D, D, vaBold},
  };
  for (const TRendition& c : cases) {
    TVtEmulator vt(10, 2);
    vt.Feed(c.In);
    const TVtCell& x = vt.ScreenRow(0).Cells[0];
    EXPECT_EQ(x.Ch, U'X') << c.Name;
    EXPECT_EQ(x.Fg, c.Fg) << c.Name;
    EXPECT_EQ(x.Bg, c.Bg) << c.Name;
    EXPECT_EQ(x.Attr, c.Attr) << c.Name;
  }
}

TEST(VtRendition, ErasedAndScrolledInCellsTakeOnlyTheBackground) {
  TVtEmulator vt(4, 2);
  vt.Feed("\x1b[1;31;44m\x1b[2J\n\n");
  for (int r = 0; r < 2; ++r)
    for (const TVtCell& c : vt.ScreenRow(r).Cells) EXPECT_EQ(c, (TVtCell{U' ', VtDefaultColor, 4, 0}));
}

// -- scrollback ------------------------------------------------------------

TEST(VtScrollback, KeepsTheLinesThatLeaveTheTopOfTheFullScreen) {
  TVtEmulator vt(10, 3);
  vt.Feed("1\r\n2\r\n3\r\n4\r\n5");
  ASSERT_EQ(vt.ScrollbackCount(), 2);
  EXPECT_EQ(vt.LineCount(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(RowText(vt, i), std::to_string(i + 1));
}

TEST(VtScrollback, RegionScrollsKeepNothing) {
  TVtEmulator vt(10, 3);
  vt.Feed("\x1b[1;2r\x1b[2;1H1\n2\n3\n\x1b[2S");
  EXPECT_EQ(vt.ScrollbackCount(), 0);
}

TEST(VtScrollback, DeletedAndClearedLinesAreNotKept) {
  TVtEmulator vt(10, 3);
  vt.Feed("1\r\n2\r\n3\x1b[H\x1b[3M\x1b[2J");
  EXPECT_EQ(vt.ScrollbackCount(), 0);
}

TEST(VtScrollback, TheLimitDropsTheOldest) {
  TVtEmulator vt(10, 2);
  vt.SetScrollBack(3);
  vt.ClearChanges();
  for (int i = 1; i <= 10; ++i) vt.Feed(std::to_string(i) + "\r\n");
  ASSERT_EQ(vt.ScrollbackCount(), 3);
  EXPECT_EQ(RowText(vt, 0), "7");
  EXPECT_EQ(RowText(vt, 2), "9");
  EXPECT_EQ(RowText(vt, 3), "10");
  EXPECT_EQ(vt.LinesScrolledOff(), 9);
}

TEST(VtScrollback, ALowerLimitKeepsTheNewest) {
  TVtEmulator vt(10, 1);
  vt.SetScrollBack(5);
  for (int i = 1; i <= 8; ++i) vt.Feed(std::to_string(i) + "\r\n");  // the ring went round: 4..8 kept
  vt.SetScrollBack(2);
  ASSERT_EQ(vt.ScrollbackCount(), 2);
  EXPECT_EQ(RowText(vt, 0), "7");
  EXPECT_EQ(RowText(vt, 1), "8");
  vt.SetScrollBack(0);
  vt.Feed("x\r\n");
  EXPECT_EQ(vt.ScrollbackCount(), 0);
}

TEST(VtScrollback, ClearEmptiesItAndResetKeepsIt) {
  TVtEmulator vt(10, 2);
  vt.Feed("1\r\n2\r\n3\x1b[31m");
  vt.Reset();
  EXPECT_EQ(vt.ScrollbackCount(), 1);
  EXPECT_EQ(RowText(vt, 1), "");
  vt.Feed("a\r\nb\r\nc\x1b[44m");
  vt.Clear();
  EXPECT_EQ(vt.ScrollbackCount(), 0);
  EXPECT_EQ(vt.ScreenRow(1).Cells[0], TVtCell());
  EXPECT_EQ(vt.CursorRow(), 0);
  EXPECT_EQ(vt.CursorColumn(), 0);
}

TEST(VtScrollback, LinesOutOfRangeAreEmpty) {
  TVtEmulator vt(10, 2);
  EXPECT_TRUE(vt.Line(-1).Cells.empty());
  EXPECT_TRUE(vt.Line(vt.LineCount()).Cells.empty());
}

// -- the change record -------------------------------------------------------

TEST(VtChanges, RecordWhatAViewMustRepaint) {
  TVtEmulator vt(10, 4);
  EXPECT_TRUE(vt.AnyChange());  // a new screen is all to paint
  vt.ClearChanges();
  EXPECT_FALSE(vt.AnyChange());

  vt.Feed("x");  // the cursor's row
  EXPECT_TRUE(vt.RowChanged(0));
  EXPECT_FALSE(vt.RowChanged(1));
  vt.ClearChanges();

  vt.Feed("\x1b[3;1H");  // a move: the rows it left and reached
  EXPECT_TRUE(vt.AnyChange());
  EXPECT_TRUE(vt.RowChanged(0));
  EXPECT_FALSE(vt.RowChanged(1));
  EXPECT_TRUE(vt.RowChanged(2));
  vt.ClearChanges();

  vt.Feed("\x1b[?25l");  // hidden where it stands
  EXPECT_TRUE(vt.RowChanged(2));
  EXPECT_FALSE(vt.RowChanged(0));
  vt.ClearChanges();

  vt.Feed("\x1b[2;3r\x1b[3;1H\n");  // a region scroll: its rows
  EXPECT_FALSE(vt.RowChanged(0));
  EXPECT_TRUE(vt.RowChanged(1));
  EXPECT_EQ(vt.LinesScrolledOff(), 0);
  vt.ClearChanges();

  vt.Feed("\x1b[r\x1b[4;1H\n\n");  // a screen scroll: everything
  for (int r = 0; r < 4; ++r) EXPECT_TRUE(vt.RowChanged(r));
  EXPECT_EQ(vt.LinesScrolledOff(), 2);
  vt.ClearChanges();

  vt.Feed("\x1b[?5h");
  EXPECT_TRUE(vt.ReverseScreen());
  EXPECT_TRUE(vt.RowChanged(0));
  EXPECT_FALSE(vt.RowChanged(-1));
  EXPECT_FALSE(vt.RowChanged(4));
}

// -- text ------------------------------------------------------------------

TEST(VtText, WrappedLinesJoinAndOthersEndInNewLines) {
  TVtEmulator vt(5, 3);
  vt.Feed("abcdefg  \r\nxy  ");
  EXPECT_EQ(vt.Text(0, 0, 2, 5), "abcdefg\nxy");
  EXPECT_EQ(vt.Text(2, 5, 0, 0), "abcdefg\nxy");  // either way round
  EXPECT_EQ(vt.Text(0, 3, 1, 1), "def");
  EXPECT_EQ(vt.Text(2, 0, 2, 5), "xy");
  EXPECT_EQ(vt.Text(1, 1, 1, 4), "g  ");  // blanks inside a selection stay
}

TEST(VtText, SpansScrollbackAndScreenAndSkipsWideTails) {
  TVtEmulator vt(6, 1);
  vt.Feed("one\r\n\xe4\xb8\xad\xe6\x96\x87!");
  ASSERT_EQ(vt.ScrollbackCount(), 1);
  EXPECT_EQ(vt.Text(0, 0, 1, 6), "one\n中文!");
}

// -- size --------------------------------------------------------------------

TEST(VtResize, KeepsWhatFitsAndTheCursorsLine) {
  TVtEmulator vt(10, 4);
  vt.Feed("1\r\n2\r\n3\r\n4567890123");
  vt.Resize(6, 2);
  EXPECT_EQ(vt.Columns(), 6);
  EXPECT_EQ(vt.Rows(), 2);
  EXPECT_EQ(vt.ScrollbackCount(), 2);  // 1 and 2 left the top
  EXPECT_EQ(RowText(vt, 3), "456789");
  EXPECT_EQ(vt.CursorRow(), 1);
  EXPECT_EQ(vt.CursorColumn(), 5);
  vt.Resize(8, 3);
  EXPECT_EQ(RowText(vt, 2), "3");
  EXPECT_EQ(vt.ScreenRow(2).Cells.size(), 8u);
  vt.Feed("\x1b[9;9H\x1b[6n");
  EXPECT_EQ(vt.TakeAnswer(), "\x1b[3;8R");
}

TEST(VtResize, SizesClampToTheLimits) {
  TVtEmulator vt(0, -5);
  EXPECT_EQ(vt.Columns(), 1);
  EXPECT_EQ(vt.Rows(), 1);
  vt.Resize(100000, 2000);
  EXPECT_EQ(vt.Columns(), 1024);
  EXPECT_EQ(vt.Rows(), 1024);
}

// -- the owner's text, bells, modes ------------------------------------------

TEST(VtOwner, WriteTextIsPlainAndLeavesASequenceInProgress) {
  TVtEmulator vt(20, 3);
  vt.Feed("\x1b[31m\x1b[2");
  vt.WriteText("h\xc3\xa9\n\t\x01\xe2\x82");
  vt.Feed("CX");
  EXPECT_EQ(RowText(vt, 0), "hé");
  EXPECT_EQ(vt.ScreenRow(0).Cells[0].Fg, VtDefaultColor);
  EXPECT_EQ(RowText(vt, 1), "        ␁��  X");
  EXPECT_EQ(vt.ScreenRow(1).Cells[13].Fg, 1);
}

TEST(VtOwner, BellsCountedUntilTaken) {
  TVtEmulator vt;
  vt.Feed("\a\x1b]0;t\a\a");
  EXPECT_EQ(vt.TakeBells(), 2);
  EXPECT_EQ(vt.TakeBells(), 0);
}

TEST(VtOwner, ModesTheKeyboardFollows) {
  TVtEmulator vt;
  vt.Feed("\x1b[?1h\x1b=\x1b[20h");
  TVtKeyModes m = vt.KeyModes();
  EXPECT_TRUE(m.CursorKeys);
  EXPECT_TRUE(m.KeypadApp);
  EXPECT_TRUE(m.NewLine);
  vt.Feed("\x1b[?1l\x1b>\x1b[20l\x1b[?2l");
  m = vt.KeyModes();
  EXPECT_FALSE(m.CursorKeys || m.KeypadApp || m.NewLine);
  EXPECT_EQ(m.Emulation, teVT52);
  EXPECT_EQ(vt.Emulation(), teVT100);  // the setting stays
  vt.Feed("\x1b=");
  EXPECT_TRUE(vt.KeyModes().KeypadApp);
  vt.Feed("\x1b<");
  EXPECT_EQ(vt.KeyModes().Emulation, teVT100);
  vt.SetEmulation(teVT52);
  vt.Feed("\x1b" "c");  // not a VT52 function
  EXPECT_EQ(vt.KeyModes().Emulation, teVT52);
  vt.Feed("\x1b<\x1b" "c");  // a full reset returns to the setting
  EXPECT_EQ(vt.KeyModes().Emulation, teVT52);
  vt.SetCharset(tcLatin1);
  EXPECT_EQ(vt.KeyModes().Charset, tcLatin1);
}

TEST(VtOwner, CursorVisibility) {
  TVtEmulator vt;
  EXPECT_TRUE(vt.CursorVisible());
  vt.Feed("\x1b[?25l");
  EXPECT_FALSE(vt.CursorVisible());
  vt.Feed("\x1b[!p");
  EXPECT_TRUE(vt.CursorVisible());
}

// A device that keeps asking while nobody takes the answers cannot grow them
// without end; what is kept are whole answers, the oldest.
TEST(VtLimits, AnswersUntakenAreBounded) {
  TVtEmulator vt;
  std::string queries;
  for (int i = 0; i < 100000; ++i) queries += "\x1b[c";
  vt.Feed(queries);
  const std::string answer = vt.TakeAnswer();
  EXPECT_LE(answer.size(), 4096u);
  EXPECT_GE(answer.size(), 4000u);
  EXPECT_EQ(answer.size() % 7, 0u);
  EXPECT_EQ(answer.substr(0, 7), "\x1b[?1;2c");
  vt.Feed("\x1b[5n");
  EXPECT_EQ(vt.TakeAnswer(), "\x1b[0n");
}

// Whatever arrives, the screen keeps its size and the scrollback its limit.
TEST(VtLimits, RandomBytesStayInBounds) {
  std::mt19937 rng(20);
  TVtEmulator vt(20, 5);
  vt.SetScrollBack(50);
  std::string noise(1 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(rng() % 4 == 0 ? "\x1b[;?0123456789"[rng() % 14] : rng());
  vt.Feed(noise);
  EXPECT_LE(vt.ScrollbackCount(), 50);
  EXPECT_LE(vt.Columns(), 132);
  EXPECT_EQ(vt.Rows(), 5);
  for (int r = 0; r < vt.Rows(); ++r) EXPECT_EQ(vt.ScreenRow(r).Cells.size(), static_cast<size_t>(vt.Columns()));
  EXPECT_LT(vt.CursorRow(), vt.Rows());
  EXPECT_LT(vt.CursorColumn(), vt.Columns());
}

}  // namespace

// SPDX-License-Identifier: MIT
// The emulation through vtreplay's report: each function as a short byte
// string and the screen, cursor and answer it leaves, on a 10 x 4 screen
// unless a case says otherwise.  Every stream also goes in cut at each byte
// and a byte at a time, which must change nothing.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "CPortVT.h"
#include "VtReport.h"

using namespace cport;

namespace {

struct TSetup {
  TTermEmulation Emulation = teVT100;
  TTermCharset Charset = tcUTF8;
  bool Force7Bit = false;
  bool AppendLF = false;
  bool Wrap = true;
  int Cols = 10, Rows = 4;
};

struct TCase {
  const char* Name;
  std::string In;
  // The report with its line ends as '|': rows, "cursor R C", "answer ...".
  std::string Want;
  TSetup Setup = {};
};

void PrintTo(const TCase& c, std::ostream* os) { *os << c.Name; }

std::string S(const char* bytes, size_t n) { return std::string(bytes, n); }

const std::vector<TCase> kCases = {
    // C0 controls
    {"PrintableText", "Hi", "Hi||||cursor 1 3|answer "},
    {"CrLf", "ab\r\ncd", "ab|cd|||cursor 2 3|answer "},
    {"LineFeedKeepsTheColumn", "ab\ncd", "ab|  cd|||cursor 2 5|answer "},
    {"VtAndFfAreLineFeeds", "a\vb\fc", "a| b|  c||cursor 3 4|answer "},
    {"BackspaceStopsAtTheLeftEdge", "ab\b\b\bX", "Xb||||cursor 1 2|answer "},
    {"TabStopsEveryEightThenTheLastColumn", "a\tb\tc", "a       bc||||cursor 1 10|answer "},
    {"NulDelAndBelShowNothing", S("a\0\x7f\ab", 5), "ab||||cursor 1 3|answer "},
    {"ShiftOutAndInSwitchG1AndG0", "\x1b)0\x0eq\x0fq", "─q||||cursor 1 3|answer "},
    // The last-column rule
    {"LastColumnLeavesAPendingWrap", "0123456789", "0123456789||||cursor 1 10|answer "},
    {"PendingWrapTakenByTheNextGlyph", "0123456789X", "0123456789|X|||cursor 2 2|answer "},
    {"PendingWrapClearedByCursorMove", "0123456789\x1b[DX", "01234567X9||||cursor 1 10|answer "},
    {"PendingWrapClearedByCarriageReturn", "0123456789\rX", "X123456789||||cursor 1 2|answer "},
    {"PendingWrapKeptByTabAtTheLastColumn", "0123456789\tX", "0123456789|X|||cursor 2 2|answer "},
    {"PendingWrapKeptByErase", "0123456789\x1b[KX", "012345678|X|||cursor 2 2|answer "},
    {"PendingWrapKeptAcrossSaveAndRestore", "0123456789\x1b" "7\x1b[3;3H\x1b" "8X", "0123456789|X|||cursor 2 2|answer "},
    {"AutowrapOffOverwritesTheLastColumn", "\x1b[?7l0123456789abc", "012345678c||||cursor 1 10|answer "},
    {"WrapAtTheBottomScrolls", "\x1b[4;1H0123456789X", "||0123456789|X|cursor 4 2|answer "},
    // ESC functions
    {"IndexScrollsAtTheBottom", "\x1b[4;1Ha\x1b" "Db", "||a| b|cursor 4 3|answer "},
    {"NextLine", "ab\x1b" "Ec", "ab|c|||cursor 2 2|answer "},
    {"ReverseIndexScrollsDownAtTheTop", "a\x1bMb", " b|a|||cursor 1 3|answer "},
    {"SaveAndRestoreCursor", "ab\x1b" "7\x1b[3;5Hx\x1b" "8y", "aby||    x||cursor 1 4|answer "},
    {"RestoreWithoutSaveGoesHome", "ab\x1b" "8X", "Xb||||cursor 1 2|answer "},
    {"FullResetClearsAndHomes", "ab\x1b[?6h\x1b" "cX", "X||||cursor 1 2|answer "},
    {"DecidAnswersAsDeviceAttributes", "\x1bZ", "||||cursor 1 1|answer \\x1b[?1;2c"},
    {"AlignmentFillsWithE", "ab\x1b#8", "EEEEEEEEEE|EEEEEEEEEE|EEEEEEEEEE|EEEEEEEEEE|cursor 1 1|answer "},
    {"SetTabStopAtTheCursor", "\x1b[3g\x1b[1;4H\x1bH\r\tx", "   x||||cursor 1 5|answer "},
    {"UnitedKingdomPound", "\x1b(A#\x1b(B#", "£#||||cursor 1 3|answer "},
    {"SpecialGraphicsAsLineDrawing", "\x1b(0lqkxmjtunwv\x1b(B", "┌─┐│└┘├┤┼┬|┴|||cursor 2 2|answer "},
    {"SpecialGraphicsSymbols", "\x1b(0`afgyz{|}~", "◆▒°±≤≥π≠£·||||cursor 1 10|answer "},
    // Cursor moves, clamped
    {"RelativeMoves", "\x1b[2B\x1b[3CX\x1b[AY\x1b[2DZ", "|   ZY|   X||cursor 2 5|answer "},
    {"MovesStopAtTheEdges", "\x1b[5;5H\x1b[99A\x1b[99DX\x1b[99B\x1b[99CY", "X|||         Y|cursor 4 10|answer "},
    {"HugeParametersClamp", "\x1b[99999999;99999999HX\x1b[99999999D\x1b[99999999AY", "Y|||         X|cursor 1 2|answer "},
    {"CupDefaultsAndZeroAreOne", "\x1b[3;3H\x1b[HX\x1b[0;0HY", "Y||||cursor 1 2|answer "},
    {"HvpIsCup", "\x1b[2;3fX", "|  X|||cursor 2 4|answer "},
    {"ColumnAndLineAbsolute", "\x1b[5GX\x1b[3dY\x1b[2`Z", "    X|| Z   Y||cursor 3 3|answer "},
    {"NextAndPreviousLine", "\x1b[1;5H\x1b[2EX\x1b[FY", "|Y|X||cursor 2 2|answer "},
    // Erasing
    {"EraseBelow", "\x1b#8\x1b[2;5H\x1b[J", "EEEEEEEEEE|EEEE|||cursor 2 5|answer "},
    {"EraseAbove", "\x1b#8\x1b[2;5H\x1b[1J", "|     EEEEE|EEEEEEEEEE|EEEEEEEEEE|cursor 2 5|answer "},
    {"EraseAll", "\x1b#8\x1b[2;5H\x1b[2J", "||||cursor 2 5|answer "},
    {"EraseLineRight", "\x1b#8\x1b[2;5H\x1b[0K", "EEEEEEEEEE|EEEE|EEEEEEEEEE|EEEEEEEEEE|cursor 2 5|answer "},
    {"EraseLineLeft", "\x1b#8\x1b[2;5H\x1b[1K", "EEEEEEEEEE|     EEEEE|EEEEEEEEEE|EEEEEEEEEE|cursor 2 5|answer "},
    {"EraseWholeLine", "\x1b#8\x1b[2;5H\x1b[2K", "EEEEEEEEEE||EEEEEEEEEE|EEEEEEEEEE|cursor 2 5|answer "},
    {"EraseCharacters", "abcdef\x1b[1;2H\x1b[2X", "a  def||||cursor 1 2|answer "},
    // VT102 editing
    {"InsertCharacters", "abcdef\x1b[1;2H\x1b[2@", "a  bcdef||||cursor 1 2|answer "},
    {"InsertPushesOffTheEdge", "0123456789\x1b[1;2H\x1b[3@", "0   123456||||cursor 1 2|answer "},
    {"DeleteCharacters", "abcdef\x1b[1;2H\x1b[2P", "adef||||cursor 1 2|answer "},
    {"InsertLineGoesToTheLeftMargin", "a\r\nb\r\nc\x1b[2;2H\x1b[L", "a||b|c|cursor 2 1|answer "},
    {"DeleteLine", "a\r\nb\r\nc\x1b[1;3H\x1b[M", "b|c|||cursor 1 1|answer "},
    {"InsertLinesOutsideTheRegionDoNothing", "a\x1b[2;3r\x1b[1;1H\x1b[L", "a||||cursor 1 1|answer "},
    {"InsertMode", "abc\x1b[4h\x1b[1;1HX\x1b[4lY", "XYbc||||cursor 1 3|answer "},
    {"NewLineMode", "\x1b[20ha\nb", "a|b|||cursor 2 2|answer "},
    // Scrolling region
    {"RegionScrollsAlone", "\x1b[2;3r\x1b[1;1HT\x1b[4;1HB\x1b[3;1H1\n2\n3", "T| 2|  3|B|cursor 3 4|answer "},
    {"RegionHomesTheCursor", "\x1b[3;3H\x1b[2;3rX", "X||||cursor 1 2|answer "},
    {"RegionOfOneLineIgnored", "\x1b[3;3r\x1b[4;1Ha\nb", "||a| b|cursor 4 3|answer "},
    {"ReverseIndexAtTheRegionTop", "\x1b[2;3r\x1b[1;1HT\x1b[2;1Ha\x1bMb", "T| b|a||cursor 2 3|answer "},
    {"ScrollUpAndDown", "a\r\nb\r\nc\x1b[S\x1b[2T", "||b|c|cursor 3 2|answer "},
    {"OriginModeConfinesTheCursor", "\x1b[2;3r\x1b[?6h\x1b[1;1HX\x1b[9;1HY", "|X|Y||cursor 3 2|answer "},
    {"OriginModeInStatusReport", "\x1b[2;3r\x1b[?6h\x1b[2;4H\x1b[6n", "||||cursor 3 4|answer \\x1b[2;4R"},
    // Tab stops
    {"ClearAllTabStops", "\x1b[3g\tX", "         X||||cursor 1 10|answer "},
    {"ClearTabStopAtTheCursor", "\x1b[1;9H\x1b[g\r\tX", "         X||||cursor 1 10|answer "},
    // Modes
    {"ColumnModeClearsAndResizes", "ab\x1b[?3h\x1b[1;200HX",
     std::string(131, ' ') + "X||||cursor 1 132|answer "},
    {"ColumnModeBackTo80", "\x1b[?3h\x1b[?3l\x1b[1;200HX", std::string(79, ' ') + "X||||cursor 1 80|answer "},
    {"ResetReturnsToTheOwnersWidth", "\x1b[?3h\x1b" "c\x1b[1;200HX", "         X||||cursor 1 10|answer "},
    {"AnsiModeOffIsVt52", "\x1b[?2l\x1bY\"#X", "||   X||cursor 3 5|answer "},
    {"SoftResetEndsInsertMode", "abc\x1b[4h\x1b[!p\x1b[1;1HX", "Xbc||||cursor 1 2|answer "},
    // Answers
    {"DeviceAttributes", "\x1b[c\x1b[0c\x1b[1c", "||||cursor 1 1|answer \\x1b[?1;2c\\x1b[?1;2c"},
    {"StatusReports", "\x1b[2;3H\x1b[5n\x1b[6n\x1b[7n", "||||cursor 2 3|answer \\x1b[0n\\x1b[2;3R"},
    {"CursorReportAtThePendingWrap", "0123456789\x1b[6n", "0123456789||||cursor 1 10|answer \\x1b[1;10R"},
    {"TerminalParameters", "\x1b[x\x1b[1x", "||||cursor 1 1|answer \\x1b[2;1;1;112;112;1;0x\\x1b[3;1;1;112;112;1;0x"},
    // The parser's robustness
    {"CanAbortsASequence", "\x1b[2\x18" "AB", "AB||||cursor 1 3|answer "},
    {"SubAbortsASequence", "\x1b[3\x1a" "C", "C||||cursor 1 2|answer "},
    {"EscapeRestartsASequence", "\x1b[2\x1b[3CX", "   X||||cursor 1 5|answer "},
    {"ControlsInsideASequenceAct", "abc\x1b[\r2CX", "abX||||cursor 1 4|answer "},
    {"OscToBel", "\x1b]0;title\aX", "X||||cursor 1 2|answer "},
    {"OscToStringTerminator", "\x1b]0;t\x1b\\X", "X||||cursor 1 2|answer "},
    {"DcsIgnoresBel", "\x1bPab\acd\x1b\\X", "X||||cursor 1 2|answer "},
    {"ApplicationStringIgnored", "\x1b_abc\x1b\\X", "X||||cursor 1 2|answer "},
    {"UnknownSequencesIgnored", "\x1b[5zA\x1b[?1049hB\x1b[>cC\x1b*0D", "ABCD||||cursor 1 5|answer "},
    {"MalformedSequenceSkippedToItsFinal", "\x1b[1:2HX\x1b[1?2CY", "XY||||cursor 1 3|answer "},
    {"SixteenParametersKeptTheSeventeenthDropped",
     "abc\x1b[1;1H\x1b[0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;4hX\x1b[4l\x1b[1;1H\x1b[0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;4hY",
     "Yabc||||cursor 1 2|answer "},
    {"ForeignCharacterEndsAnEscape", "\x1b\xc3\xa9X", "X||||cursor 1 2|answer "},
    // Character encodings
    {"Utf8", "caf\xc3\xa9 \xe2\x82\xac", "café €||||cursor 1 7|answer "},
    {"MalformedUtf8OneReplacementPerByte", "\xc3(\xe2\x82x\xff\xc0\xaf", "�(��x���||||cursor 1 9|answer "},
    {"Utf8SurrogatesAndOverlongRejected", "\xed\xa0\x80\xf4\x90\x80\x80", "�������||||cursor 1 8|answer "},
    {"WideCharacterTakesTwoCells", "\xe4\xb8\xad" "a\xf0\x9f\x98\x80", "中a😀||||cursor 1 6|answer "},
    {"WideCharacterWrapsWhole", "\x1b[1;10H\xe4\xb8\xad", "|中|||cursor 2 3|answer "},
    {"OverwrittenHalfBlanksTheOther", "\xe4\xb8\xad\xe5\x9b\xbd\x1b[1;2HX", " X国||||cursor 1 3|answer "},
    {"TextOverTheLeftHalfBlanksTheRight", "\xe4\xb8\xad\xe5\x9b\xbd\x1b[1;1HX", "X 国||||cursor 1 2|answer "},
    {"CombiningMarksDropped", "e\xcc\x81x", "ex||||cursor 1 3|answer "},
    {"C1ControlsIgnored", "a\xc2\x9b" "2Cb", "a2Cb||||cursor 1 5|answer "},
    {"Latin1", "\xe9\x80\x9b" "A", "éA||||cursor 1 3|answer ", {.Charset = tcLatin1}},
    {"Force7BitStripsTheHighBit", "\xc1\xe2\x9b[2CX", "Ab  X||||cursor 1 6|answer ", {.Force7Bit = true}},
    {"AppendLFOnCarriageReturn", "a\rb", "a|b|||cursor 2 2|answer ", {.AppendLF = true}},
    {"WrapLinesOff", "0123456789ab", "012345678b||||cursor 1 10|answer ", {.Wrap = false}},
    {"NoEmulationShowsControls", "a\x1b[1m\r\nb\t", "a␛[1m␍␊|b␉|||cursor 2 3|answer ", {.Emulation = teNone}},
    {"NoEmulationAppendLF", "a\rb", "a␍|b|||cursor 2 2|answer ", {.Emulation = teNone, .AppendLF = true}},
    // VT52
    {"Vt52DirectCursorAddress", "\x1bY\"#X", "||   X||cursor 3 5|answer ", {.Emulation = teVT52}},
    {"Vt52AddressClamped", "\x1bY~~X", "|||         X|cursor 4 10|answer ", {.Emulation = teVT52}},
    {"Vt52MovesStopAtTheEdges", "\x1b" "A\x1b" "DX\x1bY#)\x1b" "B\x1b" "CY", "X|||         Y|cursor 4 10|answer ",
     {.Emulation = teVT52}},
    {"Vt52Moves", "\x1bY!!\x1b" "A\x1b" "CX\x1b" "B\x1b" "B\x1b" "DY", "  X||  Y||cursor 3 4|answer ", {.Emulation = teVT52}},
    {"Vt52Home", "ab\x1bHX", "Xb||||cursor 1 2|answer ", {.Emulation = teVT52}},
    {"Vt52ReverseLineFeedScrolls", "a\x1bIb", " b|a|||cursor 1 3|answer ", {.Emulation = teVT52}},
    {"Vt52EraseToEndOfScreen", "abc\r\ndef\x1bY  \x1b" "C\x1bJ", "a||||cursor 1 2|answer ", {.Emulation = teVT52}},
    {"Vt52EraseToEndOfLine", "abc\r\ndef\x1bY  \x1b" "C\x1bK", "a|def|||cursor 1 2|answer ", {.Emulation = teVT52}},
    {"Vt52Graphics", "\x1b" "Fqx\x1bGq", "─│q||||cursor 1 4|answer ", {.Emulation = teVT52}},
    {"Vt52Identify", "\x1bZ", "||||cursor 1 1|answer \\x1b/Z", {.Emulation = teVT52}},
    {"Vt52HasNoControlSequences", "\x1b[2CX", "2CX||||cursor 1 4|answer ", {.Emulation = teVT52}},
    {"Vt52BackToAnsi", "\x1b<\x1b[2CX", "  X||||cursor 1 4|answer ", {.Emulation = teVT52}},
};

std::string Replay(const TCase& c, const std::vector<std::string>& pieces) {
  TVtEmulator vt(c.Setup.Cols, c.Setup.Rows);
  vt.SetEmulation(c.Setup.Emulation);
  vt.SetCharset(c.Setup.Charset);
  vt.SetForce7Bit(c.Setup.Force7Bit);
  vt.SetAppendLF(c.Setup.AppendLF);
  vt.SetWrapLines(c.Setup.Wrap);
  std::string answer;
  for (const std::string& p : pieces) {
    vt.Feed(p);
    answer += vt.TakeAnswer();
  }
  std::string report = vtreplay::ScreenReport(vt, answer);
  report.pop_back();
  for (char& ch : report)
    if (ch == '\n') ch = '|';
  return report;
}

class Emulation : public testing::TestWithParam<TCase> {};

TEST_P(Emulation, Screen) {
  const TCase& c = GetParam();
  EXPECT_EQ(Replay(c, {c.In}), c.Want);
}

TEST_P(Emulation, SameWhenCutAnywhere) {
  const TCase& c = GetParam();
  const std::string whole = Replay(c, {c.In});
  for (size_t cut = 1; cut < c.In.size(); ++cut)
    EXPECT_EQ(Replay(c, {c.In.substr(0, cut), c.In.substr(cut)}), whole) << "cut at byte " << cut;
  std::vector<std::string> bytes;
  for (char ch : c.In) bytes.emplace_back(1, ch);
  EXPECT_EQ(Replay(c, bytes), whole) << "a byte at a time";
}

INSTANTIATE_TEST_SUITE_P(Vt, Emulation, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TCase>& i) { return std::string(i.param.Name); });

}  // namespace

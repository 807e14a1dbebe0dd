// SPDX-License-Identifier: MIT
// What received bytes become in the view and in the log: stamped lines,
// hex rows, and the ends of lines and rows however the bytes are cut.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include "Received.h"

using namespace vxterm;
using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

class ReceivedTest : public testing::Test {
 protected:
  void SetUp() override {
    // Central European time without a zone database: stamps are local.
    ::setenv("TZ", "CET-1", 1);
    ::tzset();
  }
  void TearDown() override {
    ::unsetenv("TZ");
    ::tzset();
  }
};

// 2026-12-09 13:03:07.123 UTC, 14:03:07.123 in the zone above; arrival i
// comes i times step later.
TArrival At(int i, milliseconds step = 1000ms) {
  tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 9;
  t.tm_hour = 13;
  t.tm_min = 3;
  t.tm_sec = 7;
  const auto base = system_clock::from_time_t(::timegm(&t)) + 123ms;
  return {base + i * step, steady_clock::time_point(i * step)};
}

TEST_F(ReceivedTest, StampIsLocalTimeToTheMillisecond) {
  EXPECT_EQ(Stamp(At(0).Wall), "2026-12-09 14:03:07.123");
  EXPECT_EQ(Stamp(At(0).Wall + 882ms), "2026-12-09 14:03:08.005");
  EXPECT_EQ(Stamp(At(0).Wall + 10h), "2026-12-10 00:03:07.123");
}

struct TTextCase {
  const char* Name;
  bool Stamps;
  std::vector<std::string> Arrivals;  // one second apart
  std::string View, Log;              // "@n" stands for the stamp of arrival n
};

// The view as one text: the formatter's own parts and the device's bytes.
std::string Shown(const TRxText& out) {
  std::string s;
  for (const auto& part : out.View) s += part.Text;
  return s;
}

std::string Expand(std::string s) {
  for (size_t p; (p = s.find('@')) != std::string::npos;) s.replace(p, 2, Stamp(At(s[p + 1] - '0').Wall));
  return s;
}

class TextLines : public ReceivedTest, public testing::WithParamInterface<TTextCase> {};

TEST_P(TextLines, EachLineGoesOutAsItArrivesWithTheTimeOfItsFirstByte) {
  const TTextCase& c = GetParam();
  TRxFormatter f;
  TRxText out;
  f.SetTimestamps(c.Stamps, out);
  for (size_t i = 0; i < c.Arrivals.size(); ++i) f.Feed(c.Arrivals[i], At(static_cast<int>(i)), out);
  EXPECT_EQ(Shown(out), Expand(c.View));
  EXPECT_EQ(out.Log, Expand(c.Log));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextLines,
    testing::Values(
        TTextCase{"CrLfCutBetweenArrivalsEndsOneLine", true, {"ab\r", "\ncd\n"}, "@0 ab\n@1 cd\n", "@0 ab\n@1 cd\n"},
        TTextCase{"ACrAloneEndsALine", true, {"#02t062\r#02?\r"}, "@0 #02t062\n@0 #02?\n", "@0 #02t062\n@0 #02?\n"},
        TTextCase{"ALineCutAnywhereHasTheTimeOfItsStart", true, {"par", "tial", "\n"}, "@0 partial\n", "@0 partial\n"},
        TTextCase{"AnOpenLineIsInTheLogAlready", true, {"one\nhalf"}, "@0 one\n@0 half", "@0 one\n@0 half"},
        TTextCase{"EmptyLinesHaveTheirTimeToo", true, {"\n", "\r\n"}, "@0 \n@1 \n", "@0 \n@1 \n"},
        TTextCase{"NulAndFFAreBytesLikeAnyOther", true, {std::string("\0\xFF\n", 3)}, std::string("@0 \0\xFF\n", 6),
                  std::string("@0 \0\xFF\n", 6)},
        TTextCase{"WithoutStampsTheViewGetsTheBytesAsTheyCame", false, {"a\r", "\nb\rc\n\x1b[1m"},
                  "a\r\nb\rc\n\x1b[1m", "a\nb\nc\n\x1b[1m"}),
    [](const auto& info) { return info.param.Name; });

TEST_F(ReceivedTest, FinishEndsTheOpenLineOnceAndAChangeOfModeDoesToo) {
  TRxFormatter f;
  TRxText out;
  f.SetTimestamps(true, out);
  f.Feed("half", At(0), out);
  f.Finish(out);
  f.Finish(out);  // nothing open any more
  f.Feed("\n", At(1), out);  // an LF after Finish is a line of its own
  f.Feed("x", At(2), out);
  f.SetTimestamps(false, out);
  EXPECT_EQ(out.Log, Expand("@0 half\n@1 \n@2 x\n"));
  EXPECT_EQ(Shown(out), Expand("@0 half\n@1 \n@2 x\n"));
}

TEST_F(ReceivedTest, StampsAndLineEndsAreTheFormattersOwnTextTheLineIsTheDevices) {
  TRxFormatter f;
  TRxText out;
  f.SetTimestamps(true, out);
  f.Feed("\x1b[1mab\r\n", At(0), out);
  EXPECT_EQ(out.View, (std::vector<TViewPart>{{true, Expand("@0 ")}, {false, "\x1b[1mab"}, {true, "\n"}}));
  // Without stamps the line ends are the device's too.
  f.SetTimestamps(false, out);
  out = {};
  f.Feed("ab\r\n", At(0), out);
  EXPECT_EQ(out.View, (std::vector<TViewPart>{{false, "ab\r\n"}}));
}

// A full row: the 16 bytes, then their printable form.
const std::string kRow = "30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F  0123456789:;<=>?";

struct THexCase {
  const char* Name;
  bool Stamps;
  std::vector<std::pair<std::string, int>> Arrivals;  // bytes and arrival time in ms
  std::string Log;                                     // "@n": the stamp of the arrival at n ms
};

class HexRows : public ReceivedTest, public testing::WithParamInterface<THexCase> {};

TEST_P(HexRows, EndAtSixteenBytesAndAfterAPause) {
  const THexCase& c = GetParam();
  TRxFormatter f;
  TRxText out;
  f.SetTimestamps(c.Stamps, out);
  f.SetHex(true, out);
  for (const auto& [bytes, ms] : c.Arrivals) f.Feed(bytes, At(ms, 1ms), out);
  f.Finish(out);
  std::string want = c.Log;
  for (size_t p; (p = want.find('@')) != std::string::npos;) {
    const size_t end = want.find(' ', p);
    want.replace(p, end - p, Stamp(At(std::stoi(want.substr(p + 1, end - p - 1)), 1ms).Wall));
  }
  EXPECT_EQ(out.Log, want);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HexRows,
    testing::Values(
        THexCase{"SixteenBytesToARow", false, {{"0123456789:;<=>?0", 0}}, kRow + "\n30" + std::string(47, ' ') + "0\n"},
        THexCase{"BytesInAPauseJoinTheRow", false, {{"\x23\x30", 0}, {"\x35", 99}},
                 "23 30 35" + std::string(39, ' ') + "  #05\n"},
        THexCase{"APauseStartsANewRow", false, {{"\x23\x30", 0}, {"\x35", 100}},
                 "23 30" + std::string(42, ' ') + "  #0\n35" + std::string(45, ' ') + "  5\n"},
        THexCase{"RowsCarryTheTimeOfTheirFirstByte", true, {{"\x0D", 0}, {"\xFF", 500}},
                 "@0  0D" + std::string(45, ' ') + "  .\n@500  FF" + std::string(45, ' ') + "  .\n"}),
    [](const auto& info) { return info.param.Name; });

TEST_F(ReceivedTest, IdleEndsARowOnceItsPauseHasPassed) {
  TRxFormatter f;
  TRxText out;
  f.SetHex(true, out);
  f.SetHexPause(250ms);
  f.Feed("A", At(0, 1ms), out);
  ASSERT_EQ(f.IdleDue(), At(250, 1ms).Steady);
  f.Idle(At(249, 1ms).Steady, out);
  EXPECT_EQ(out.Log, "41");
  f.Idle(At(250, 1ms).Steady, out);
  EXPECT_EQ(out.Log, "41" + std::string(45, ' ') + "  A\n");
  EXPECT_EQ(f.IdleDue(), std::nullopt);
}

TEST_F(ReceivedTest, TheViewLeavesOutThePrintableColumnWhereItDoesNotFit) {
  TRxFormatter f;
  TRxText out;
  f.SetTimestamps(true, out);
  f.SetHex(true, out);
  EXPECT_EQ(f.HexRowWidth(true), 90);
  EXPECT_EQ(f.HexRowWidth(false), 72);
  f.SetHexTextInView(false);
  f.Feed("0123456789:;<=>?", At(0), out);
  const std::string stamped = Stamp(At(0).Wall) + "  " + kRow;
  EXPECT_EQ(Shown(out), stamped.substr(0, 72) + "\n");
  EXPECT_EQ(out.Log, stamped + "\n");
}

}  // namespace

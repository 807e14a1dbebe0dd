// SPDX-License-Identifier: MIT
// The input line: the bytes each kind of input sends, and the history.
#include <gtest/gtest.h>

#include "LineInput.h"

using namespace vxterm;

namespace {

struct TTextCase {
  const char* Name;
  QString Line;
  ELineEnding Ending;
  ECharset Charset;
  std::string Bytes;  // empty with Error
  const char* Error;
};

class TextInput : public testing::TestWithParam<TTextCase> {};

TEST_P(TextInput, SendsTheLineInItsCharsetWithTheEnding) {
  const TTextCase& c = GetParam();
  const TEncodedLine r = EncodeText(c.Line, c.Ending, c.Charset);
  EXPECT_EQ(r.Bytes, c.Bytes);
  EXPECT_NE(r.Error.toStdString().find(c.Error), std::string::npos) << r.Error.toStdString();
  EXPECT_EQ(r.Ok(), *c.Error == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextInput,
    testing::Values(TTextCase{"NoEnding", "%05t", ELineEnding::None, ECharset::Utf8, "%05t", ""},
                    TTextCase{"Cr", "%05t", ELineEnding::CR, ECharset::Utf8, "%05t\r", ""},
                    TTextCase{"Lf", "%05t", ELineEnding::LF, ECharset::Utf8, "%05t\n", ""},
                    TTextCase{"CrLf", "%05t", ELineEnding::CRLF, ECharset::Utf8, "%05t\r\n", ""},
                    TTextCase{"EmptyLineIsItsEnding", "", ELineEnding::CR, ECharset::Utf8, "\r", ""},
                    TTextCase{"Utf8", QString::fromUtf8("Grüße"), ELineEnding::None, ECharset::Utf8, "Gr\xC3\xBC\xC3\x9F" "e", ""},
                    TTextCase{"Latin1", QString::fromUtf8("Grüße"), ELineEnding::None, ECharset::Latin1, "Gr\xFC\xDF" "e", ""},
                    TTextCase{"NotInLatin1", QString::fromUtf8("5 €"), ELineEnding::CR, ECharset::Latin1, "", "'€'"}),
    [](const auto& info) { return info.param.Name; });

struct THexCase {
  const char* Name;
  QString Line;
  std::string Bytes;
  const char* Error;
};

class HexInput : public testing::TestWithParam<THexCase> {};

TEST_P(HexInput, SendsExactlyTheBytesNamedOrSaysWhichTokenIsWrong) {
  const THexCase& c = GetParam();
  const TEncodedLine r = EncodeHex(c.Line);
  EXPECT_EQ(r.Bytes, c.Bytes);
  EXPECT_NE(r.Error.toStdString().find(c.Error), std::string::npos) << r.Error.toStdString();
  EXPECT_EQ(r.Ok(), *c.Error == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HexInput,
    testing::Values(THexCase{"Blanks", "23 30 35 3F 0D", "#05?\r", ""},
                    THexCase{"CommasAndPrefixes", " 0x23,0X30 , 35 ", "#05", ""},
                    THexCase{"LowerCaseAndRuns", "3f0d 0a", "?\r\n", ""},
                    THexCase{"OneDigit", "0 a", std::string("\0\n", 2), ""},
                    THexCase{"NulAndFF", "00 FF", std::string("\0\xFF", 2), ""},
                    THexCase{"Nothing", "   ", "", ""},
                    THexCase{"NotHex", "23 3G 0D", "", "'3G' is not a hex byte"},
                    THexCase{"BarePrefix", "0x", "", "'0x' is not a hex byte"},
                    THexCase{"OddRun", "233", "", "'233' has an odd number of hex digits"}),
    [](const auto& info) { return info.param.Name; });

TEST(History, UpAndDownWalkTheLinesAndComeBackToTheOneBeingEdited) {
  THistory h;
  h.Add("one");
  h.Add("two");
  h.Add("two");  // a repeat is not kept twice
  h.Add("");     // nor an empty line
  EXPECT_EQ(h.Entries(), QStringList({"one", "two"}));
  EXPECT_EQ(h.Older("draft"), "two");
  EXPECT_EQ(h.Older("two"), "one");
  EXPECT_EQ(h.Older("one"), std::nullopt);
  EXPECT_EQ(h.Newer(), "two");
  EXPECT_EQ(h.Newer(), "draft");
  EXPECT_EQ(h.Newer(), std::nullopt);
  // Sending starts the walk afresh from the newest.
  h.Older("");
  h.Add("three");
  EXPECT_EQ(h.Older(""), "three");
}

TEST(History, KeepsTheNewestUpToItsLimit) {
  THistory h(3);
  h.SetEntries({"a", "b", "c", "d"});
  EXPECT_EQ(h.Entries(), QStringList({"b", "c", "d"}));
  h.Add("e");
  EXPECT_EQ(h.Entries(), QStringList({"c", "d", "e"}));
}

}  // namespace

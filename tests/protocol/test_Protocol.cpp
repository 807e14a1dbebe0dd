// SPDX-License-Identifier: MIT
// The generator protocol and the display tables, without a window.
#include <gtest/gtest.h>

#include <string>

#include "Protocol.h"

using namespace vxpanel;
using namespace std::string_literals;

// -- frames ---------------------------------------------------------------------------

TEST(Frames, SetFramesAreTenBytesWithFiveDigits) {
  const struct {
    char Letter;
    int32_t Value;
    std::string Frame;
  } cases[] = {
      {'f', 30000, "#05f30000\r"}, {'w', 1, "#05w00001\r"},     {'p', 50, "#05p00050\r"},
      {'u', 4095, "#05u04095\r"},  {'f', 51800, "#05f51800\r"}, {'r', 0, "#05r00000\r"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SetFrame(kGeneratorAddress, c.Letter, c.Value), c.Frame);
    EXPECT_EQ(SetFrame(kGeneratorAddress, c.Letter, c.Value).size(), 10u);
  }
}

TEST(Frames, QueriesAndActionsAreSentLiterally) {
  EXPECT_EQ(QueryFrame('f'), "%05f\r");
  EXPECT_EQ(QueryFrame('?'), "%05?\r");
  EXPECT_EQ(kVersionQuery, "%@05SR\r");
  EXPECT_EQ(kVersionQuery.size(), 7u);
  EXPECT_EQ(kWriteFrame, "@05wr\r");
  EXPECT_EQ(kStartFrame, "@05start\r");
  EXPECT_EQ(kStopFrame, "@05stop\r");
}

// -- atol ---------------------------------------------------------------------------------

TEST(Atol, ConvertsAsTheCLibraryDoes) {
  const struct {
    std::string Field;
    int32_t Value;
  } cases[] = {
      {"00050", 50}, {"150", 150},  {"", 0},      {"abc", 0},   {"12a45", 12}, {" 42", 42},
      {"\t\n7", 7},  {"-0030", -30}, {"+12", 12}, {"- 5", 0},   {"--5", 0},    {"99999", 99999},
      {"3\0" "45"s, 3},
  };
  for (const auto& c : cases) EXPECT_EQ(Atol(c.Field), c.Value) << "field \"" << c.Field << "\"";
}

TEST(Atol, LongerFieldsThanTheProtocolsCannotOverflow) {
  EXPECT_EQ(Atol("99999999999999999999"), INT32_MAX);
  EXPECT_EQ(Atol("-99999999999999999999"), -INT32_MAX);
}

// -- value replies ----------------------------------------------------------------------------

TEST(ValueReply, MatchesByPositionAndLetter) {
  const struct {
    std::string Received;
    char Letter;
    std::optional<int32_t> Value;
  } cases[] = {
      {"#02p00050\r", 'p', 50},
      {"#02p00050 and whatever follows", 'p', 50},
      {"#02p00050\r", 'm', std::nullopt},   // another letter
      {"#02", 'p', std::nullopt},           // cut after the header
      {"", 'p', std::nullopt},              // nothing arrived
      {"\r#02p00050", 'p', std::nullopt},   // shifted by a stray byte: no search
      {"#03p00050\r", 'p', std::nullopt},   // another header
      {"#02p001", 'p', 1},                  // cut short: the digits that came
      {"#02p", 'p', 0},                     // header only: no digits
      {"#02t00150\r", 't', 150},
      {"#02f4x123\r", 'f', 4},              // a letter ends the number
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseValueReply(c.Received, c.Letter), c.Value) << "reply \"" << c.Received << "\"";
}

TEST(ValueReply, LooksAtTheFirstTwentyBytesOnly) {
  EXPECT_EQ(ParseValueReply(std::string(20, 'x') + "#02p00050", 'p'), std::nullopt);
}

// -- version replies ---------------------------------------------------------------------------

TEST(VersionReply, TextIsBytesThreeToSeven) {
  auto r = ParseVersionReply("#02SR016\r");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Text, "SR016");
  EXPECT_EQ(r->Kind, '1');
  EXPECT_EQ(r->Model, '6');

  r = ParseVersionReply("#02SR01");  // cut: the text ends where the bytes end
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Text, "SR01");
  EXPECT_EQ(r->Model, '\0');
  EXPECT_FALSE(VariantRange(r->Kind, r->Model));

  EXPECT_FALSE(ParseVersionReply("#02SX016\r"));
  EXPECT_FALSE(ParseVersionReply("#02S"));
  EXPECT_FALSE(ParseVersionReply("x#02SR016"));
}

TEST(Variants, SixKnownRangesAndNothingElse) {
  const struct {
    char Kind, Model;
    std::optional<TFrequencyRange> Range;
  } cases[] = {
      {'1', '0', TFrequencyRange{21435, 40560}}, {'1', '1', TFrequencyRange{17460, 28520}},
      {'1', '2', TFrequencyRange{24000, 45000}}, {'1', '4', TFrequencyRange{27700, 51800}},
      {'1', '5', TFrequencyRange{30000, 50000}}, {'1', '6', TFrequencyRange{11000, 20000}},
      {'1', '3', std::nullopt},                  {'1', '7', std::nullopt},
      {'0', '6', std::nullopt},                  {'2', '0', std::nullopt},
      {'1', '\0', std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(VariantRange(c.Kind, c.Model), c.Range) << c.Kind << c.Model;
}

// -- status block --------------------------------------------------------------------------------

TEST(StatusBlock, FiveFieldsAndTheState) {
  auto s = ParseStatusBlock("#02?5006000301009991\r");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Phase, 500);
  EXPECT_EQ(s->Current, 600);
  EXPECT_EQ(s->Tracking, 30);
  EXPECT_EQ(s->AcCurrent, 100);
  EXPECT_EQ(s->Voltage, 999);
  EXPECT_EQ(s->State, '1');
}

TEST(StatusBlock, ShortAndGarbledBlocks) {
  auto s = ParseStatusBlock("#02?500600030100999");  // 19 bytes: the state is a zero byte
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Voltage, 999);
  EXPECT_EQ(s->State, '\0');

  s = ParseStatusBlock("#02?5x0600030100999 ");  // a letter in a field
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Phase, 5);
  EXPECT_EQ(s->State, ' ');

  s = ParseStatusBlock("#02?12");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Phase, 12);
  EXPECT_EQ(s->Current, 0);

  EXPECT_FALSE(ParseStatusBlock("#02t00040\r"));
  EXPECT_FALSE(ParseStatusBlock("#02"));
  EXPECT_FALSE(ParseStatusBlock("\r#02?5006000301009991"));
}

// SPDX-License-Identifier: MIT
// Setting texts: the fixed tables, parsing with its defaults, and the order
// of the port list.
#include <gtest/gtest.h>

#include "CPort.h"
#include "RecordingDriver.h"

using namespace cport;

namespace {

TEST(SettingTexts, TablesInEnumerationOrder) {
  const char* baud[] = {"Custom", "110",   "300",   "600",   "1200",   "2400",   "4800",   "9600",
                        "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
  for (int i = 0; i < BaudRateCount; ++i) EXPECT_EQ(BaudRateToStr(static_cast<TBaudRate>(i)), baud[i]);
  EXPECT_EQ(StopBitsToStr(sbOneStopBit), "1");
  EXPECT_EQ(StopBitsToStr(sbOne5StopBits), "1.5");
  EXPECT_EQ(StopBitsToStr(sbTwoStopBits), "2");
  EXPECT_EQ(DataBitsToStr(dbFive), "5");
  EXPECT_EQ(DataBitsToStr(dbEight), "8");
  const char* parity[] = {"None", "Odd", "Even", "Mark", "Space"};
  for (int i = 0; i < ParityBitsCount; ++i) EXPECT_EQ(ParityToStr(static_cast<TParityBits>(i)), parity[i]);
  const char* flow[] = {"Hardware", "Software", "None", "Custom"};
  for (int i = 0; i < FlowControlCount; ++i) EXPECT_EQ(FlowControlToStr(static_cast<TFlowControl>(i)), flow[i]);
}

TEST(SettingTexts, EveryTextParsesBackToItsValue) {
  for (int i = 0; i < BaudRateCount; ++i) {
    const auto v = static_cast<TBaudRate>(i);
    EXPECT_EQ(StrToBaudRate(BaudRateToStr(v)), v);
  }
  for (int i = 0; i < StopBitsCount; ++i) {
    const auto v = static_cast<TStopBits>(i);
    EXPECT_EQ(StrToStopBits(StopBitsToStr(v)), v);
  }
  for (int i = 0; i < DataBitsCount; ++i) {
    const auto v = static_cast<TDataBits>(i);
    EXPECT_EQ(StrToDataBits(DataBitsToStr(v)), v);
  }
  for (int i = 0; i < ParityBitsCount; ++i) {
    const auto v = static_cast<TParityBits>(i);
    EXPECT_EQ(StrToParity(ParityToStr(v)), v);
  }
  for (int i = 0; i < FlowControlCount; ++i) {
    const auto v = static_cast<TFlowControl>(i);
    EXPECT_EQ(StrToFlowControl(FlowControlToStr(v)), v);
  }
}

TEST(SettingTexts, ParsingFoldsAsciiCaseOnly) {
  EXPECT_EQ(StrToParity("odd"), prOdd);
  EXPECT_EQ(StrToParity("ODD"), prOdd);
  EXPECT_EQ(StrToParity("oDd"), prOdd);
  EXPECT_EQ(StrToBaudRate("custom"), brCustom);
  EXPECT_EQ(StrToFlowControl("hARDWARE"), fcHardware);
  // Non-ASCII letters are not folded (the dotless i is no "I").
  EXPECT_EQ(StrToFlowControl("Hardwar\xC4\xB1"), fcCustom);
}

TEST(SettingTexts, UnmatchedTextGivesTheTablesDefault) {
  EXPECT_EQ(StrToBaudRate(""), br9600);
  EXPECT_EQ(StrToBaudRate("9601"), br9600);
  EXPECT_EQ(StrToBaudRate(" 110"), br9600);  // nothing is trimmed
  EXPECT_EQ(StrToStopBits("1.50"), sbOneStopBit);
  EXPECT_EQ(StrToStopBits("2 "), sbOneStopBit);
  EXPECT_EQ(StrToDataBits("9"), dbEight);
  EXPECT_EQ(StrToParity("parity"), prNone);
  EXPECT_EQ(StrToFlowControl("xon"), fcCustom);
  EXPECT_EQ(StrToFlowControl(""), fcCustom);
  EXPECT_EQ(StrToParity(std::string("Odd\0", 4)), prNone);
}

TEST(SettingTexts, PortListIsSortedAsPlainText) {
  cport::test::TRecordingDriver d;
  d.SetPorts({"COM3", "COM1", "COM10"});
  std::vector<std::string> list{"stale"};
  EnumComPorts(list, d);
  EXPECT_EQ(list, (std::vector<std::string>{"COM1", "COM10", "COM3"}));
}

TEST(SettingTexts, PortListComparesWithoutCase) {
  cport::test::TRecordingDriver d;
  d.SetPorts({"com2", "COM1", "Com1"});
  std::vector<std::string> list;
  EnumComPorts(list, d);
  ASSERT_EQ(list.size(), 3u);  // duplicates stay
  EXPECT_EQ(list.back(), "com2");
}

TEST(SettingTexts, AnEmptyTableEmptiesTheList) {
  cport::test::TRecordingDriver d;
  std::vector<std::string> list{"old"};
  EnumComPorts(list, d);
  EXPECT_TRUE(list.empty());
}

TEST(SettingTexts, AnUnreadableSourceRaisesCode23AndKeepsTheList) {
  cport::test::TRecordingDriver d;
  d.SetPorts({"COM1"}, 2);
  std::vector<std::string> list{"kept"};
  try {
    EnumComPorts(list, d);
    FAIL() << "no failure";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 23);
    EXPECT_EQ(e.SystemErrorCode(), 2);
    EXPECT_STREQ(e.what(), "Registry error (win error code: 2)");
  }
  EXPECT_EQ(list, std::vector<std::string>{"kept"});
}

}  // namespace

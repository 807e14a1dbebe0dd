// SPDX-License-Identifier: MIT
// The splitting rules, as one table over AddData: each case lists its
// framing, what arrives (and what happens in between), and the packets
// ([...]) and discarded runs ({...}) expected, in order.  Cases that do not
// depend on how bytes are cut run whole, cut at every position, and one
// byte at a time.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CPortPacket.h"
#include "RecordingDriver.h"

using namespace cport;
using namespace std::string_literals;

namespace {

std::string Escaped(const std::string& bytes) {
  std::string out;
  char hex[8];
  for (unsigned char c : bytes) {
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c >= 0x20 && c < 0x7F && c != '\\' ? std::string(1, c) : hex;
  }
  return out;
}

struct TCase {
  const char* Guard;
  std::string Start, Stop;
  int32_t Size = 0;
  bool Include = false, Caseless = false;
  int32_t Max = 1024;
  std::vector<std::string> Input;  // arrivals, and <close>, <open>, <reset>, <stop=...>
  bool AnyCut = false;             // Input is one arrival whose cuts must not matter
  std::string Expected;
};

const TCase kCases[] = {
    {"StopEndsEachPacket", "", "\r\n", 0, false, false, 1024, {"a\r\nbc\r\n\r\n"}, true, R"([a][bc][])"},
    {"StopIncluded", "", "\r\n", 0, true, false, 1024, {"a\r\nbc\r\n"}, true, R"([a\r\n][bc\r\n])"},
    {"BytesBeforeAStartAreDiscarded", "#", "\r", 0, false, false, 1024, {"xx#ab\ryy#c\r"}, true,
     R"({xx}[ab]{yy}[c])"},
    {"StartAndStopIncluded", "#", "\r", 0, true, false, 1024, {"x#ab\r"}, true, R"({x}[#ab\r])"},
    {"SizeAlone", "", "", 3, false, false, 1024, {"abcdefg"}, true, R"([abc][def])"},
    {"StartAndSize", "##", "", 2, false, false, 1024, {"x##ab##cd"}, true, R"({x}[ab][cd])"},
    {"StopOrSizeWhicheverFirst", "", "\r", 4, false, false, 1024, {"ab\rabcdef\r"}, true, R"([ab][abcd][ef])"},
    {"StopCompletingAtTheSizeWins", "", "ab", 3, false, false, 1024, {"xabyyy"}, true, R"([x][yyy])"},
    {"MarkersIgnoreCaseBytesDoNot", "<ab>", "</ab>", 0, true, true, 1024, {"<aB>x</AB><ab>y</ab>"}, true,
     R"([<aB>x</AB>][<ab>y</ab>])"},
    {"CaseCountsByDefault", "AB", "\r", 0, false, false, 1024, {"ab1\rAB2\r"}, true, R"({ab1\r}[2])"},
    {"PartialStopFallsBack", "", "abab", 0, false, false, 1024, {"xabacababz"}, true, R"([xabac])"},
    {"NulAndFFAreBytes", "\xFF"s, "\0\xFF"s, 0, false, false, 1024, {"\0\xFF" "a\0b\0\xFF"s}, true,
     R"({\x00}[a\x00b])"},
    {"EachArrivalIsAPacket", "", "", 0, false, false, 1024, {"abc", "de"}, false, R"([abc][de])"},
    {"AStartEndingAnArrivalMakesTheNextThePacket", "#", "", 0, false, false, 1024, {"x#ab", "y#", "cd"}, false,
     R"({x}[ab]{y}[cd])"},
    {"AnArrivalGoesInPiecesOfMax", "", "", 0, false, false, 2, {"abcde"}, false, R"([ab][cd][e])"},
    {"PayloadOfExactlyMax", "", "\r\n", 0, false, false, 3, {"abc\r\n"}, true, R"([abc])"},
    {"TooLongWithAStartLooksForTheNext", "#", "\r", 0, false, false, 3, {"#abcd\r#ab\r"}, true,
     R"({#abcd}{\r}[ab])"},
    {"TooLongWithoutAStartIsDiscardedToItsEnd", "", "\r\n", 0, false, false, 3, {"abcdefg\r\nxy\r\n"}, true,
     R"({abcd}{efg}{\r\n}[xy])"},
    {"SizeAboveMaxNeverPasses", "", "", 4, false, false, 3, {"abcdefghXY"}, true, R"({abcd}{efgh})"},
    {"JunkIsDiscardedInRunsOfMax", "#", "\r", 0, false, false, 4, {"abcdefg#x\r"}, true, R"({abcd}{efg}[x])"},
    {"JunkOverflowKeepsAPartialStart", "aab", "\r", 0, false, false, 1, {"aaabx\r"}, true, R"({a}[x])"},
    {"APropertyChangeDiscards", "", "\r", 0, false, false, 1024, {"ab", "<stop=\n>", "c\r\nd"}, false,
     R"({ab}[c\r])"},
    {"ClosingThePortDiscards", "", "\r", 0, false, false, 1024, {"ab", "<close>", "<open>", "c\r"}, false,
     R"({ab}[c])"},
    {"ResetBufferDiscards", "#", "\r", 0, false, false, 1024, {"x#a", "<reset>", "b\r#c\r"}, false,
     R"({x}{#a}{b\r}[c])"},
};

std::string Split(const TCase& c, const std::vector<std::string>& input) {
  test::TRecordingDriver driver;
  TComPort port(nullptr, &driver);
  port.SetEvents({});
  TComDataPacket s;
  s.SetStartString(c.Start);
  s.SetStopString(c.Stop);
  s.SetSize(c.Size);
  s.SetIncludeStrings(c.Include);
  s.SetCaseInsensitive(c.Caseless);
  s.SetMaxBufferSize(c.Max);
  s.SetComPort(&port);
  port.Open();
  std::string log;
  s.OnPacket = [&](TComDataPacket*, const std::string& b) { log += "[" + Escaped(b) + "]"; };
  s.OnDiscard = [&](TComDataPacket*, const std::string& b) { log += "{" + Escaped(b) + "}"; };
  for (const std::string& a : input) {
    if (a == "<close>")
      port.Close();
    else if (a == "<open>")
      port.Open();
    else if (a == "<reset>")
      s.ResetBuffer();
    else if (a.rfind("<stop=", 0) == 0)
      s.SetStopString(a.substr(6, a.size() - 7));
    else
      s.AddData(a.data(), static_cast<int32_t>(a.size()));
  }
  return log;
}

TEST(Packet, SplittingRules) {
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.Guard);
    EXPECT_EQ(Split(c, c.Input), c.Expected);
    if (!c.AnyCut) continue;
    const std::string& all = c.Input.front();
    for (size_t cut = 1; cut < all.size(); ++cut)
      EXPECT_EQ(Split(c, {all.substr(0, cut), all.substr(cut)}), c.Expected) << "cut at " << cut;
    std::vector<std::string> bytes;
    for (char b : all) bytes.emplace_back(1, b);
    EXPECT_EQ(Split(c, bytes), c.Expected) << "byte by byte";
  }
}

TEST(Packet, BadSettingsAreRefusedByNameAndChangeNothing) {
  TComDataPacket s;
  s.SetSize(5);
  s.AddData("held", 4);
  const std::pair<std::function<void()>, const char*> refused[] = {
      {[&] { s.SetSize(-1); }, "Size"},
      {[&] { s.SetMaxBufferSize(0); }, "MaxBufferSize"},
      {[&] { s.AddData("x", -1); }, "AddData"},
  };
  for (const auto& [call, property] : refused) {
    try {
      call();
      ADD_FAILURE() << property << " took a bad value";
    } catch (const EComDataPacket& e) {
      EXPECT_EQ(e.Property(), property);
      EXPECT_NE(std::string(e.what()).find(property), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(s.Size(), 5);
  EXPECT_EQ(s.MaxBufferSize(), 1024);
  EXPECT_EQ(s.HeldCount(), 4u) << "nothing discarded";
}

// A header line tells how long the binary body is: the handler switches to
// that size and back, within one arrival.
TEST(Packet, AHandlerMaySwitchTheFramingForTheRestOfAnArrival) {
  TComDataPacket s;
  s.SetStopString("\r\n");
  std::vector<std::string> got;
  s.OnPacket = [&](TComDataPacket* p, const std::string& b) {
    got.push_back(b);
    if (b == "LEN 3") {
      p->SetStopString("");
      p->SetSize(3);
    } else if (p->Size()) {
      p->SetSize(0);
      p->SetStopString("\r\n");
    }
  };
  const std::string in = "LEN 3\r\n\r\n\0ok\r\n"s;
  s.AddData(in.data(), static_cast<int32_t>(in.size()));
  EXPECT_EQ(got, (std::vector<std::string>{"LEN 3", "\r\n\0"s, "ok"}));
}

TEST(Packet, ADestroyedPortLetsGoOfItsSplitters) {
  test::TRecordingDriver driver;
  auto port = std::make_unique<TComPort>(nullptr, &driver);
  TComDataPacket s;
  s.SetStopString("\r");
  s.SetComPort(port.get());
  s.AddData("ab", 2);
  std::string discarded;
  s.OnDiscard = [&](TComDataPacket*, const std::string& b) { discarded += b; };
  port.reset();
  EXPECT_EQ(s.ComPort(), nullptr);
  EXPECT_EQ(discarded, "ab");
}

TEST(Packet, AHandlerMayDestroyItsSplitter) {
  auto s = std::make_unique<TComDataPacket>();
  s->SetStopString(";");
  int packets = 0;
  s->OnPacket = [&](TComDataPacket*, const std::string&) {
    ++packets;
    s.reset();
  };
  s->AddData("a;b;c;", 6);
  EXPECT_EQ(packets, 1);
  EXPECT_EQ(s, nullptr);
}

}  // namespace

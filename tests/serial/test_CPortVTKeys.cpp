// SPDX-License-Identifier: MIT
// The bytes each key sends, for both emulations and every mode they depend on.
#include <gtest/gtest.h>

#include <string>

#include "CPortVT.h"

using namespace cport;

namespace {

struct TKeyCase {
  TVtKeyPress Key;
  TVtKeyModes Modes;
  std::string Bytes;
};

TVtKeyPress K(TVtKey key) { return {key, {}, false}; }
TVtKeyPress T(const char* text) { return {vkNone, text, false}; }
TVtKeyPress Ctrl(const char* text) { return {vkNone, text, true}; }

const TVtKeyModes kAnsi{};
const TVtKeyModes kCursorKeys{.CursorKeys = true};
const TVtKeyModes kKeypadApp{.KeypadApp = true};
const TVtKeyModes kVt52{.Emulation = teVT52};
const TVtKeyModes kVt52Keypad{.Emulation = teVT52, .KeypadApp = true};

void Check(const std::vector<TKeyCase>& cases, const char* table) {
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(VtKeyBytes(cases[i].Key, cases[i].Modes), cases[i].Bytes) << table << " row " << i;
}

TEST(VtKeys, TextAndControlLetters) {
  Check({
            {T("a"), kAnsi, "a"},
            {T("\xc3\xa9\xe2\x82\xac"), kAnsi, "\xc3\xa9\xe2\x82\xac"},  // UTF-8 as typed
            {T("\xc3\xa9\xe2\x82\xac"), {.Charset = tcLatin1}, "\xe9?"},  // what Latin-1 lacks as '?'
            {Ctrl("a"), kAnsi, "\x01"},
            {Ctrl("Z"), kAnsi, "\x1a"},
            {Ctrl("["), kAnsi, "\x1b"},
            {Ctrl("_"), kAnsi, "\x1f"},
            {Ctrl(" "), kAnsi, std::string(1, '\0')},
            {Ctrl("?"), kAnsi, "\x7f"},
            {Ctrl("1"), kAnsi, ""},
            {Ctrl("ab"), kAnsi, ""},
        },
        "text");
}

TEST(VtKeys, ReturnBackspaceTabEscape) {
  Check({
            {K(vkReturn), kAnsi, "\r"},
            {K(vkReturn), {.NewLine = true}, "\r\n"},
            {K(vkReturn), {.SendLF = true}, "\r\n"},
            {K(vkReturn), {.Emulation = teVT52, .SendLF = true}, "\r\n"},
            {K(vkKpEnter), {.SendLF = true}, "\r\n"},
            {K(vkBackspace), kAnsi, "\x7f"},
            {K(vkBackspace), {.BackspaceDel = false}, "\b"},
            {K(vkTab), kVt52, "\t"},
            {K(vkEscape), kAnsi, "\x1b"},
        },
        "editing");
}

TEST(VtKeys, ArrowsInEachMode) {
  Check({
            {K(vkUp), kAnsi, "\x1b[A"},
            {K(vkDown), kAnsi, "\x1b[B"},
            {K(vkRight), kAnsi, "\x1b[C"},
            {K(vkLeft), kAnsi, "\x1b[D"},
            {K(vkUp), kCursorKeys, "\x1bOA"},
            {K(vkLeft), kCursorKeys, "\x1bOD"},
            {K(vkUp), kVt52, "\x1b" "A"},
            {K(vkLeft), {.Emulation = teVT52, .CursorKeys = true}, "\x1b" "D"},
            {K(vkDown), {.Emulation = teNone}, "\x1b[B"},
        },
        "arrows");
}

TEST(VtKeys, FunctionAndEditingKeys) {
  Check({
            {K(vkF1), kAnsi, "\x1bOP"},
            {K(vkF4), kAnsi, "\x1bOS"},
            {K(vkF2), kVt52, "\x1bQ"},
            {K(vkHome), kAnsi, "\x1b[1~"},
            {K(vkInsert), kAnsi, "\x1b[2~"},
            {K(vkDelete), kAnsi, "\x1b[3~"},
            {K(vkEnd), kAnsi, "\x1b[4~"},
            {K(vkPageUp), kAnsi, "\x1b[5~"},
            {K(vkPageDown), kCursorKeys, "\x1b[6~"},
            {K(vkHome), kVt52, "\x1bH"},
            {K(vkDelete), kVt52, "\x7f"},
            {K(vkEnd), kVt52, ""},
            {K(vkPageUp), kVt52, ""},
            {K(vkInsert), kVt52, ""},
        },
        "function");
}

TEST(VtKeys, KeypadNumericAndApplication) {
  Check({
            {K(vkKp0), kAnsi, "0"},
            {K(vkKp9), kAnsi, "9"},
            {K(vkKpMinus), kAnsi, "-"},
            {K(vkKpComma), kAnsi, ","},
            {K(vkKpPeriod), kAnsi, "."},
            {K(vkKpEnter), kAnsi, "\r"},
            {K(vkKpDivide), kVt52, "/"},
            {K(vkKp0), kKeypadApp, "\x1bOp"},
            {K(vkKp9), kKeypadApp, "\x1bOy"},
            {K(vkKpMinus), kKeypadApp, "\x1bOm"},
            {K(vkKpComma), kKeypadApp, "\x1bOl"},
            {K(vkKpPeriod), kKeypadApp, "\x1bOn"},
            {K(vkKpEnter), kKeypadApp, "\x1bOM"},
            {K(vkKpPlus), kKeypadApp, "\x1bOk"},
            {K(vkKpMultiply), kKeypadApp, "\x1bOj"},
            {K(vkKpDivide), kKeypadApp, "\x1bOo"},
            {K(vkKp5), kVt52Keypad, "\x1b?u"},
            {K(vkKpEnter), kVt52Keypad, "\x1b?M"},
        },
        "keypad");
}

// The emulation's modes, as a host sets them, reach the keyboard.
TEST(VtKeys, FollowTheModesTheHostSets) {
  TVtEmulator vt;
  vt.Feed("\x1b[?1h\x1b=");
  EXPECT_EQ(VtKeyBytes(K(vkUp), vt.KeyModes()), "\x1bOA");
  EXPECT_EQ(VtKeyBytes(K(vkKp1), vt.KeyModes()), "\x1bOq");
  vt.Feed("\x1b[?2l");
  EXPECT_EQ(VtKeyBytes(K(vkUp), vt.KeyModes()), "\x1b" "A");
  EXPECT_EQ(VtKeyBytes(K(vkKp1), vt.KeyModes()), "\x1b?q");
}

}  // namespace

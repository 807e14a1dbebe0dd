// SPDX-License-Identifier: MIT
// vtreplay as a user runs it: options, input from a file or standard input,
// and clear errors for what it cannot take.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "Program.h"

namespace vxsim {
namespace {

using test::TProgram;

struct TRun {
  int Code;
  std::string Out, Err;
};

class Vtreplay : public testing::Test {
 protected:
  void SetUp() override { FDir = test::TempDir(); }
  void TearDown() override { test::fs::remove_all(FDir); }

  std::string Input(const std::string& bytes) {
    const std::string path = (FDir / "input").string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  TRun Run(const std::vector<std::string>& args) { return Finish(TProgram(VTREPLAY_PATH, FDir, args)); }
  // With standard input from a file; extra arguments after the program's.
  TRun RunWithStdin(const std::string& bytes, const std::string& argument) {
    std::vector<std::string> args{"-c", "exec \"$0\" $1 < \"$2\"", VTREPLAY_PATH, argument, Input(bytes)};
    return Finish(TProgram("/bin/sh", FDir, args));
  }

  test::fs::path FDir;

 private:
  static TRun Finish(TProgram&& p) {
    const int code = p.Wait();
    return {code, p.RestOfStdout(), p.Stderr()};
  }
};

TEST_F(Vtreplay, PrintsTheScreenCursorAndAnswer) {
  const TRun r = Run({"--cols", "8", "--rows", "3", Input("ab  \r\n\x1b(0lqk\x1b(B\x1b[6n\x1b[c")});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "ab\n┌─┐\n\ncursor 2 4\nanswer \\x1b[2;4R\\x1b[?1;2c\n");
}

TEST_F(Vtreplay, Vt52AndInlineValues) {
  const TRun r = Run({"--emulation=vt52", "--cols=6", "--rows=2", Input("\x1bY!\"X\x1bZ")});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "\n  X\ncursor 2 4\nanswer \\x1b/Z\n");
}

TEST_F(Vtreplay, ReadsStandardInputWithDashOrWithoutFile) {
  for (const std::string arg : {"-", "--latin1"}) {
    const TRun r = RunWithStdin("caf\xe9!", arg);
    EXPECT_EQ(r.Code, 0) << arg << r.Err;
    const std::string first = r.Out.substr(0, r.Out.find('\n'));
    EXPECT_EQ(first, arg == "-" ? "caf\xef\xbf\xbd!" : "caf\xc3\xa9!") << arg;
  }
  EXPECT_EQ(RunWithStdin("x", "--utf8").Out.substr(0, 2), "x\n");
}

TEST_F(Vtreplay, WrongOptionsAreUsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"--cols", "0"},  {"--rows", "1025"},      {"--cols", "8x"},      {"--cols"},
      {"--emulation", "vt220"}, {"--utf8=yes"}, {"--color"}, {"a", "b"},
  };
  for (const auto& args : cases) {
    const TRun r = Run(args);
    EXPECT_EQ(r.Code, 2) << args[0];
    EXPECT_NE(r.Err.find("Try 'vtreplay --help'"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out, "");
  }
}

TEST_F(Vtreplay, InputThatCannotBeReadFails) {
  for (const std::string& path : std::vector<std::string>{(FDir / "missing").string(), FDir.string()}) {
    const TRun r = Run({path});
    EXPECT_EQ(r.Code, 1) << path;
    EXPECT_NE(r.Err.find(path), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out, "");
  }
}

TEST_F(Vtreplay, HelpListsTheOptions) {
  const TRun r = Run({"--help"});
  EXPECT_EQ(r.Code, 0);
  for (const char* option : {"--emulation", "--cols", "--rows", "--utf8", "--latin1"})
    EXPECT_NE(r.Out.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace vxsim

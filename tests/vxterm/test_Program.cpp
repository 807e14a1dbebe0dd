// SPDX-License-Identifier: MIT
// The vxterm program itself, run as a user runs it, without a display: a
// bad command line is named and ends with exit code 2 before anything is
// opened (nobody opens the port named on it), the help and the port list
// need no window, and a signal to stop ends the session as closing does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "Program.h"
#include "Pty.h"

namespace {

using vxsim::test::TempDir;
using vxsim::test::TProgram;
using cport::test::WaitUntil;
namespace fs = std::filesystem;

struct TBadLine {
  const char* Name;
  std::vector<std::string> Args;  // the pseudo-terminal's path comes first
  const char* Says;
};

class BadLine : public testing::TestWithParam<TBadLine> {};

// Counts the opens of a file.
class TOpenWatch {
 public:
  explicit TOpenWatch(const std::string& path) : FFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    ::inotify_add_watch(FFd, path.c_str(), IN_OPEN);
  }
  ~TOpenWatch() { ::close(FFd); }
  int Opens() {
    alignas(inotify_event) char buf[4096];
    const ssize_t n = ::read(FFd, buf, sizeof buf);
    int count = 0;
    for (ssize_t p = 0; p < n; p += static_cast<ssize_t>(sizeof(inotify_event) + reinterpret_cast<inotify_event*>(buf + p)->len))
      ++count;
    return count;
  }

 private:
  int FFd;
};

TEST_P(BadLine, EndsWithCode2AndLeavesThePortAlone) {
  cport::test::TPty pty;
  TOpenWatch watch(pty.Path());
  std::vector<std::string> args{pty.Path()};
  args.insert(args.end(), GetParam().Args.begin(), GetParam().Args.end());
  ::unsetenv("DISPLAY");
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);  // a window could not even start
  TProgram vxterm(VXTERM_PATH, TempDir(), args);
  EXPECT_EQ(vxterm.Wait(), 2);
  EXPECT_NE(vxterm.Stderr().find(GetParam().Says), std::string::npos) << vxterm.Stderr();
  EXPECT_EQ(vxterm.RestOfStdout(), "");
  EXPECT_EQ(watch.Opens(), 0);
  // The watch itself sees an open.
  ::close(::open(pty.Path().c_str(), O_RDWR | O_NOCTTY));
  EXPECT_EQ(watch.Opens(), 1);
}

INSTANTIATE_TEST_SUITE_P(Table, BadLine,
                         testing::Values(TBadLine{"BadRate", {"--baud", "96oo"}, "--baud wants a number"},
                                         TBadLine{"UnknownOption", {"--speed"}, "unknown option '--speed'"},
                                         TBadLine{"MissingValue", {"--parity"}, "--parity wants a value"},
                                         TBadLine{"SecondPort", {"/dev/ttyS0"}, "one port at a time"}),
                         [](const auto& info) { return info.param.Name; });

TEST(Program, HelpAndTheListNeedNoWindow) {
  ::unsetenv("DISPLAY");
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  TProgram help(VXTERM_PATH, TempDir(), {"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_EQ(help.FirstLine(), "usage: vxterm [PORT] [options]");
  TProgram list(VXTERM_PATH, TempDir(), {"--list"});
  EXPECT_EQ(list.Wait(), 0);
  EXPECT_EQ(list.Stderr().find("could not connect to display"), std::string::npos) << list.Stderr();
}

std::string Contents(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Ctrl+C in the shell that started it, or a logout: the window closes as
// if the person closed it (settings kept), and the log gets its closing note.
TEST(Program, AStopSignalEndsTheSessionAsClosingTheWindowDoes) {
  cport::test::TPty pty;
  const fs::path dir = TempDir(), log = dir / "session.log";
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::setenv("VXTERM_HIDDEN", "1", 1);
  TProgram vxterm(VXTERM_PATH, dir, {pty.Path(), "--log", log.string()});
  ASSERT_TRUE(WaitUntil([&] { return Contents(log).find("Connected") != std::string::npos; }, 10000))
      << vxterm.Stderr();
  vxterm.Signal(SIGTERM);
  EXPECT_EQ(vxterm.Wait(), 0) << vxterm.Stderr();
  const std::string text = Contents(log);
  EXPECT_NE(text.find("vxterm ended --\n"), std::string::npos) << text;
}

}  // namespace

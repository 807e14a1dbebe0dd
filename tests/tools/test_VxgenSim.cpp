// SPDX-License-Identifier: MIT
// The vxgen-sim program as a user runs it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Program.h"
#include "Pty.h"
#include "Terminal.h"

namespace {

namespace fs = std::filesystem;
using cport::test::WaitUntil;
using vxsim::test::TempDir;
using vxsim::test::TProgram;
using vxsim::test::TTerminal;

class VxgenSim : public testing::Test {
 protected:
  void SetUp() override { FDir = TempDir(); }
  void TearDown() override { fs::remove_all(FDir); }
  fs::path FDir;
};

TEST_F(VxgenSim, ServesOnItsTerminalUntilSigtermThenRemovesItsLink) {
  const fs::path link = FDir / "generator";
  TProgram sim(VXGEN_SIM_PATH, FDir, {"--link", link.string(), "--log", "--version", "014"});
  const std::string path = sim.FirstLine();
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path << "\n" << sim.Stderr();
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), path);

  {
    TTerminal panel(link.string());
    panel.Send("%05f\r%@05SR\r");
    EXPECT_EQ(panel.Receive(19), "#02f39750\r#02SR014\r");
  }
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_EQ(sim.RestOfStdout(), "") << "stdout holds the path alone";
  const std::string log = sim.Stderr();
  EXPECT_NE(log.find("rx     %05f\\r"), std::string::npos) << log;
  EXPECT_NE(log.find("tx     #02SR014\\r"), std::string::npos) << log;
}

TEST_F(VxgenSim, HangupAfterClosesTheLineAndEnds) {
  const fs::path link = FDir / "generator";
  TProgram sim(VXGEN_SIM_PATH, FDir, {"--hangup-after", "0.3", "--link", link.string()});
  const std::string path = sim.FirstLine();
  ASSERT_FALSE(path.empty()) << sim.Stderr();
  TTerminal panel(path);
  ASSERT_TRUE(WaitUntil([&] { return panel.HungUp(); }));
  EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(VxgenSim, CorruptStoreIsReportedAndDefaultsServed) {
  const fs::path store = FDir / "settings";
  std::ofstream(store) << "p 70\nnonsense\n";
  TProgram sim(VXGEN_SIM_PATH, FDir, {"--store", store.string(), "--log"});
  const std::string path = sim.FirstLine();
  ASSERT_FALSE(path.empty()) << sim.Stderr();
  TTerminal panel(path);
  panel.Send("%05p\r");
  EXPECT_EQ(panel.Receive(10), "#02p00050\r");
  panel.Send("#05p00033\r@05wr\r");
  ASSERT_TRUE(WaitUntil([&] { return sim.Stderr().find("settings stored in") != std::string::npos; }));
  sim.Signal(SIGINT);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_NE(sim.Stderr().find("line 2"), std::string::npos) << sim.Stderr();
  // A good store was written over the corrupt one.
  std::ifstream in(store);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("p 33\n"), std::string::npos) << text.str();
}

struct TFaultCase {
  const char* Name;
  std::vector<std::string> Args;
  bool Answers;  // whether anything comes back
  const char* Logged;
};
void PrintTo(const TFaultCase& c, std::ostream* os) { *os << c.Name; }

class VxgenSimFault : public VxgenSim, public testing::WithParamInterface<TFaultCase> {};

TEST_P(VxgenSimFault, OptionReachesTheLine) {
  std::vector<std::string> args = GetParam().Args;
  args.push_back("--log");
  TProgram sim(VXGEN_SIM_PATH, FDir, args);
  const std::string path = sim.FirstLine();
  ASSERT_FALSE(path.empty()) << sim.Stderr();
  TTerminal panel(path);
  panel.Send("%05f\r");
  ASSERT_TRUE(WaitUntil([&] { return sim.Stderr().find(GetParam().Logged) != std::string::npos; }))
      << sim.Stderr();
  const std::string got = panel.Drain(300);
  if (GetParam().Answers) {
    ASSERT_EQ(got.size(), 10u);
    EXPECT_NE(got, "#02f15500\r");
  } else {
    EXPECT_EQ(got, "");
  }
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Options, VxgenSimFault,
                         testing::Values(TFaultCase{"Silent", {"--silent"}, false, "silent: no reply"},
                                         TFaultCase{"Drop", {"--drop", "1"}, false, "drop   #02f15500"},
                                         TFaultCase{"Garble", {"--garble=1"}, true, "garbled 10 bytes"}),
                         [](const auto& info) { return info.param.Name; });

struct TUsageCase {
  const char* Name;
  std::vector<std::string> Args;
  const char* Says;
};
void PrintTo(const TUsageCase& c, std::ostream* os) { *os << c.Name; }

class VxgenSimUsage : public VxgenSim, public testing::WithParamInterface<TUsageCase> {};

TEST_P(VxgenSimUsage, BadOptionIsRefusedWithExitCodeTwo) {
  TProgram sim(VXGEN_SIM_PATH, FDir, GetParam().Args);
  EXPECT_EQ(sim.Wait(), 2);
  EXPECT_EQ(sim.RestOfStdout(), "");
  EXPECT_NE(sim.Stderr().find(GetParam().Says), std::string::npos) << sim.Stderr();
}

INSTANTIATE_TEST_SUITE_P(
    Options, VxgenSimUsage,
    testing::Values(TUsageCase{"UnknownOption", {"--bogus"}, "unknown option --bogus"},
                    TUsageCase{"StrayArgument", {"extra"}, "unexpected argument 'extra'"},
                    TUsageCase{"MissingValue", {"--late"}, "--late needs a value"},
                    TUsageCase{"DropOverOne", {"--drop", "2"}, "--drop wants a number from 0 to 1, not '2'"},
                    TUsageCase{"GarbleNotANumber", {"--garble", "nan"}, "--garble wants a number"},
                    TUsageCase{"DelayText", {"--delay", "5ms"}, "--delay wants a number"},
                    TUsageCase{"NegativeSeed", {"--seed", "-1"}, "--seed wants a number"},
                    TUsageCase{"ShortVersion", {"--version", "01"}, "--version wants three"},
                    TUsageCase{"EmptyLink", {"--link="}, "--link wants a path"},
                    TUsageCase{"FlagWithValue", {"--log=yes"}, "--log takes no value"}),
    [](const auto& info) { return info.param.Name; });

TEST_F(VxgenSim, HelpGoesToStdoutAndOpensNoTerminal) {
  TProgram sim(VXGEN_SIM_PATH, FDir, {"--help"});
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_EQ(sim.RestOfStdout().rfind("usage: vxgen-sim", 0), 0u);
}

}  // namespace

// SPDX-License-Identifier: MIT
// vxctl as a script runs it, against the simulated generator served in this
// process, so that the test sees every byte that reached the line.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "CPort.h"
#include "Program.h"
#include "Simulator.h"

namespace vxsim {
namespace {

using test::TProgram;
using test::WaitUntil;

struct TRun {
  int Code;
  std::string Out, Err;
};

class Vxctl : public testing::Test {
 protected:
  void SetUp() override { Serve({}); }
  void TearDown() override {
    FSim.reset();
    test::fs::remove_all(FDir);
  }
  void Serve(TSimOptions options) {
    TModelOptions m;
    m.Wobble = 0;
    FSim.reset();
    FSim = std::make_unique<TSimulator>(TGeneratorModel(m), options);
    FSim->Start();
  }
  TRun Run(std::vector<std::string> args, bool withPort = true) {
    // A generous reply time for a loaded machine; a test's own comes later and wins.
    args.insert(args.begin(), {"--timeout", "5000"});
    if (withPort) args.insert(args.begin(), {"--port", FSim->Path()});
    TProgram p(VXCTL_PATH, FDir, args);
    const int code = p.Wait();
    return {code, p.RestOfStdout(), p.Stderr()};
  }
  // Frames that reached the generator, in order.
  std::vector<std::string> Wire() const {
    std::vector<std::string> out;
    for (const TEvent& e : FSim->Events())
      if (e.Kind == EEvent::Received) out.push_back(e.Bytes);
    return out;
  }
  // Nothing was sent by what ran before: a status query now is the first frame.
  void ExpectNothingSent() {
    ASSERT_EQ(Run({"status"}).Code, 0);
    EXPECT_EQ(Wire(), std::vector<std::string>{"%05?\r"});
  }

  test::fs::path FDir = test::TempDir();
  std::unique_ptr<TSimulator> FSim;
};

struct TOutputCase {
  std::vector<std::string> Args;
  std::string Out;
};

class VxctlOutput : public Vxctl, public testing::WithParamInterface<TOutputCase> {};

TEST_P(VxctlOutput, EveryCommandAndFormatPrintsWhatTheGeneratorSaid) {
  const TRun r = Run(GetParam().Args);
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, GetParam().Out);
  EXPECT_EQ(r.Err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, VxctlOutput,
    testing::Values(
        TOutputCase{{"version"}, "version        SR016\nfrequency-min  11000 Hz\nfrequency-max  20000 Hz\n"},
        TOutputCase{{"version", "--format", "csv"}, "version,frequency-min,frequency-max\nSR016,11000,20000\n"},
        TOutputCase{{"--format=json", "version"},
                    "{\"version\":\"SR016\",\"frequency-min\":11000,\"frequency-max\":20000}\n"},
        TOutputCase{{"status"},
                    "phase       0\ncurrent     0\ntracking    0\nac-current  0\nvoltage     0\nstate       off\n"},
        TOutputCase{{"status", "--format", "csv"}, "phase,current,tracking,ac-current,voltage,state\n0,0,0,0,0,off\n"},
        TOutputCase{{"status", "--format", "json"},
                    "{\"phase\":0,\"current\":0,\"tracking\":0,\"ac-current\":0,\"voltage\":0,\"state\":\"off\"}\n"},
        TOutputCase{
            {"get"},
            "frequency         15500 Hz\npower             50 %\npwm-period        1000 ms\npwm-ratio         50 %\n"
            "fast-sweeping     3\nsweeping          7\ntracking-range    10\nultrasonic-power  2048\n"},
        TOutputCase{{"get", "power", "w", "--format", "csv"}, "power,pwm-period\n50,100\n"},
        TOutputCase{{"get", "r", "u", "--format", "json"}, "{\"tracking-range\":10,\"ultrasonic-power\":2048}\n"},
        TOutputCase{{"start"}, ""}, TOutputCase{{"stop"}, ""}, TOutputCase{{"store"}, ""}));

TEST_F(Vxctl, ActionsSendTheirFramesAndStartShowsInTheStatus) {
  ASSERT_EQ(Run({"start"}).Code, 0);
  EXPECT_EQ(Run({"status", "--format", "csv"}).Out,
            "phase,current,tracking,ac-current,voltage,state\n"
            "500,245,0,350,350,on\n");
  ASSERT_EQ(Run({"stop"}).Code, 0);
  ASSERT_EQ(Run({"store"}).Code, 0);
  // Nothing answers the last frame: wait for the generator to take it.
  EXPECT_TRUE(WaitUntil([&] { return Wire().size() >= 4; }));
  EXPECT_EQ(Wire(), (std::vector<std::string>{"@05start\r", "%05?\r", "@05stop\r", "@05wr\r"}));
}

TEST_F(Vxctl, SetThenGetReadsTheNewValuesBack) {
  const TRun set = Run({"set", "power=60", "w=20", "frequency=12000"});
  ASSERT_EQ(set.Code, 0) << set.Err;
  EXPECT_EQ(Run({"get", "p", "pwm-period", "f", "--format", "csv"}).Out, "power,pwm-period,frequency\n60,20,12000\n");
  const std::vector<std::string> wire = Wire();
  ASSERT_GE(wire.size(), 4u);
  // The frequency is checked against the variant's range, read first.
  EXPECT_EQ(std::vector<std::string>(wire.begin(), wire.begin() + 4),
            (std::vector<std::string>{"%@05SR\r", "#05p00060\r", "#05w00020\r", "#05f12000\r"}));
}

struct TUsageCase {
  std::vector<std::string> Args;
  std::string Says;
};

class VxctlUsage : public Vxctl, public testing::WithParamInterface<TUsageCase> {};

TEST_P(VxctlUsage, BadUsageIsCodeTwoWithNothingOnTheWire) {
  const TRun r = Run(GetParam().Args);
  EXPECT_EQ(r.Code, 2);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find(GetParam().Says), std::string::npos) << r.Err;
  ExpectNothingSent();
}

INSTANTIATE_TEST_SUITE_P(
    Errors, VxctlUsage,
    testing::Values(TUsageCase{{"set", "power=60", "power=101"}, "power wants a number from 0 to 100, not '101'"},
                    TUsageCase{{"set", "pwm-period=0"}, "pwm-period wants a number from 1 to 100"},
                    TUsageCase{{"set", "p=5x"}, "power wants a number, not '5x'"},
                    TUsageCase{{"set", "volume=3"}, "unknown setting 'volume'"},
                    TUsageCase{{"get", "q"}, "unknown setting 'q'"}, TUsageCase{{"reset"}, "unknown command 'reset'"},
                    TUsageCase{{"status", "--count", "3"}, "--interval and --count belong to watch"},
                    TUsageCase{{"status", "--timeout", "-5"}, "--timeout wants a number from 1 to 60000"}));

TEST_F(Vxctl, FrequencyOutsideTheVariantsRangeSendsNoSetFrame) {
  const TRun r = Run({"set", "power=70", "f=30000"});
  EXPECT_EQ(r.Code, 2);
  EXPECT_NE(r.Err.find("from 11000 to 20000 on this generator"), std::string::npos) << r.Err;
  EXPECT_EQ(Wire(), std::vector<std::string>{"%@05SR\r"});
}

TEST_F(Vxctl, SilentGeneratorIsCodeOneNamingTheQuery) {
  TSimOptions o;
  o.Silent = true;
  Serve(o);
  const TRun r = Run({"get", "--timeout", "50"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find("no answer to the frequency query (%05f\\r) within 50 ms"), std::string::npos) << r.Err;
}

TEST_F(Vxctl, GarbledReplyIsCodeOneShowingWhatCame) {
  TSimOptions o;
  o.Garble = 1;
  Serve(o);
  const TRun r = Run({"status", "--timeout", "1000"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find("garbled answer to the status query"), std::string::npos) << r.Err;
}

TEST_F(Vxctl, PortHeldByThePanelIsBusyAndStaysItsOwn) {
  cport::TComPort panel;
  panel.SetEvents({});
  panel.SetPort(FSim->Path());
  panel.Open();
  const TRun r = Run({"status"});
  EXPECT_EQ(r.Code, 3);
  EXPECT_NE(r.Err.find("port busy"), std::string::npos) << r.Err;
  // Still the panel's: its query is answered on its own line.
  panel.WriteStr("%05p\r");
  std::string reply;
  ASSERT_TRUE(WaitUntil([&] {
    std::string more;
    panel.ReadStr(more, 20);
    reply += more;
    return reply.find('\r') != std::string::npos;
  })) << reply;
  EXPECT_EQ(reply, "#02p00050\r");
}

TEST_F(Vxctl, WatchCountThreeGivesAHeaderAndThreeRows) {
  const TRun r = Run({"watch", "--count", "3", "--format", "csv", "--interval", "20"});
  EXPECT_EQ(r.Code, 0) << r.Err;
  std::istringstream lines(r.Out);
  std::vector<std::string> l;
  for (std::string s; std::getline(lines, s);) l.push_back(s);
  ASSERT_EQ(l.size(), 4u) << r.Out;
  EXPECT_EQ(l[0], "time,phase,current,tracking,ac-current,voltage,state");
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(l[i].substr(l[i].find(',')), ",0,0,0,0,0,off") << l[i];
}

class VxctlWatchSignal : public Vxctl, public testing::WithParamInterface<int> {};

TEST_P(VxctlWatchSignal, EndsCleanlyWithEveryLineWhole) {
  TProgram p(VXCTL_PATH, FDir,
             {"--port", FSim->Path(), "--timeout", "5000", "watch", "--format", "json", "--interval", "20"});
  const std::string first = p.FirstLine();
  ASSERT_EQ(first.front(), '{') << p.Stderr();
  p.Signal(GetParam());
  EXPECT_EQ(p.Wait(), 0) << p.Stderr();
  const std::string rest = p.RestOfStdout();
  EXPECT_TRUE(rest.empty() || rest.back() == '\n') << rest;
  EXPECT_EQ(p.Stderr(), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, VxctlWatchSignal, testing::Values(SIGINT, SIGTERM));

TEST_F(Vxctl, WatchReportsALostDeviceWithCodeOne) {
  TProgram p(VXCTL_PATH, FDir, {"--port", FSim->Path(), "watch", "--interval", "20"});
  ASSERT_EQ(p.FirstLine().rfind("time", 0), 0u) << p.Stderr();
  FSim->HangUp();
  EXPECT_EQ(p.Wait(), 1);
  EXPECT_NE(p.Stderr().find("lost"), std::string::npos) << p.Stderr();
}

TEST_F(Vxctl, WithoutPortTheStoredPortSettingsApply) {
  const std::string config = (FDir / "config").string();
  test::fs::create_directories(FDir / "config/Morvaleq");
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  auto store = [&](const std::string& parity) {
    std::ofstream(FDir / "config/Morvaleq/KV.conf")
        << "[ComPort]\nPort=" << FSim->Path() << "\nDataBits=3\nParity=" << parity << "\nFlowControl=2\nBaudRate=7\n";
  };
  store("0");
  const TRun r = Run({"status", "--format", "csv"}, false);
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "phase,current,tracking,ac-current,voltage,state\n0,0,0,0,0,off\n");
  store("9");  // no such parity: never handed to the component
  const TRun bad = Run({"status"}, false);
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(bad.Code, 3);
  EXPECT_NE(bad.Err.find("Parity"), std::string::npos) << bad.Err;
}

TEST_F(Vxctl, PortsListsInEveryFormat) {
  const TRun csv = Run({"ports", "--format", "csv"}, false);
  EXPECT_EQ(csv.Code, 0) << csv.Err;
  EXPECT_EQ(csv.Out.rfind("name,description\n", 0), 0u) << csv.Out;
  const TRun json = Run({"ports", "--format", "json"}, false);
  EXPECT_EQ(json.Code, 0) << json.Err;
  std::istringstream lines(json.Out);
  for (std::string l; std::getline(lines, l);) EXPECT_EQ(l.rfind("{\"name\":", 0), 0u) << l;
}

}  // namespace
}  // namespace vxsim

// SPDX-License-Identifier: MIT
// vxterm's command line: what each option sets, what is refused before
// anything opens, and the list of ports.
#include <gtest/gtest.h>

#include <cstdio>

#include "Options.h"
#include "RecordingDriver.h"
#include "Start.h"

using namespace vxterm;

namespace {

using TArgs = std::vector<std::string>;

// Runs Begin with its output in memory.
struct TRun {
  TStart Start;
  std::string Out, Err;
};
TRun BeginWith(const TArgs& args, cport::TComDriver& driver) {
  char* out = nullptr;
  char* err = nullptr;
  size_t outSize = 0, errSize = 0;
  std::FILE* o = open_memstream(&out, &outSize);
  std::FILE* e = open_memstream(&err, &errSize);
  TRun r;
  r.Start = Begin(args, o, e, driver);
  std::fclose(o);
  std::fclose(e);
  r.Out.assign(out, outSize);
  r.Err.assign(err, errSize);
  std::free(out);
  std::free(err);
  return r;
}

TEST(Options, EachOptionSetsItsValue) {
  const TOptions o = ParseOptions({"/dev/serial/by-id/usb-X-if00", "--baud", "115200", "--data=7", "--parity", "even",
                                   "--stop", "1.5", "--flow", "hardware", "--emulation", "vt52", "--local-echo",
                                   "--send-lf", "--append-lf", "--timestamps", "--hex", "--log", "out.log"});
  EXPECT_EQ(o.Port, "/dev/serial/by-id/usb-X-if00");
  EXPECT_EQ(o.Baud, 115200u);
  EXPECT_EQ(o.DataBits, cport::dbSeven);
  EXPECT_EQ(o.Parity, cport::prEven);
  EXPECT_EQ(o.StopBits, cport::sbOne5StopBits);
  EXPECT_EQ(o.Flow, cport::fcHardware);
  EXPECT_EQ(o.Emulation, EEmulation::VT52);
  EXPECT_TRUE(o.LocalEcho && o.SendLF && o.AppendLF && o.Timestamps && o.Hex);
  EXPECT_EQ(o.Log, "out.log");
  EXPECT_FALSE(o.Capture);
  // Nothing given leaves everything to the last session.
  const TOptions none = ParseOptions({});
  EXPECT_FALSE(none.Port || none.Baud || none.DataBits || none.Parity || none.Flow || none.Emulation);
  // After "--" a name that starts with a dash is a port.
  EXPECT_EQ(ParseOptions({"--", "-odd-name"}).Port, "-odd-name");
}

struct TBadCase {
  const char* Name;
  TArgs Args;
  const char* Says;  // a part of the message
};

class BadCommandLine : public testing::TestWithParam<TBadCase> {};

TEST_P(BadCommandLine, IsRefusedWithExitCode2AndNothingListedOrOpened) {
  cport::test::TRecordingDriver driver;
  driver.SetPorts({"/dev/ttyS0"});
  const TRun r = BeginWith(GetParam().Args, driver);
  EXPECT_FALSE(r.Start.Proceed);
  EXPECT_EQ(r.Start.ExitCode, kExitUsage);
  EXPECT_NE(r.Err.find(GetParam().Says), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("vxterm --help"), std::string::npos) << r.Err;
  EXPECT_TRUE(r.Out.empty()) << r.Out;
  EXPECT_TRUE(driver.Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadCommandLine,
    testing::Values(TBadCase{"UnknownOption", {"--speed", "9600"}, "unknown option '--speed'"},
                    TBadCase{"MissingValue", {"/dev/ttyS0", "--baud"}, "--baud wants a value"},
                    TBadCase{"RateNotANumber", {"--baud", "fast"}, "from 50 to 4000000, not 'fast'"},
                    TBadCase{"RateTooHigh", {"--baud=4000001"}, "not '4000001'"},
                    TBadCase{"RateWithJunk", {"--baud", "9600x"}, "not '9600x'"},
                    TBadCase{"DataBits", {"--data", "9"}, "--data wants 5, 6, 7 or 8, not '9'"},
                    TBadCase{"Parity", {"--parity", "ODD"}, "not 'ODD'"},
                    TBadCase{"StopBits", {"--stop", "3"}, "not '3'"},
                    TBadCase{"CustomFlowIsTheDialogsAlone", {"--flow", "custom"}, "not 'custom'"},
                    TBadCase{"Emulation", {"--emulation", "vt220"}, "not 'vt220'"},
                    TBadCase{"SwitchWithValue", {"--hex=yes"}, "--hex takes no value"},
                    TBadCase{"TwoPorts", {"/dev/ttyS0", "/dev/ttyS1"}, "'/dev/ttyS0' and '/dev/ttyS1'"},
                    TBadCase{"EmptyPort", {""}, "the port name is empty"},
                    TBadCase{"EmptyLogName", {"--log="}, "--log wants a file name"},
                    TBadCase{"LogAndCapture", {"--log", "a", "--capture", "b"}, "exclude each other"},
                    // A bad option after --list still stops everything.
                    TBadCase{"BadOptionWithList", {"--list", "--data", "4"}, "not '4'"}),
    [](const auto& info) { return info.param.Name; });

TEST(Start, ListShowsEachPortWithItsDescriptionAndStablePath) {
  cport::test::TRecordingDriver driver;
  cport::TComPortInfo usb{"/dev/ttyUSB0", "FT232R USB UART - FTDI", "0403", "6001", "A50285BI",
                          "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
  cport::TComPortInfo uart{"/dev/ttyS0", "16550A UART", "", "", "", ""};
  driver.SetPortInfo({usb, uart});
  const TRun r = BeginWith({"--list"}, driver);
  EXPECT_FALSE(r.Start.Proceed);
  EXPECT_EQ(r.Start.ExitCode, kExitDone);
  EXPECT_EQ(r.Out,
            "/dev/ttyS0    16550A UART\n"
            "/dev/ttyUSB0  FT232R USB UART - FTDI\n"
            "              /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n");
  // Nothing was opened to find out.
  EXPECT_EQ(driver.Count("Open"), 0);
}

TEST(Start, AnEmptyListOrAFailedOneIsSaidOnStderr) {
  cport::test::TRecordingDriver driver;
  driver.SetPortInfo({});
  TRun r = BeginWith({"--list"}, driver);
  EXPECT_EQ(r.Start.ExitCode, kExitDone);
  EXPECT_EQ(r.Err, "vxterm: no serial ports found\n");
  driver.SetPortInfo({}, 13);
  r = BeginWith({"--list"}, driver);
  EXPECT_EQ(r.Start.ExitCode, kExitFailed);
  EXPECT_NE(r.Err.find("cannot list the ports"), std::string::npos) << r.Err;
}

TEST(Start, HelpAndVersionEndAtOnceAndAGoodLineGoesOn) {
  cport::test::TRecordingDriver driver;
  TRun r = BeginWith({"--help"}, driver);
  EXPECT_FALSE(r.Start.Proceed);
  EXPECT_EQ(r.Out.rfind("usage: vxterm [PORT]", 0), 0u) << r.Out;
  // Every option the parser knows is in the help.
  for (const char* o : {"--baud", "--data", "--parity", "--stop", "--flow", "--emulation", "--local-echo", "--send-lf",
                        "--append-lf", "--timestamps", "--hex", "--log", "--capture", "--list", "--version"})
    EXPECT_NE(r.Out.find(o), std::string::npos) << o;
  r = BeginWith({"--version"}, driver);
  EXPECT_EQ(r.Out.rfind("vxterm ", 0), 0u) << r.Out;
  r = BeginWith({"COM1", "--capture", "raw.bin"}, driver);
  EXPECT_TRUE(r.Start.Proceed);
  EXPECT_EQ(r.Start.Options.Capture, "raw.bin");
  EXPECT_TRUE(r.Out.empty() && r.Err.empty());
}

}  // namespace

// SPDX-License-Identifier: MIT
// vxterm's command line and the text forms of its values, which the stored
// settings use too.  Nothing here opens anything.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "CPort.h"

namespace vxterm {

enum class EEmulation : uint8_t { None, VT52, VT100 };

// Bad usage: the message says what was wrong; the program exits with 2.
struct TUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What the command line asks for; an empty optional (or false) leaves the
// last session's setting.
struct TOptions {
  std::optional<std::string> Port;
  std::optional<uint32_t> Baud;
  std::optional<cport::TDataBits> DataBits;
  std::optional<cport::TParityBits> Parity;
  std::optional<cport::TStopBits> StopBits;
  std::optional<cport::TFlowControl> Flow;
  std::optional<EEmulation> Emulation;
  bool LocalEcho = false;
  bool SendLF = false;
  bool AppendLF = false;
  bool Timestamps = false;
  bool Hex = false;
  std::optional<std::string> Log;      // text log
  std::optional<std::string> Capture;  // raw bytes
  bool List = false;
  bool Help = false;
  bool Version = false;
};

// The help text, in the user's language.
std::string Usage();

// Throws TUsageError for an unknown option, a missing or bad value, a second
// port, or --log with --capture.
TOptions ParseOptions(const std::vector<std::string>& args);

// Bits per second the line settings accept.
inline constexpr uint32_t kMinBaud = 50, kMaxBaud = 4000000;

// Values in the forms the command line and the settings file use ("115200",
// "8", "even", "1.5", "hardware", "vt100"); nothing for anything else.
std::optional<uint32_t> ParseBaud(std::string_view text);
std::optional<cport::TDataBits> ParseDataBits(std::string_view text);
std::optional<cport::TParityBits> ParseParity(std::string_view text);
std::optional<cport::TStopBits> ParseStopBits(std::string_view text);
// "custom" only with allowCustom: the setup dialog can choose it, the
// command line cannot.
std::optional<cport::TFlowControl> ParseFlow(std::string_view text, bool allowCustom = false);
std::optional<EEmulation> ParseEmulation(std::string_view text);

std::string DataBitsName(cport::TDataBits value);
std::string ParityName(cport::TParityBits value);
std::string StopBitsName(cport::TStopBits value);
std::string FlowName(cport::TFlowControl value);
std::string EmulationName(EEmulation value);

}  // namespace vxterm

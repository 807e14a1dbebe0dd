// SPDX-License-Identifier: MIT
#include "CtlOptions.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

namespace vxctl {

const char* const kUsage = R"(usage: vxctl [options] COMMAND [ARGS]

Talks to the ultrasonic generator on a serial line.

commands:
  version                      the generator's version text and its frequency range
  status                       one status block: phase, current, tracking, ac-current, voltage, state
  get [SETTING...]             settings read back from the generator (all when none is named)
  set SETTING=VALUE...         new values, each checked against its range before anything is sent
  start | stop | store         start or stop the output, store the settings in the generator
  watch                        status blocks as they come, one line each with a timestamp
  ports                        the serial ports present, with their descriptions

options (before or after the command):
  --port NAME                  the port (default: the panel's stored port settings)
  --baud RATE                  bits per second (default: stored, or 9600 with --port)
  --timeout MS                 wait this long for each reply, 1..60000 (default 500)
  --format text|csv|json       output for people (default) or for scripts
  --interval MS                watch: from one reading to the next, 10..3600000 (default 1000)
  --count N                    watch: end after N readings (default: until SIGINT or SIGTERM)
  -h, --help                   this text

settings: frequency (f), power (p), pwm-period (w, steps of 10 ms), pwm-ratio (m),
  fast-sweeping (s), sweeping (d), tracking-range (r), ultrasonic-power (u)

exit codes: 0 done, 1 no answer or a garbled one, 2 bad usage (nothing sent),
  3 the port could not be opened
)";

namespace {

constexpr std::array<std::string_view, 9> kCommands = {"version", "status", "get",   "set",  "start",
                                                       "stop",    "store",  "watch", "ports"};

EFormat ParseFormat(const std::string& text) {
  if (text == "text") return EFormat::Text;
  if (text == "csv") return EFormat::Csv;
  if (text == "json") return EFormat::Json;
  throw TUsageError("--format wants text, csv or json, not '" + text + "'");
}

}  // namespace

int64_t ParseNumber(const std::string& what, const std::string& text, int64_t min, int64_t max) {
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  const bool whole = !text.empty() && end == text.data() + text.size();
  if (!whole || (ec != std::errc() && ec != std::errc::result_out_of_range))
    throw TUsageError(what + " wants a number, not '" + text + "'");
  if (ec != std::errc() || value < min || value > max)
    throw TUsageError(what + " wants a number from " + std::to_string(min) + " to " + std::to_string(max) + ", not '" +
                      text + "'");
  return value;
}

TOptions ParseOptions(const std::vector<std::string>& args) {
  TOptions o;
  bool watchOption = false;
  bool onlyArgs = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (onlyArgs || a.size() < 2 || a[0] != '-') {
      if (o.Command.empty())
        o.Command = a;
      else
        o.Args.push_back(a);
      continue;
    }
    if (a == "--") {
      onlyArgs = true;
      continue;
    }
    if (a == "-h" || a == "--help") {
      o.Help = true;
      continue;
    }
    // --name VALUE or --name=VALUE
    std::string name = a, value;
    const size_t eq = a.find('=');
    const bool inlineValue = eq != std::string::npos;
    if (inlineValue) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
    }
    static constexpr std::array<std::string_view, 6> kValued = {"--port",   "--baud",     "--timeout",
                                                                "--format", "--interval", "--count"};
    if (std::find(kValued.begin(), kValued.end(), name) == kValued.end())
      throw TUsageError("unknown option '" + a + "'");
    if (!inlineValue) {
      if (i + 1 >= args.size()) throw TUsageError(name + " wants a value");
      value = args[++i];
    }
    if (name == "--port") {
      if (value.empty()) throw TUsageError("--port wants a port name");
      o.Port = value;
    } else if (name == "--baud") {
      o.Baud = static_cast<int32_t>(ParseNumber("--baud", value, 50, 4000000));
    } else if (name == "--timeout") {
      o.TimeoutMs = static_cast<int32_t>(ParseNumber("--timeout", value, 1, 60000));
    } else if (name == "--format") {
      o.Format = ParseFormat(value);
    } else if (name == "--interval") {
      o.IntervalMs = static_cast<int32_t>(ParseNumber("--interval", value, 10, 3600000));
      watchOption = true;
    } else {
      o.Count = ParseNumber("--count", value, 1, INT64_MAX);
      watchOption = true;
    }
  }
  if (o.Help) return o;
  if (o.Command.empty()) throw TUsageError("no command given");
  if (std::find(kCommands.begin(), kCommands.end(), o.Command) == kCommands.end())
    throw TUsageError("unknown command '" + o.Command + "'");
  if (watchOption && o.Command != "watch") throw TUsageError("--interval and --count belong to watch");
  const bool takesArgs = o.Command == "get" || o.Command == "set";
  if (!takesArgs && !o.Args.empty()) throw TUsageError(o.Command + " takes no arguments, not '" + o.Args[0] + "'");
  if (o.Command == "set" && o.Args.empty()) throw TUsageError("set wants SETTING=VALUE");
  return o;
}

}  // namespace vxctl

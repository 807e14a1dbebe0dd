// SPDX-License-Identifier: MIT
#include "Options.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "Texts.h"

namespace vxterm {

namespace {

template <class E>
struct TNamed {
  const char* Name;
  E Value;
};

constexpr std::array<TNamed<cport::TDataBits>, 4> kDataBits{
    {{"5", cport::dbFive}, {"6", cport::dbSix}, {"7", cport::dbSeven}, {"8", cport::dbEight}}};
constexpr std::array<TNamed<cport::TParityBits>, 5> kParity{{{"none", cport::prNone},
                                                              {"odd", cport::prOdd},
                                                              {"even", cport::prEven},
                                                              {"mark", cport::prMark},
                                                              {"space", cport::prSpace}}};
constexpr std::array<TNamed<cport::TStopBits>, 3> kStopBits{
    {{"1", cport::sbOneStopBit}, {"1.5", cport::sbOne5StopBits}, {"2", cport::sbTwoStopBits}}};
constexpr std::array<TNamed<cport::TFlowControl>, 4> kFlow{{{"none", cport::fcNone},
                                                            {"hardware", cport::fcHardware},
                                                            {"software", cport::fcSoftware},
                                                            {"custom", cport::fcCustom}}};
constexpr std::array<TNamed<EEmulation>, 3> kEmulation{
    {{"vt100", EEmulation::VT100}, {"vt52", EEmulation::VT52}, {"none", EEmulation::None}}};

template <class E, size_t N>
std::optional<E> Find(const std::array<TNamed<E>, N>& table, std::string_view text) {
  for (const auto& n : table)
    if (text == n.Name) return n.Value;
  return std::nullopt;
}

template <class E, size_t N>
std::string Name(const std::array<TNamed<E>, N>& table, E value) {
  for (const auto& n : table)
    if (n.Value == value) return n.Name;
  return {};
}

// "a, b or c" for the error messages.
template <class E, size_t N>
std::string Choices(const std::array<TNamed<E>, N>& table, size_t count = N) {
  std::string s;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) s += i + 1 == count ? std::string(Tr(" or ")) : std::string(", ");
    s += table[i].Name;
  }
  return s;
}

[[noreturn]] void BadChoice(const std::string& option, const std::string& choices, const std::string& value) {
  throw TUsageError(Fill(Tr("%1 wants %2, not '%3'"), {option, choices, value}));
}

template <class E, size_t N>
E Choice(const std::string& option, const std::array<TNamed<E>, N>& table, const std::string& value,
         size_t count = N) {
  for (size_t i = 0; i < count; ++i)
    if (value == table[i].Name) return table[i].Value;
  BadChoice(option, Choices(table, count), value);
}

enum class EKind { Switch, Valued };
struct TOptionName {
  std::string_view Name;
  EKind Kind;
};
constexpr std::array<TOptionName, 18> kOptions{{
    {"--baud", EKind::Valued},       {"--data", EKind::Valued},       {"--parity", EKind::Valued},
    {"--stop", EKind::Valued},       {"--flow", EKind::Valued},       {"--emulation", EKind::Valued},
    {"--log", EKind::Valued},        {"--capture", EKind::Valued},    {"--local-echo", EKind::Switch},
    {"--send-lf", EKind::Switch},    {"--append-lf", EKind::Switch},  {"--timestamps", EKind::Switch},
    {"--hex", EKind::Switch},        {"--list", EKind::Switch},       {"--help", EKind::Switch},
    {"-h", EKind::Switch},           {"--version", EKind::Switch},    {"--", EKind::Switch},
}};

}  // namespace

std::string Usage() {
  return Tr(R"(usage: vxterm [PORT] [options]

A serial terminal.  PORT is a port name (COM1, /dev/ttyUSB0) or a stable
path (/dev/serial/by-id/...); without it, the last session's port.  Options
not given keep the last session's settings.

options:
  --baud RATE                       bits per second, 50 to 4000000
  --data 5|6|7|8                    data bits
  --parity none|odd|even|mark|space parity
  --stop 1|1.5|2                    stop bits
  --flow none|hardware|software     flow control (RTS/CTS or XON/XOFF)
  --emulation vt100|vt52|none       terminal emulation
  --local-echo                      show what is typed
  --send-lf                         Return sends CR LF
  --append-lf                       a received CR also starts a new line
  --timestamps                      each received line with its arrival time
  --hex                             received bytes as hex rows
  --log FILE                        append what arrives to FILE, as text
  --capture FILE                    append the bytes that arrive to FILE, as they are
  --list                            list the ports present and exit
  -h, --help                        this text
  --version                         the program's version

exit codes: 0 done, 1 failure, 2 bad usage (nothing opened)
)");
}

TOptions ParseOptions(const std::vector<std::string>& args) {
  TOptions o;
  bool onlyPorts = false;
  auto port = [&o](const std::string& a) {
    if (a.empty()) throw TUsageError(Tr("the port name is empty"));
    if (o.Port) throw TUsageError(Fill(Tr("one port at a time: '%1' and '%2'"), {*o.Port, a}));
    o.Port = a;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (onlyPorts || a.size() < 2 || a[0] != '-') {
      port(a);
      continue;
    }
    std::string name = a, value;
    const size_t eq = a.find('=');
    const bool inlineValue = a.rfind("--", 0) == 0 && eq != std::string::npos;
    if (inlineValue) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
    }
    const auto* known = std::find_if(kOptions.begin(), kOptions.end(), [&](const auto& n) { return n.Name == name; });
    if (known == kOptions.end()) throw TUsageError(Fill(Tr("unknown option '%1'"), {a}));
    if (known->Kind == EKind::Switch) {
      if (inlineValue) throw TUsageError(Fill(Tr("%1 takes no value"), {name}));
      if (name == "--") onlyPorts = true;
      else if (name == "--local-echo") o.LocalEcho = true;
      else if (name == "--send-lf") o.SendLF = true;
      else if (name == "--append-lf") o.AppendLF = true;
      else if (name == "--timestamps") o.Timestamps = true;
      else if (name == "--hex") o.Hex = true;
      else if (name == "--list") o.List = true;
      else if (name == "--version") o.Version = true;
      else o.Help = true;
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) throw TUsageError(Fill(Tr("%1 wants a value"), {name}));
      value = args[++i];
    }
    if (name == "--baud") {
      o.Baud = ParseBaud(value);
      if (!o.Baud)
        throw TUsageError(Fill(Tr("%1 wants a number from %2 to %3, not '%4'"),
                               {name, std::to_string(kMinBaud), std::to_string(kMaxBaud), value}));
    } else if (name == "--data") {
      o.DataBits = Choice(name, kDataBits, value);
    } else if (name == "--parity") {
      o.Parity = Choice(name, kParity, value);
    } else if (name == "--stop") {
      o.StopBits = Choice(name, kStopBits, value);
    } else if (name == "--flow") {
      o.Flow = Choice(name, kFlow, value, 3);  // custom is the setup dialog's alone
    } else if (name == "--emulation") {
      o.Emulation = Choice(name, kEmulation, value);
    } else {
      if (value.empty()) throw TUsageError(Fill(Tr("%1 wants a file name"), {name}));
      (name == "--log" ? o.Log : o.Capture) = value;
    }
  }
  if (o.Log && o.Capture) throw TUsageError(Tr("--log and --capture exclude each other: choose one"));
  return o;
}

std::optional<uint32_t> ParseBaud(std::string_view text) {
  uint32_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < kMinBaud || v > kMaxBaud)
    return std::nullopt;
  return v;
}

std::optional<cport::TDataBits> ParseDataBits(std::string_view text) { return Find(kDataBits, text); }
std::optional<cport::TParityBits> ParseParity(std::string_view text) { return Find(kParity, text); }
std::optional<cport::TStopBits> ParseStopBits(std::string_view text) { return Find(kStopBits, text); }
std::optional<cport::TFlowControl> ParseFlow(std::string_view text, bool allowCustom) {
  const auto v = Find(kFlow, text);
  if (v == cport::fcCustom && !allowCustom) return std::nullopt;
  return v;
}
std::optional<EEmulation> ParseEmulation(std::string_view text) { return Find(kEmulation, text); }

std::string DataBitsName(cport::TDataBits value) { return Name(kDataBits, value); }
std::string ParityName(cport::TParityBits value) { return Name(kParity, value); }
std::string StopBitsName(cport::TStopBits value) { return Name(kStopBits, value); }
std::string FlowName(cport::TFlowControl value) { return Name(kFlow, value); }
std::string EmulationName(EEmulation value) { return Name(kEmulation, value); }

}  // namespace vxterm

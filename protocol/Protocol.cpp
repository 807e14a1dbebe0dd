// SPDX-License-Identifier: MIT
#include "Protocol.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace vxpanel {

namespace {

// The examined span of a read: what arrived, then zero bytes.
std::array<char, kReadCount> Span(std::string_view received) {
  std::array<char, kReadCount> b{};
  std::copy_n(received.begin(), std::min(received.size(), b.size()), b.begin());
  return b;
}

// A field copied into its own zero-ended buffer ends at its first zero byte.
int32_t Field(const std::array<char, kReadCount>& b, size_t from, size_t width) {
  std::string_view f(b.data() + from, width);
  return Atol(f.substr(0, f.find('\0')));
}

bool Header(const std::array<char, kReadCount>& b, char command) {
  return b[0] == '#' && b[1] == '0' && b[2] == '2' && b[3] == command;
}

template <class... Args>
std::string Format(const char* format, Args... args) {
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, format, args...);
  return std::string(buf, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buf) - 1)));
}

}  // namespace

std::string SetFrame(int8_t address, char letter, int32_t value) {
  return Format("#%02d%c%05d\r", static_cast<int>(address), letter, static_cast<int>(value));
}

std::string QueryFrame(char command) { return std::string("%05") + command + '\r'; }

int32_t Atol(std::string_view field) {
  size_t i = 0;
  auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < field.size() && space(field[i])) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  int64_t value = 0;
  // Clamped so that a longer field than the protocol's could not overflow.
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
    value = std::min<int64_t>(value * 10 + (field[i] - '0'), INT32_MAX);
  return static_cast<int32_t>(negative ? -value : value);
}

std::optional<int32_t> ParseValueReply(std::string_view received, char letter) {
  const auto b = Span(received);
  if (!Header(b, letter)) return std::nullopt;
  return Field(b, 4, 5);
}

std::optional<TVersionReply> ParseVersionReply(std::string_view received) {
  const auto b = Span(received);
  if (!Header(b, 'S') || b[4] != 'R') return std::nullopt;
  TVersionReply r;
  std::string_view text(b.data() + 3, 5);
  r.Text = std::string(text.substr(0, text.find('\0')));
  r.Kind = b[6];
  r.Model = b[7];
  return r;
}

std::optional<TStatusBlock> ParseStatusBlock(std::string_view received) {
  const auto b = Span(received);
  if (!Header(b, '?')) return std::nullopt;
  TStatusBlock s;
  s.Phase = Field(b, 4, 3);
  s.Current = Field(b, 7, 3);
  s.Tracking = Field(b, 10, 3);
  s.AcCurrent = Field(b, 13, 3);
  s.Voltage = Field(b, 16, 3);
  s.State = b[19];
  return s;
}

std::optional<TFrequencyRange> VariantRange(char kind, char model) {
  if (kind != '1') return std::nullopt;
  switch (model) {
    case '0': return TFrequencyRange{21435, 40560};
    case '1': return TFrequencyRange{17460, 28520};
    case '2': return TFrequencyRange{24000, 45000};
    case '4': return TFrequencyRange{27700, 51800};
    case '5': return TFrequencyRange{30000, 50000};
    case '6': return TFrequencyRange{11000, 20000};
    default: return std::nullopt;
  }
}

TStateLook StateLook(char state) {
  switch (state) {
    case '0': return {"off", {255, 0, 0}};
    case '1': return {"on", {0, 128, 0}};
    case '2': return {"blocking", {255, 128, 64}};
    case '3': return {"overvoltage", {255, 255, 0}};
    default: return {"what", {0, 0, 0}};
  }
}

TStateLook NoConnectionLook() { return {"no connection", {0, 0, 0}}; }

TRgb PotentiometerColour(int32_t position) { return position < 80 ? TRgb{0, 128, 64} : TRgb{0, 166, 83}; }

TRgb VoltageColour(int32_t position) { return position < 750 ? TRgb{128, 128, 255} : TRgb{255, 0, 0}; }

std::string FrequencyText(int32_t value) { return Format("%05d  Hz", static_cast<int>(value)); }
std::string PercentText(int32_t value) { return Format("%d %%", static_cast<int>(value)); }
std::string PlainText(int32_t value) { return Format("%d ", static_cast<int>(value)); }
std::string PwmPeriodText(int32_t value) { return Format("%lld ms", static_cast<long long>(value) * 10); }
std::string NumberText(int32_t value) { return Format("%d", static_cast<int>(value)); }

}  // namespace vxpanel

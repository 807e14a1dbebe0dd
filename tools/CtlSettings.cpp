// SPDX-License-Identifier: MIT
#include "CtlSettings.h"

#include <array>

#include "CtlOptions.h"

namespace vxctl {

namespace {

constexpr std::array<TSetting, 8> kSettings = {{
    {"frequency", 'f', 21435, 40560},
    {"power", 'p', 0, 100},
    {"pwm-period", 'w', 1, 100},
    {"pwm-ratio", 'm', 0, 100},
    {"fast-sweeping", 's', 0, 255},
    {"sweeping", 'd', 0, 255},
    {"tracking-range", 'r', 0, 30},
    {"ultrasonic-power", 'u', 0, 4095},
}};

// Lowest minimum and highest maximum of all variants: a frequency outside
// it is refused before the port is touched.
constexpr int32_t kLowestFrequency = 11000, kHighestFrequency = 51800;

}  // namespace

std::span<const TSetting> Settings() { return kSettings; }

const TSetting* FindSetting(std::string_view nameOrLetter) {
  for (const TSetting& s : kSettings)
    if (s.Name == nameOrLetter || (nameOrLetter.size() == 1 && nameOrLetter[0] == s.Letter)) return &s;
  return nullptr;
}

std::string ValueText(const TSetting& setting, int32_t value) {
  const std::string n = std::to_string(value);
  switch (setting.Letter) {
    case 'f':
      return n + " Hz";
    case 'p':
    case 'm':
      return n + " %";
    case 'w':
      return std::to_string(int64_t{value} * 10) + " ms";
    default:
      return n;
  }
}

std::vector<TAssignment> ParseAssignments(const std::vector<std::string>& args) {
  std::vector<TAssignment> out;
  for (const std::string& a : args) {
    const size_t eq = a.find('=');
    if (eq == std::string::npos) throw TUsageError("set wants SETTING=VALUE, not '" + a + "'");
    const TSetting* s = FindSetting(std::string_view(a).substr(0, eq));
    if (!s) throw TUsageError("unknown setting '" + a.substr(0, eq) + "'");
    const bool f = s->Letter == 'f';
    const int64_t v = ParseNumber(std::string(s->Name), a.substr(eq + 1), f ? kLowestFrequency : s->Min,
                                  f ? kHighestFrequency : s->Max);
    out.push_back({s, static_cast<int32_t>(v)});
  }
  return out;
}

void CheckFrequency(const std::vector<TAssignment>& assignments, const vxpanel::TFrequencyRange& range) {
  for (const TAssignment& a : assignments)
    if (a.Setting->Letter == 'f' && (a.Value < range.Min || a.Value > range.Max))
      throw TUsageError("frequency wants a number from " + std::to_string(range.Min) + " to " +
                        std::to_string(range.Max) + " on this generator, not '" + std::to_string(a.Value) + "'");
}

vxpanel::TFrequencyRange FrequencyRange(const vxpanel::TVersionReply& version) {
  if (auto r = vxpanel::VariantRange(version.Kind, version.Model)) return *r;
  return {kSettings[0].Min, kSettings[0].Max};
}

}  // namespace vxctl

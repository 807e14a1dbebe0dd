// SPDX-License-Identifier: MIT
// The generator's eight settings as vxctl names them: the panel's labels in
// lower case with dashes, or the protocol letters; their ranges are the
// panel's track-bar ranges.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Protocol.h"

namespace vxctl {

struct TSetting {
  std::string_view Name;
  char Letter;
  int32_t Min, Max;  // the frequency's are the panel's design range; the variant's apply
};

// In the order the panel sends them: f, p, w, m, s, d, r, u.
std::span<const TSetting> Settings();
// By name or letter; nullptr for anything else.
const TSetting* FindSetting(std::string_view nameOrLetter);

// The value as the panel shows it, with its unit: "15500 Hz", "50 %",
// "500 ms" (the PWM period's steps are 10 ms), "7".
std::string ValueText(const TSetting& setting, int32_t value);

struct TAssignment {
  const TSetting* Setting;
  int32_t Value;
};
// SETTING=VALUE arguments.  Throws TUsageError for an unknown setting, a
// value that is not a number or lies outside its range; the frequency is
// checked against the widest range any variant has, and by CheckFrequency
// once the variant is known.
std::vector<TAssignment> ParseAssignments(const std::vector<std::string>& args);
void CheckFrequency(const std::vector<TAssignment>& assignments, const vxpanel::TFrequencyRange& range);

// The frequency range of a version reply: the variant's, or the panel's
// design range for a version it does not know.
vxpanel::TFrequencyRange FrequencyRange(const vxpanel::TVersionReply& version);

}  // namespace vxctl

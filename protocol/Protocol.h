// SPDX-License-Identifier: MIT
// The generator's line protocol as the panel speaks it, and the small tables
// that turn replies into what the window shows.  No Qt, no I/O: the panel
// feeds in what a read returned and gets values back.
//
// A read puts up to kReadCount bytes at the start of a zero-filled buffer, so
// every parser takes the bytes that arrived and treats the rest of the
// examined span as zero bytes.  Matching is by position from the first byte
// read, never by searching.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vxpanel {

constexpr int8_t kGeneratorAddress = 5;
constexpr int32_t kReadCount = 20;        // bytes asked of every read
constexpr size_t kReadBufferSize = 100;   // zero-filled at every tick

// -- frames to the generator --------------------------------------------------

// "#%02d%c%05d\r": a new value for the setting with this letter.
std::string SetFrame(int8_t address, char letter, int32_t value);
// "%05" + command + "\r".
std::string QueryFrame(char command);
inline constexpr std::string_view kVersionQuery = "%@05SR\r";
inline constexpr std::string_view kWriteFrame = "@05wr\r";
inline constexpr std::string_view kStartFrame = "@05start\r";
inline constexpr std::string_view kStopFrame = "@05stop\r";

// -- replies --------------------------------------------------------------------

// The C library's atol on a zero-ended field: leading white space, an
// optional sign, then digits up to the first other byte; no digits give 0.
// Fields are at most five characters, so no value can overflow.
int32_t Atol(std::string_view field);

// "#02" + letter + a five-character field.
std::optional<int32_t> ParseValueReply(std::string_view received, char letter);

struct TVersionReply {
  std::string Text;  // bytes 3 to 7 up to the first zero byte, "SR" first
  char Kind = 0;     // byte 6: "1" for the known variants
  char Model = 0;    // byte 7: selects the variant
};
// "#02SR" + three version characters.
std::optional<TVersionReply> ParseVersionReply(std::string_view received);

struct TStatusBlock {
  int32_t Phase = 0;
  int32_t Current = 0;
  int32_t Tracking = 0;  // 30 means no correction
  int32_t AcCurrent = 0;
  int32_t Voltage = 0;
  char State = 0;
};
// "#02?" + five three-character fields + the state character.
std::optional<TStatusBlock> ParseStatusBlock(std::string_view received);

// -- generator variants ------------------------------------------------------------

struct TFrequencyRange {
  int32_t Min = 0;
  int32_t Max = 0;
  bool operator==(const TFrequencyRange&) const = default;
};
// The frequency range of a known variant; nothing for any other version.
std::optional<TFrequencyRange> VariantRange(char kind, char model);

// -- what the window shows -----------------------------------------------------------

struct TRgb {
  uint8_t R = 0, G = 0, B = 0;
  bool operator==(const TRgb&) const = default;
};

struct TStateLook {
  std::string_view Caption;
  TRgb Lamp;
};
// The status label and lamp for a state character of the status block.
TStateLook StateLook(char state);
// ... and when no status block matched.
TStateLook NoConnectionLook();

// Bar colours, decided on the bar's position after it was limited to its range.
TRgb PotentiometerColour(int32_t position);
TRgb VoltageColour(int32_t position);

// Display texts of the setting edits and the measurement edits.
std::string FrequencyText(int32_t value);   // "%05d  Hz"
std::string PercentText(int32_t value);     // "%d %"
std::string PlainText(int32_t value);       // "%d "
std::string PwmPeriodText(int32_t value);   // "%d ms" of ten times the value
std::string NumberText(int32_t value);      // "%d"

}  // namespace vxpanel

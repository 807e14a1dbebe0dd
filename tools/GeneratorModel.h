// SPDX-License-Identifier: MIT
// The simulated generator's protocol logic, without any I/O: bytes from the
// line go in, reply frames come out.  The simulator serves it on a
// pseudo-terminal; tests can drive it directly.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace vxsim {

struct TModelOptions {
  std::string Version = "016";  // three characters after "#02SR"
  std::string StoreFile;        // empty: "@05wr" stores in memory only
  int Potentiometer = 40;       // the front knob, 0..99999
  bool Blocking = false;        // once started the state reads "2", output held off
  bool Overvoltage = false;     // once started the state reads "3", output held off
  int VoltageLimit = 950;       // an output voltage above this trips overvoltage
  int Wobble = 4;               // measurement noise amplitude; 0 makes them exact
  std::uint32_t Seed = 1;
};

// One status block's measurements, in the units of the status reply.
struct TMeasures {
  int Phase = 0;      // 0..999
  int Current = 0;    // 0..700
  int Tracking = 30;  // 30 means no correction, 0..60
  int AcCurrent = 0;  // 0..1000
  int Voltage = 0;    // 0..1000
  char State = '0';   // '0' off, '1' on, '2' blocking, '3' overvoltage
};

// What became of one frame (or of bytes thrown away) taken from the line.
struct TFrameResult {
  std::string Frame;  // as received, with its "\r" when it had one
  std::string Reply;  // the frame to answer with; empty when none is due
  std::string Note;   // what happened, for a person watching; may be empty
};

struct TRange {
  int Min = 0;
  int Max = 0;
};

class TGeneratorModel {
 public:
  // The eight settings, in the order the panel reads them back.
  static constexpr std::string_view kSettings = "fpwmsdru";
  static constexpr int kMaxFrame = 32;  // longer lines are noise

  // Throws std::invalid_argument when the version is not three printable characters.
  explicit TGeneratorModel(TModelOptions options = {});

  // Takes bytes as they came from the line; a frame may span calls.
  std::vector<TFrameResult> Feed(std::string_view bytes);

  // Reads the store file into the current and stored settings.  Returns what
  // happened for the operator; on a missing or corrupt file the defaults stay.
  std::string LoadStore();

  static bool IsSetting(char letter);
  int Value(char letter) const;   // throws std::out_of_range for a non-setting
  int Stored(char letter) const;  // as of the last "@05wr" (or the store file)
  TRange Range(char letter) const;
  // Stores a value as a set frame would; returns the note (clamping said there).
  std::string Set(char letter, int value);

  char State() const;
  // The next status block; wobble moves on each call.
  TMeasures Measure();
  const std::string& Version() const { return FOptions.Version; }
  // The frequency the transducer resonates at (the middle of the variant's range).
  int Resonance() const;

  void SetPotentiometer(int value) { FOptions.Potentiometer = value; }
  int Potentiometer() const { return FOptions.Potentiometer; }
  void SetBlocking(bool on);
  void SetOvervoltage(bool on);
  void SetWobble(int amplitude) { FOptions.Wobble = amplitude < 0 ? 0 : amplitude; }

 private:
  TFrameResult Handle(std::string frame);
  std::string Query(char command);
  std::string Action(std::string_view word);
  std::string SaveStore();
  std::string CheckVoltage();
  TFrameResult Discard();
  int Output() const;  // output voltage from the settings, before wobble
  int Jitter(int amplitude);
  static size_t Index(char letter);

  TModelOptions FOptions;
  std::array<int, 8> FValues{};
  std::array<int, 8> FStoredValues{};
  bool FRunning = false;
  bool FTripped = false;  // overvoltage latched until stop
  std::string FLine;
  size_t FDiscarded = 0;  // bytes of an overlong line thrown away so far
  std::mt19937 FRandom;
};

// Shows bytes for a person: "\r" as \r, backslash as \\, other non-printable
// bytes as \xNN.
std::string Printable(std::string_view bytes);

}  // namespace vxsim

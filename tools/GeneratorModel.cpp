// SPDX-License-Identifier: MIT
#include "GeneratorModel.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace vxsim {

namespace {

struct TSetting {
  const char* Name;
  TRange Limits;
  int Default;  // the frequency's default is the variant's resonance instead
};

// In the order of TGeneratorModel::kSettings.
constexpr TSetting kTable[] = {
    {"frequency", {11000, 51800}, 0},   {"power", {0, 100}, 50},
    {"pwm period", {1, 100}, 100},      {"pwm ratio", {0, 100}, 50},
    {"fast sweeping", {0, 255}, 3},     {"sweeping", {0, 255}, 7},
    {"tracking range", {0, 30}, 10},    {"ultrasonic power", {0, 4095}, 2048},
};

struct TVariant {
  char Code;
  TRange Frequency;
};

// Second version character "1", third one of these: the known variants.
constexpr TVariant kVariants[] = {
    {'0', {21435, 40560}}, {'1', {17460, 28520}}, {'2', {24000, 45000}},
    {'4', {27700, 51800}}, {'5', {30000, 50000}}, {'6', {11000, 20000}},
};

constexpr int kHzPerTrackingStep = 20;

std::string Digits(char prefix, int value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#02%c%05d\r", prefix, std::clamp(value, 0, 99999));
  return buf;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

TGeneratorModel::TGeneratorModel(TModelOptions options) : FOptions(std::move(options)), FRandom(FOptions.Seed) {
  const std::string& v = FOptions.Version;
  if (v.size() != 3 || !std::all_of(v.begin(), v.end(), [](char c) { return c > ' ' && c < 127; }))
    throw std::invalid_argument("version must be three printable characters, got \"" + Printable(v) + "\"");
  FOptions.Wobble = std::max(0, FOptions.Wobble);
  for (size_t i = 0; i < kSettings.size(); ++i) FValues[i] = kTable[i].Default;
  FValues[Index('f')] = Resonance();
  FStoredValues = FValues;
}

bool TGeneratorModel::IsSetting(char letter) { return letter != 0 && kSettings.find(letter) != std::string_view::npos; }

size_t TGeneratorModel::Index(char letter) {
  const size_t i = IsSetting(letter) ? kSettings.find(letter) : std::string_view::npos;
  if (i == std::string_view::npos) throw std::out_of_range(std::string("not a setting: ") + Printable({&letter, 1}));
  return i;
}

int TGeneratorModel::Value(char letter) const { return FValues[Index(letter)]; }
int TGeneratorModel::Stored(char letter) const { return FStoredValues[Index(letter)]; }

TRange TGeneratorModel::Range(char letter) const {
  const size_t i = Index(letter);
  if (letter == 'f' && FOptions.Version[1] == '1')
    for (const TVariant& v : kVariants)
      if (v.Code == FOptions.Version[2]) return v.Frequency;
  return kTable[i].Limits;
}

int TGeneratorModel::Resonance() const {
  const TRange r = Range('f');
  return (r.Min + r.Max) / 2 / 10 * 10;
}

std::string TGeneratorModel::Set(char letter, int value) {
  const size_t i = Index(letter);
  const TRange r = Range(letter);
  const int kept = std::clamp(value, r.Min, r.Max);
  FValues[i] = kept;
  std::string note = std::string(kTable[i].Name) + " " + std::to_string(value);
  if (kept != value)
    note += " out of range " + std::to_string(r.Min) + ".." + std::to_string(r.Max) + ": clamped to " +
            std::to_string(kept);
  const std::string trip = CheckVoltage();
  return trip.empty() ? note : note + "; " + trip;
}

char TGeneratorModel::State() const {
  if (!FRunning) return '0';
  if (FTripped || FOptions.Overvoltage) return '3';
  if (FOptions.Blocking) return '2';
  return '1';
}

void TGeneratorModel::SetBlocking(bool on) { FOptions.Blocking = on; }

void TGeneratorModel::SetOvervoltage(bool on) {
  FOptions.Overvoltage = on;
  if (!on) FTripped = false;
}

// A driven transducer: output voltage follows power and ultrasonic power;
// tracking pulls the frequency towards resonance within its range, and what
// it cannot correct shows in the phase and lowers the currents.
int TGeneratorModel::Output() const {
  const double drive = Value('p') / 100.0 * (0.4 + 0.6 * Value('u') / 4095.0);
  return static_cast<int>(std::lround(1000.0 * drive));
}

std::string TGeneratorModel::CheckVoltage() {
  if (State() != '1' || Output() <= FOptions.VoltageLimit) return {};
  FTripped = true;
  return "output voltage " + std::to_string(Output()) + " over limit " + std::to_string(FOptions.VoltageLimit) +
         ": overvoltage, output off";
}

int TGeneratorModel::Jitter(int amplitude) {
  if (amplitude <= 0) return 0;
  return std::uniform_int_distribution<int>(-amplitude, amplitude)(FRandom);
}

TMeasures TGeneratorModel::Measure() {
  TMeasures m;
  m.State = State();
  if (m.State != '1') return m;  // output off: nothing to measure
  const int detune = Resonance() - Value('f');
  const int range = Value('r');
  const int step = std::clamp(static_cast<int>(std::lround(detune / double(kHzPerTrackingStep))), -range, range);
  const int residual = detune - step * kHzPerTrackingStep;
  const double load = 0.3 + 0.7 * std::max(0.0, 1.0 - std::abs(residual) / 2000.0);
  const int out = Output();
  const int a = FOptions.Wobble;
  m.Phase = std::clamp(500 + residual / 2 + Jitter(a), 0, 999);
  m.Current = std::clamp(static_cast<int>(std::lround(0.7 * out * load)) + Jitter(a), 0, 700);
  m.Tracking = std::clamp(30 + step + Jitter(a / 4), 0, 60);
  m.AcCurrent = std::clamp(static_cast<int>(std::lround(out * load)) + Jitter(a), 0, 1000);
  m.Voltage = std::clamp(out + Jitter(a), 0, 1000);
  return m;
}

std::vector<TFrameResult> TGeneratorModel::Feed(std::string_view bytes) {
  std::vector<TFrameResult> out;
  for (const char c : bytes) {
    // A frame's first character always starts a new frame, so stray bytes
    // before it cannot hide it; "%@" is the version query.
    const bool start = c == '#' || c == '%' || (c == '@' && FLine != "%");
    if (start && (!FLine.empty() || FDiscarded > 0)) out.push_back(Discard());
    if (c == '\r') {
      if (FDiscarded > 0) {
        TFrameResult r = Discard();
        r.Frame += '\r';
        out.push_back(std::move(r));
      } else {
        out.push_back(Handle(std::exchange(FLine, {}) + '\r'));
      }
      continue;
    }
    if (FLine.size() < static_cast<size_t>(kMaxFrame)) FLine += c;
    else ++FDiscarded;
  }
  return out;
}

TFrameResult TGeneratorModel::Discard() {
  TFrameResult r;
  r.Frame = std::exchange(FLine, {});
  if (FDiscarded > 0)
    r.Note = "overlong line (" + std::to_string(r.Frame.size() + FDiscarded) + " bytes) discarded";
  else
    r.Note = "not a frame: discarded";
  FDiscarded = 0;
  return r;
}

TFrameResult TGeneratorModel::Handle(std::string frame) {
  TFrameResult r;
  const std::string_view f(frame.data(), frame.size() - 1);
  if (f == "%@05SR") r.Reply = "#02SR" + FOptions.Version + "\r";
  else if (f.empty()) r.Note = "empty line ignored";
  else if (f.size() < 4 || std::string_view("#%@").find(f[0]) == std::string_view::npos || !AllDigits(f.substr(1, 2)))
    r.Note = "not a frame: ignored";
  else if (f.substr(1, 2) != "05") r.Note = "for address " + std::string(f.substr(1, 2)) + ": ignored";
  else if (f[0] == '%') {
    if (f.size() == 4) r.Reply = Query(f[3]);
    r.Note = r.Reply.empty() ? "unknown query: ignored" : "";
  } else if (f[0] == '#') {
    if (f.size() != 9 || !AllDigits(f.substr(4))) r.Note = "malformed set frame: ignored";
    else if (!IsSetting(f[3])) r.Note = "no setting '" + Printable(f.substr(3, 1)) + "': ignored";
    else r.Note = Set(f[3], std::atoi(std::string(f.substr(4)).c_str()));
  } else {
    r.Note = Action(f.substr(3));
  }
  r.Frame = std::move(frame);
  return r;
}

std::string TGeneratorModel::Query(char command) {
  if (IsSetting(command)) return Digits(command, Value(command));
  if (command == 't') return Digits('t', FOptions.Potentiometer);
  if (command != '?') return {};
  const TMeasures m = Measure();
  char buf[32];
  std::snprintf(buf, sizeof buf, "#02?%03d%03d%03d%03d%03d%c\r", m.Phase, m.Current, m.Tracking, m.AcCurrent,
                m.Voltage, m.State);
  return buf;
}

std::string TGeneratorModel::Action(std::string_view word) {
  if (word == "wr") {
    FStoredValues = FValues;
    return SaveStore();
  }
  if (word == "start") {
    FRunning = true;
    const std::string trip = CheckVoltage();
    return trip.empty() ? std::string("started, state ") + State() : "started; " + trip;
  }
  if (word == "stop") {
    FRunning = false;
    FTripped = false;
    return "stopped";
  }
  return "unknown action \"" + Printable(word) + "\": ignored";
}

std::string TGeneratorModel::SaveStore() {
  const std::string& file = FOptions.StoreFile;
  if (file.empty()) return "settings stored";
  const std::string temp = file + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << "# stored generator settings: letter and value\n";
    for (size_t i = 0; i < kSettings.size(); ++i) out << kSettings[i] << ' ' << FStoredValues[i] << '\n';
    out.close();
    if (!out) {
      const int err = errno;
      std::remove(temp.c_str());
      return "settings stored in memory only: cannot write " + file + ": " + std::strerror(err);
    }
  }
  // Renamed into place so that a crash never leaves half a file.
  if (std::rename(temp.c_str(), file.c_str()) != 0) {
    const int err = errno;
    std::remove(temp.c_str());
    return "settings stored in memory only: cannot write " + file + ": " + std::strerror(err);
  }
  return "settings stored in " + file;
}

std::string TGeneratorModel::LoadStore() {
  const std::string& file = FOptions.StoreFile;
  if (file.empty()) return {};
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) return file + ": is a folder, using default settings";
  std::ifstream in(file);
  if (!in) return file + ": cannot read (" + std::strerror(errno) + "), using default settings";
  std::array<int, 8> values{};
  std::array<bool, 8> seen{};
  std::string clamped;
  std::string line;
  int number = 0;
  auto corrupt = [&](const std::string& why) {
    return file + " line " + std::to_string(number) + ": " + why + ", using default settings";
  };
  while (std::getline(in, line)) {
    if (++number > 100) return corrupt("too long");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::string_view text(line);
    if (text.size() < 3 || text.size() > 7 || !IsSetting(text[0]) || text[1] != ' ' || !AllDigits(text.substr(2)))
      return corrupt("not a setting \"" + Printable(text.substr(0, 40)) + "\"");
    const size_t i = Index(text[0]);
    if (seen[i]) return corrupt(std::string("second value for ") + kTable[i].Name);
    const int value = std::atoi(line.c_str() + 2);
    const TRange r = Range(text[0]);
    if (text[0] == 'f' && (value < r.Min || value > r.Max)) {
      // Stored under another variant: the generator keeps to its own range.
      values[i] = std::clamp(value, r.Min, r.Max);
      clamped = "; stored frequency " + std::to_string(value) + " clamped to " + std::to_string(values[i]);
    } else if (value < r.Min || value > r.Max) {
      return corrupt(std::string(kTable[i].Name) + " " + std::to_string(value) + " out of range");
    } else {
      values[i] = value;
    }
    seen[i] = true;
  }
  for (size_t i = 0; i < seen.size(); ++i)
    if (!seen[i]) return file + ": no value for " + kTable[i].Name + ", using default settings";
  FValues = FStoredValues = values;
  return "settings loaded from " + file + clamped;
}

std::string Printable(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\r') out += "\\r";
    else if (c == '\\') out += "\\\\";
    else if (b >= 0x20 && b < 0x7f) out += c;
    else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      out += buf;
    }
  }
  return out;
}

}  // namespace vxsim

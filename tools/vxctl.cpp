// SPDX-License-Identifier: MIT
// vxctl: the generator from the command line, for scripts, test rigs and
// terminals without a desktop.  Results go to stdout, messages to stderr.
//
// Exit codes: 0 done; 1 the generator did not answer or answered garbage,
// or the line failed; 2 bad usage (nothing was sent); 3 the port could not
// be opened.

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "CPort.h"
#include "CtlLine.h"
#include "CtlOptions.h"
#include "CtlOutput.h"
#include "CtlSettings.h"
#include "Protocol.h"

namespace vxctl {
namespace {

enum : int { kDone = 0, kNoReply = 1, kBadUsage = 2, kPortFailed = 3 };

TField Number(std::string name, int32_t value) {
  const std::string v = std::to_string(value);
  return {std::move(name), v, v, true};
}

TField Text(std::string name, std::string value) { return {std::move(name), value, value, false}; }

TRecord StatusRecord(const vxpanel::TStatusBlock& s) {
  return {Number("phase", s.Phase),
          Number("current", s.Current),
          Number("tracking", s.Tracking - 30),  // the panel's reading: 30 is no correction
          Number("ac-current", s.AcCurrent),
          Number("voltage", s.Voltage),
          Text("state", std::string(vxpanel::StateLook(s.State).Caption))};
}

// Local time to the millisecond, ISO 8601 with the zone's offset.
std::string Timestamp() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  tm t{};
  ::localtime_r(&ts.tv_sec, &t);
  char date[32], zone[8], out[64];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &t);
  std::strftime(zone, sizeof zone, "%z", &t);
  std::snprintf(out, sizeof out, "%s.%03ld%s", date, ts.tv_nsec / 1000000, zone);
  return out;
}

int Ports(TWriter& out) {
  std::vector<cport::TComPortInfo> ports;
  try {
    cport::EnumComPortInfo(ports);
  } catch (const cport::EComPort& e) {
    throw TPortError(std::string("cannot list the ports: ") + e.what());
  }
  std::vector<TRecord> rows;
  for (const auto& p : ports) rows.push_back({Text("name", p.Name), Text("description", p.Description)});
  out.Table(rows);
  if (ports.empty()) std::fputs("vxctl: no serial ports found\n", stderr);
  return kDone;
}

int Get(TGeneratorLine& line, const std::vector<const TSetting*>& which, TWriter& out) {
  TRecord r;
  for (const TSetting* s : which) {
    const int32_t v = line.Value(s->Letter, s->Name);
    r.push_back({std::string(s->Name), ValueText(*s, v), std::to_string(v), true});
  }
  out.Record(r);
  return kDone;
}

int Set(TGeneratorLine& line, const std::vector<TAssignment>& assignments) {
  for (const TAssignment& a : assignments)
    if (a.Setting->Letter == 'f') {
      CheckFrequency(assignments, FrequencyRange(line.Version()));
      break;
    }
  for (const TAssignment& a : assignments)
    line.Send(vxpanel::SetFrame(vxpanel::kGeneratorAddress, a.Setting->Letter, a.Value));
  return kDone;
}

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// True when a stop signal came within ms (0: only one already pending).
bool Stopped(const sigset_t& set, int64_t ms) {
  timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  for (;;) {
    if (::sigtimedwait(&set, nullptr, &wait) >= 0) return true;
    if (errno != EINTR) return false;  // EAGAIN: the time is up
  }
}

int Watch(TGeneratorLine& line, const TOptions& o, TWriter& out) {
  // Held back while a reading is under way, so every line goes out whole;
  // taken between readings.
  const sigset_t stop = StopSignals();
  ::sigprocmask(SIG_BLOCK, &stop, nullptr);
  int result = kDone;
  auto next = std::chrono::steady_clock::now();
  for (int64_t n = 0; o.Count == 0 || n < o.Count; ++n) {
    if (n > 0) {
      // A slow reading delays the next one instead of bunching those after it.
      next = std::max(next + std::chrono::milliseconds(o.IntervalMs), std::chrono::steady_clock::now());
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - std::chrono::steady_clock::now());
      if (Stopped(stop, std::max<int64_t>(left.count(), 0))) break;
    }
    try {
      const std::string time = Timestamp();
      TRecord r = StatusRecord(line.Status());
      r.insert(r.begin(), Text("time", time));
      out.Row(r);
    } catch (const TReplyError& e) {
      if (!e.Garbled) throw TReplyError(std::string(e.what()) + ": the generator is lost", false);
      // One spoilt block on a noisy line does not end the log; the exit code tells.
      std::fprintf(stderr, "vxctl: %s: reading skipped\n", e.what());
      result = kNoReply;
    }
  }
  return result;
}

int Run(const TOptions& o) {
  TWriter out(o.Format, stdout);
  if (o.Command == "ports") return Ports(out);

  // Everything the command line can get wrong is found before the port is opened.
  std::vector<TAssignment> assignments;
  std::vector<const TSetting*> which;
  if (o.Command == "set") assignments = ParseAssignments(o.Args);
  if (o.Command == "get") {
    for (const std::string& a : o.Args) {
      const TSetting* s = FindSetting(a);
      if (!s) throw TUsageError("unknown setting '" + a + "'");
      which.push_back(s);
    }
    if (which.empty())
      for (const TSetting& s : Settings()) which.push_back(&s);
  }

  TGeneratorLine line(ChooseLine(o.Port, o.Baud), o.TimeoutMs);
  try {
    if (o.Command == "version") {
      const vxpanel::TVersionReply v = line.Version();
      const vxpanel::TFrequencyRange range = FrequencyRange(v);
      out.Record({Text("version", v.Text),
                  {"frequency-min", std::to_string(range.Min) + " Hz", std::to_string(range.Min)},
                  {"frequency-max", std::to_string(range.Max) + " Hz", std::to_string(range.Max)}});
      return kDone;
    }
    if (o.Command == "status") {
      out.Record(StatusRecord(line.Status()));
      return kDone;
    }
    if (o.Command == "get") return Get(line, which, out);
    if (o.Command == "set") return Set(line, assignments);
    if (o.Command == "start")
      line.Send(vxpanel::kStartFrame);
    else if (o.Command == "stop")
      line.Send(vxpanel::kStopFrame);
    else if (o.Command == "store")
      line.Send(vxpanel::kWriteFrame);
    else
      return Watch(line, o, out);
    return kDone;
  } catch (const cport::EComPort& e) {
    // A write or read on the port failed: the adapter was unplugged, say.
    throw TReplyError(line.Port() + ": lost the device: " + e.what(), false);
  }
}

}  // namespace
}  // namespace vxctl

int main(int argc, char** argv) {
  using namespace vxctl;
  std::setlocale(LC_ALL, "");
  try {
    const TOptions o = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (o.Help) {
      std::fputs(kUsage, stdout);
      return kDone;
    }
    const int code = Run(o);
    return std::fflush(stdout) == 0 ? code : kNoReply;
  } catch (const TUsageError& e) {
    std::fprintf(stderr, "vxctl: %s\nTry 'vxctl --help' for more information.\n", e.what());
    return kBadUsage;
  } catch (const TPortError& e) {
    std::fprintf(stderr, "vxctl: %s\n", e.what());
    return kPortFailed;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vxctl: %s\n", e.what());
    return kNoReply;
  }
}

// SPDX-License-Identifier: MIT
// vxgen-sim: a simulated generator on a pseudo-terminal, for demonstrations,
// training and end-to-end tests without hardware.
//
// The first line on stdout is the terminal's path; everything else (the
// --log conversation, notes, errors) goes to stderr.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <type_traits>

#include "GeneratorModel.h"
#include "Simulator.h"

namespace {

constexpr const char* kUsage = R"(usage: vxgen-sim [options]

Plays an ultrasonic generator (address 05) on a new pseudo-terminal.  Prints
the terminal's path as the first line on stdout, then answers the panel until
SIGINT or SIGTERM.  Everything else goes to stderr.

  --link PATH          also make PATH a symbolic link to the terminal (removed on exit)
  --version XYZ        the three version characters (default 016)
  --store FILE         keep the settings stored by "@05wr" in FILE across runs
  --delay MS           reply delay, 0..10000 (default 5)
  --pot N              potentiometer value, 0..99999 (default 40)
  --voltage-limit V    output voltage over V trips overvoltage, 0..1000 (default 950)
  --blocking           the state reads 2 (blocking) once started
  --overvoltage        the state reads 3 (overvoltage) once started
  --steady             measurements without wobble
  --log                show every frame received and sent, with the time
  --seed N             makes drop, garble, noise and wobble repeatable (default: random)
faults:
  --silent             answer nothing
  --drop P             leave a share P (0..1) of replies unsent
  --garble P           corrupt each reply byte with probability P (0..1)
  --noise              stray bytes between replies
  --late MS            answer MS (1..10000) after the query, past the panel's read
  --hangup-after S     close the line after S seconds, as an unplugged adapter
  -h, --help           this text
)";

struct TUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

template <class T>
std::string Show(T v) {
  if constexpr (std::is_floating_point_v<T>) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
  } else {
    return std::to_string(v);
  }
}

template <class T>
T Number(const std::string& option, const std::string& text, T min, T max) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !(value >= min && value <= max))
    throw TUsageError(option + " wants a number from " + Show(min) + " to " + Show(max) + ", not '" + text + "'");
  return value;
}

struct TArgs {
  vxsim::TModelOptions Model;
  vxsim::TSimOptions Sim;
  std::string Link;
  bool Log = false;
  bool Help = false;
  bool Steady = false;
  bool SeedGiven = false;
  std::uint32_t Seed = 0;
};

TArgs Parse(int argc, char** argv) {
  TArgs a;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    std::string value;
    bool inlineValue = false;
    if (const auto eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = option.substr(eq + 1);
      option.resize(eq);
      inlineValue = true;
    }
    auto next = [&]() -> std::string {
      if (inlineValue) return value;
      if (i + 1 >= argc) throw TUsageError(option + " needs a value");
      return argv[++i];
    };
    auto flag = [&](bool& target) {
      if (inlineValue) throw TUsageError(option + " takes no value");
      target = true;
    };
    if (option == "-h" || option == "--help") flag(a.Help);
    else if (option == "--link") {
      a.Link = next();
      if (a.Link.empty()) throw TUsageError("--link wants a path");
    } else if (option == "--version") {
      a.Model.Version = next();
      const std::string& v = a.Model.Version;
      if (v.size() != 3 || !std::all_of(v.begin(), v.end(), [](char c) { return c > ' ' && c < 127; }))
        throw TUsageError("--version wants three printable characters, e.g. 016, not '" + v + "'");
    } else if (option == "--store") a.Model.StoreFile = next();
    else if (option == "--delay") a.Sim.DelayMs = Number(option, next(), 0, 10000);
    else if (option == "--pot") a.Model.Potentiometer = Number(option, next(), 0, 99999);
    else if (option == "--voltage-limit") a.Model.VoltageLimit = Number(option, next(), 0, 1000);
    else if (option == "--blocking") flag(a.Model.Blocking);
    else if (option == "--overvoltage") flag(a.Model.Overvoltage);
    else if (option == "--steady") flag(a.Steady);
    else if (option == "--log") flag(a.Log);
    else if (option == "--seed") {
      a.Seed = Number<std::uint32_t>(option, next(), 0, std::numeric_limits<std::uint32_t>::max());
      a.SeedGiven = true;
    } else if (option == "--silent") flag(a.Sim.Silent);
    else if (option == "--drop") a.Sim.Drop = Number(option, next(), 0.0, 1.0);
    else if (option == "--garble") a.Sim.Garble = Number(option, next(), 0.0, 1.0);
    else if (option == "--noise") flag(a.Sim.Noise);
    else if (option == "--late") a.Sim.LateMs = Number(option, next(), 1, 10000);
    else if (option == "--hangup-after")
      a.Sim.HangUpAfterMs = static_cast<int>(Number(option, next(), 0.0, 86400.0) * 1000);
    else if (option.rfind("-", 0) == 0) throw TUsageError("unknown option " + option);
    else throw TUsageError("unexpected argument '" + option + "'");
  }
  if (a.Steady) a.Model.Wobble = 0;
  return a;
}

void Say(const std::string& text) { std::fprintf(stderr, "vxgen-sim: %s\n", text.c_str()); }

// A link left by an earlier run is replaced; anything else at PATH is kept.
void MakeLink(const std::string& link, const std::string& target) {
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) throw std::runtime_error(link + " exists and is not a symbolic link");
    ::unlink(link.c_str());
  }
  if (::symlink(target.c_str(), link.c_str()) != 0)
    throw std::system_error(errno, std::generic_category(), "cannot make link " + link);
}

// Only our own link: another run may have taken the name over meanwhile.
void RemoveLink(const std::string& link, const std::string& target) {
  char buf[4096];
  const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
  if (n > 0 && std::string(buf, static_cast<size_t>(n)) == target) ::unlink(link.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  TArgs args;
  try {
    args = Parse(argc, argv);
  } catch (const TUsageError& e) {
    std::fprintf(stderr, "vxgen-sim: %s\nTry 'vxgen-sim --help'.\n", e.what());
    return 2;
  }
  if (args.Help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const std::uint32_t seed = args.SeedGiven ? args.Seed : std::random_device{}();
  args.Model.Seed = seed;
  args.Sim.Seed = seed + 1;
  args.Sim.Record = false;  // nobody reads them here; a long run would only grow
  const bool log = args.Log;
  args.Sim.Log = [log](const vxsim::TEvent& event, const std::string& line) {
    // Without --log only what the operator must know: a lost store, a closed line.
    if (log || event.Kind == vxsim::EEvent::HungUp || event.Note.find("cannot write") != std::string::npos)
      std::fprintf(stderr, "%s\n", line.c_str());
  };

  // Signals are taken by the main thread alone: blocked before any thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::string path;
  try {
    vxsim::TGeneratorModel model(args.Model);
    if (!args.Model.StoreFile.empty()) Say(model.LoadStore());
    vxsim::TSimulator sim(std::move(model), std::move(args.Sim));
    path = sim.Path();
    if (!args.Link.empty()) MakeLink(args.Link, path);
    sim.Start();
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    Say("generator " + args.Model.Version + " at address 05 on " + path + (args.Link.empty() ? "" : " (" + args.Link + ")") +
        ", seed " + std::to_string(seed));

    for (;;) {
      const timespec tick{0, 100'000'000};
      const int s = ::sigtimedwait(&signals, nullptr, &tick);
      if (s > 0) {
        Say(std::string("stopping on ") + (s == SIGINT ? "SIGINT" : s == SIGTERM ? "SIGTERM" : "SIGHUP"));
        break;
      }
      if (sim.HungUp()) {
        Say("line closed, stopping");
        break;
      }
    }
    sim.Stop();
  } catch (const std::exception& e) {
    Say(e.what());
    if (!args.Link.empty() && !path.empty()) RemoveLink(args.Link, path);
    return 1;
  }
  if (!args.Link.empty()) RemoveLink(args.Link, path);
  return 0;
}

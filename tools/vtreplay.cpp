// SPDX-License-Identifier: MIT
// vtreplay: feeds a captured byte stream to the terminal emulation and prints
// the final screen, the cursor and what the terminal answered.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "CPortVT.h"
#include "VtReport.h"

namespace {

constexpr const char* kUsage = R"(usage: vtreplay [options] [FILE|-]

Feeds the bytes of FILE (or standard input) to the terminal emulation and
prints the final screen: one line per row, trailing blanks removed, then
"cursor ROW COL" (1-based), then "answer " and the bytes the terminal
answered, written C-style.

  --emulation vt100|vt52   the terminal (default vt100)
  --cols N                 columns, 1..1024 (default 80)
  --rows N                 rows, 1..1024 (default 24)
  --utf8                   the bytes are UTF-8 (default)
  --latin1                 the bytes are 8-bit Latin-1
  -h, --help               this text
)";

struct TUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TArgs {
  cport::TTermEmulation Emulation = cport::teVT100;
  int Columns = 80, Rows = 24;
  cport::TTermCharset Charset = cport::tcUTF8;
  std::string File = "-";
  bool Help = false;
};

int Side(const std::string& option, const std::string& text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 1024)
    throw TUsageError(option + " wants a number from 1 to 1024, not '" + text + "'");
  return value;
}

TArgs Parse(int argc, char** argv) {
  TArgs a;
  bool haveFile = false;
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
    auto flag = [&]() {
      if (inlineValue) throw TUsageError(option + " takes no value");
    };
    if (option == "-h" || option == "--help") {
      flag();
      a.Help = true;
    } else if (option == "--emulation") {
      const std::string e = next();
      if (e == "vt100") a.Emulation = cport::teVT100;
      else if (e == "vt52") a.Emulation = cport::teVT52;
      else throw TUsageError("--emulation wants vt100 or vt52, not '" + e + "'");
    } else if (option == "--cols") {
      a.Columns = Side(option, next());
    } else if (option == "--rows") {
      a.Rows = Side(option, next());
    } else if (option == "--utf8") {
      flag();
      a.Charset = cport::tcUTF8;
    } else if (option == "--latin1") {
      flag();
      a.Charset = cport::tcLatin1;
    } else if (option != "-" && option.rfind("-", 0) == 0) {
      throw TUsageError("unknown option " + option);
    } else if (haveFile) {
      throw TUsageError("one input only, not also '" + option + "'");
    } else {
      a.File = option;
      haveFile = true;
    }
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  TArgs args;
  try {
    args = Parse(argc, argv);
  } catch (const TUsageError& e) {
    std::fprintf(stderr, "vtreplay: %s\nTry 'vtreplay --help'.\n", e.what());
    return 2;
  }
  if (args.Help) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  const bool stdinput = args.File == "-";
  std::FILE* in = stdinput ? stdin : std::fopen(args.File.c_str(), "rb");
  if (!in) {
    std::fprintf(stderr, "vtreplay: cannot open %s: %s\n", args.File.c_str(), std::strerror(errno));
    return 1;
  }
  cport::TVtEmulator vt(args.Columns, args.Rows);
  vt.SetEmulation(args.Emulation);
  vt.SetCharset(args.Charset);
  std::string answer;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    vt.Feed(buffer, n);
    answer += vt.TakeAnswer();
  }
  const bool failed = std::ferror(in);
  const int error = errno;
  if (!stdinput) std::fclose(in);
  if (failed) {
    std::fprintf(stderr, "vtreplay: cannot read %s: %s\n", stdinput ? "standard input" : args.File.c_str(),
                 std::strerror(error));
    return 1;
  }
  const std::string report = vtreplay::ScreenReport(vt, answer);
  std::fwrite(report.data(), 1, report.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

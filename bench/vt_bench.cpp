// SPDX-License-Identifier: MIT
// vt-bench: the terminal emulation's throughput, beside libvterm's on the
// same bytes in the same run.
//   vt-bench [megabytes per stream]       (default 16)
//
// Three streams on an 80 x 24 screen: plain 80-column text lines; an
// escape-heavy one of cursor moves, colours and scrolling-region scrolls
// with short text between; and UTF-8 text (Latin, Greek, Cyrillic, a few
// CJK characters).  Each is fed in 4 KiB pieces, as reads from a line
// arrive; the best of 5 passes counts.  The emulation keeps its default
// scrollback of 1000 lines; libvterm's screen keeps none.
// Targets: ahead of libvterm on all three, at least 100 MB/s on plain text.
// Exit code 0 when met.
#include <vterm.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "CPortVT.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCols = 80, kRows = 24;
constexpr size_t kPiece = 4096;

std::string PlainText(size_t size) {
  std::string s;
  std::mt19937 rng(1);
  while (s.size() < size) {
    for (int c = 0; c < kCols; ++c) s += static_cast<char>(' ' + rng() % 95);
    s += "\r\n";
  }
  return s;
}

std::string EscapeHeavy(size_t size) {
  std::string s;
  std::mt19937 rng(2);
  auto n = [&rng](int m) { return std::to_string(1 + rng() % static_cast<unsigned>(m)); };
  while (s.size() < size) {
    switch (rng() % 6) {
      case 0: s += "\x1b[" + n(kRows) + ";" + n(kCols) + "H"; break;
      case 1: s += "\x1b[" + n(8) + "ABCD"[rng() % 4]; break;
      case 2: s += "\x1b[" + std::to_string(30 + rng() % 8) + ";" + std::to_string(40 + rng() % 8) + ";1m"; break;
      case 3: s += "\x1b[0m"; break;
      case 4: {  // a region, scrolled at its bottom and its top
        const int top = 1 + static_cast<int>(rng() % 10), bottom = top + 2 + static_cast<int>(rng() % 10);
        s += "\x1b[" + std::to_string(top) + ";" + std::to_string(bottom) + "r\x1b[" + std::to_string(bottom) +
             ";1H\n\n\n\x1b[" + std::to_string(top) + ";1H\x1bM\x1bM\x1b[r";
        break;
      }
      default: s += "status OK 42"; break;
    }
  }
  return s;
}

std::string Utf8Text(size_t size) {
  static const char* const kWords[] = {"Grüße", "Straße", "naïve", "café", "Ελληνικά", "λόγος", "Русский", "язык",
                                       "€100", "Größe", "Ærø", "中文", "ñandú", "déjà-vu", "Ωμέγα", "Съешь"};
  std::string s;
  std::mt19937 rng(3);
  int col = 0;
  while (s.size() < size) {
    const char* w = kWords[rng() % 16];
    if (col + 10 > kCols) {
      s += "\r\n";
      col = 0;
    }
    s += w;
    s += ' ';
    col += 10;
  }
  return s;
}

template <class Feed>
double BestMBps(const std::string& bytes, Feed feed) {
  double best = 0;
  for (int pass = 0; pass < 5; ++pass) {
    const auto t0 = Clock::now();
    for (size_t at = 0; at < bytes.size(); at += kPiece) feed(bytes.data() + at, std::min(kPiece, bytes.size() - at));
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    best = std::max(best, static_cast<double>(bytes.size()) / s / 1e6);
  }
  return best;
}

double Ours(const std::string& bytes) {
  cport::TVtEmulator vt(kCols, kRows);
  return BestMBps(bytes, [&vt](const char* p, size_t n) {
    vt.Feed(p, n);
    (void)vt.TakeAnswer();
  });
}

double Libvterm(const std::string& bytes) {
  VTerm* vt = vterm_new(kRows, kCols);
  vterm_set_utf8(vt, 1);
  VTermScreen* screen = vterm_obtain_screen(vt);
  vterm_screen_reset(screen, 1);
  const double r = BestMBps(bytes, [vt](const char* p, size_t n) { vterm_input_write(vt, p, n); });
  vterm_free(vt);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const long mb = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 16;
  if (mb < 1 || mb > 1024) {
    std::fprintf(stderr, "usage: vt-bench [megabytes per stream, 1..1024]\n");
    return 2;
  }
  const size_t size = static_cast<size_t>(mb) << 20;
  struct TStream {
    const char* Name;
    std::string Bytes;
  } streams[] = {{"plain", PlainText(size)}, {"escapes", EscapeHeavy(size)}, {"utf-8", Utf8Text(size)}};

  bool met = true;
  std::printf("%-8s %10s %14s %14s %8s\n", "stream", "MB", "emulation MB/s", "libvterm MB/s", "ratio");
  for (const TStream& s : streams) {
    const double ours = Ours(s.Bytes), theirs = Libvterm(s.Bytes);
    std::printf("%-8s %10.1f %14.1f %14.1f %8.2f\n", s.Name, static_cast<double>(s.Bytes.size()) / 1e6, ours, theirs,
                ours / theirs);
    met = met && ours > theirs;
    if (std::string(s.Name) == "plain") met = met && ours >= 100;
  }
  std::printf("targets (ahead of libvterm on all, >= 100 MB/s plain): %s\n", met ? "met" : "NOT met");
  return met ? 0 : 1;
}

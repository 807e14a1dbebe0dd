// SPDX-License-Identifier: MIT
#include "Received.h"

#include <time.h>

#include <cstdio>

namespace vxterm {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

void TRxText::Add(bool own, std::string_view text) {
  if (text.empty()) return;
  if (View.empty() || View.back().Own != own) View.push_back({own, {}});
  View.back().Text.append(text);
}

std::string Stamp(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
  const time_t secs = static_cast<time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  const int milli = static_cast<int>(ms - static_cast<int64_t>(secs) * 1000);
  tm local{};
  ::localtime_r(&secs, &local);
  char buf[48];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(buf + n, sizeof buf - n, ".%03d", milli);
  return buf;
}

void TRxFormatter::SetTimestamps(bool on, TRxText& out) {
  if (on == FStamps) return;
  Finish(out);
  FStamps = on;
}

void TRxFormatter::SetHex(bool on, TRxText& out) {
  if (on == FHex) return;
  Finish(out);
  FHex = on;
}

int TRxFormatter::HexRowWidth(bool withText) const {
  const int stamp = FStamps ? static_cast<int>(sizeof "2026-12-09 14:03:07.123" - 1) + 2 : 0;
  return stamp + kRowBytes * 3 - 1 + (withText ? 2 + kRowBytes : 0);
}

void TRxFormatter::Feed(std::string_view bytes, const TArrival& at, TRxText& out) {
  if (bytes.empty()) return;
  if (FHex)
    FeedHex(bytes, at, out);
  else
    FeedText(bytes, at, out);
}

void TRxFormatter::StartLine(const std::string& stamp, TRxText& out) {
  if (FStamps) {
    out.Own(stamp + ' ');
    out.Log += stamp;
    out.Log += ' ';
    FViewOpen = true;
  }
  FLineOpen = true;
}

void TRxFormatter::EndLine(const std::string& stamp, TRxText& out) {
  if (FStamps) {
    if (!FLineOpen) StartLine(stamp, out);  // an empty line has its time too
    out.Own("\n");
    FViewOpen = false;
  }
  out.Log += '\n';
  FLineOpen = false;
}

void TRxFormatter::FeedText(std::string_view b, const TArrival& at, TRxText& out) {
  // Without stamps the view shows the bytes untouched.
  if (!FStamps) {
    out.Device(b);
    FViewOpen = b.back() != '\n';
  }
  std::string stamp;
  if (FStamps) stamp = Stamp(at.Wall);
  size_t i = 0;
  while (i < b.size()) {
    const char c = b[i];
    if (IsLineEnd(c)) {
      const bool lfOfCrLf = c == '\n' && FAfterCR;
      FAfterCR = c == '\r';
      ++i;
      if (!lfOfCrLf) EndLine(stamp, out);
      continue;
    }
    FAfterCR = false;
    size_t end = i;
    while (end < b.size() && !IsLineEnd(b[end])) ++end;
    if (!FLineOpen) StartLine(stamp, out);
    const std::string_view run = b.substr(i, end - i);
    if (FStamps) out.Device(run);
    out.Log.append(run);
    i = end;
  }
}

void TRxFormatter::FeedHex(std::string_view b, const TArrival& at, TRxText& out) {
  if (FRowCount > 0 && at.Steady - FRowLast >= FPause) EndRow(out);
  FRowLast = at.Steady;
  std::string stamp;
  for (const char ch : b) {
    const auto c = static_cast<unsigned char>(ch);
    const char cell[3] = {' ', kHexDigits[c >> 4], kHexDigits[c & 0xF]};
    std::string_view shown(cell, 3);
    if (FRowCount == 0) {
      shown.remove_prefix(1);  // no blank before a row's first byte
      if (FStamps) {
        if (stamp.empty()) stamp = Stamp(at.Wall) + "  ";
        out.Own(stamp);
        out.Log += stamp;
      }
    }
    out.Own(shown);
    out.Log += shown;
    FViewOpen = true;
    FRowText += c >= 0x20 && c < 0x7F ? ch : '.';
    if (++FRowCount == kRowBytes) EndRow(out);
  }
}

void TRxFormatter::EndRow(TRxText& out) {
  if (FRowCount == 0) return;
  const std::string text = std::string(static_cast<size_t>(kRowBytes - FRowCount) * 3 + 2, ' ') + FRowText;
  if (FHexTextInView) out.Own(text);
  out.Own("\n");
  out.Log += text;
  out.Log += '\n';
  FViewOpen = false;
  FRowCount = 0;
  FRowText.clear();
}

void TRxFormatter::Idle(std::chrono::steady_clock::time_point now, TRxText& out) {
  if (FRowCount > 0 && now - FRowLast >= FPause) EndRow(out);
}

std::optional<std::chrono::steady_clock::time_point> TRxFormatter::IdleDue() const {
  if (FRowCount == 0) return std::nullopt;
  return FRowLast + FPause;
}

void TRxFormatter::Finish(TRxText& out) {
  if (FHex) {
    EndRow(out);
  } else if (FLineOpen) {
    out.Log += '\n';
    FLineOpen = false;
  }
  if (FViewOpen) {
    out.Own("\n");
    FViewOpen = false;
  }
  FAfterCR = false;
}

}  // namespace vxterm

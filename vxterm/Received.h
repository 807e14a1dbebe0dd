// SPDX-License-Identifier: MIT
// What the received bytes become for a person and for the log: the bytes
// as they came, each line stamped with its arrival time, or hex rows.
//
// The view gets the device's bytes for the emulation and the formatter's
// own text (stamps, hex rows, the line ends it makes) to be shown as it is,
// in any emulation; the log gets plain text (line ends as LF).  Both are
// handed out as the bytes arrive, so a line reaches the log while it is
// still growing.
// A line ends at LF, at CR LF, or at a CR alone; CR LF cut between two
// arrivals is still one line end.  A hex row ends at 16 bytes, or when the
// next byte comes after a pause, or when Idle finds the pause passed.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vxterm {

// When bytes arrived: the wall clock for the stamp a person reads, the
// steady clock for pauses.
struct TArrival {
  std::chrono::system_clock::time_point Wall;
  std::chrono::steady_clock::time_point Steady;
  static TArrival Now() { return {std::chrono::system_clock::now(), std::chrono::steady_clock::now()}; }
};

// Local time to the millisecond: "2026-12-09 14:03:07.123".
std::string Stamp(std::chrono::system_clock::time_point t);

// A piece of the view: the device's bytes, or text of the formatter's own
// ("\n" ends a line).
struct TViewPart {
  bool Own = false;
  std::string Text;
  bool operator==(const TViewPart&) const = default;
};

struct TRxText {
  std::vector<TViewPart> View;  // in order; neighbours of one kind joined
  std::string Log;
  void Device(std::string_view bytes) { Add(false, bytes); }
  void Own(std::string_view text) { Add(true, text); }

 private:
  void Add(bool own, std::string_view text);
};

class TRxFormatter {
 public:
  static constexpr int kRowBytes = 16;

  bool Timestamps() const { return FStamps; }
  bool Hex() const { return FHex; }
  // A change ends the open line or row first (into out).
  void SetTimestamps(bool on, TRxText& out);
  void SetHex(bool on, TRxText& out);
  void SetHexPause(std::chrono::milliseconds pause) { FPause = pause; }
  std::chrono::milliseconds HexPause() const { return FPause; }
  // Whether the view's hex rows carry the printable characters after the
  // hex bytes (the log's always do); off where the view is too narrow.
  void SetHexTextInView(bool on) { FHexTextInView = on; }
  // Width of a view row in hex mode with the current settings.
  int HexRowWidth(bool withText) const;

  // Appends what the bytes become to out.
  void Feed(std::string_view bytes, const TArrival& at, TRxText& out);
  // Ends a hex row whose pause has passed by now.
  void Idle(std::chrono::steady_clock::time_point now, TRxText& out);
  // When Idle has something to do, if ever.
  std::optional<std::chrono::steady_clock::time_point> IdleDue() const;
  // Ends the open line or row, so that what follows starts a line of its
  // own: at a disconnect, before the program's own messages.
  void Finish(TRxText& out);

 private:
  void FeedText(std::string_view bytes, const TArrival& at, TRxText& out);
  void FeedHex(std::string_view bytes, const TArrival& at, TRxText& out);
  void StartLine(const std::string& stamp, TRxText& out);
  void EndLine(const std::string& stamp, TRxText& out);
  void EndRow(TRxText& out);

  bool FStamps = false;
  bool FHex = false;
  bool FHexTextInView = true;
  std::chrono::milliseconds FPause{100};
  // text
  bool FLineOpen = false;  // bytes of the current line have come
  bool FAfterCR = false;   // the last byte was a CR: an LF now ends nothing
  bool FViewOpen = false;  // the view's last byte is not a line end
  // hex
  int FRowCount = 0;
  std::string FRowText;  // the printable form of the row's bytes
  std::chrono::steady_clock::time_point FRowLast;
};

}  // namespace vxterm

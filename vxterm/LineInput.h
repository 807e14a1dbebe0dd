// SPDX-License-Identifier: MIT
// The input line under the terminal: what a typed line sends (its text in
// the terminal's character set and the chosen ending, or the bytes its hex
// digits name), and the history Up and Down walk through.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

#include "Settings.h"

namespace vxterm {

struct TEncodedLine {
  std::string Bytes;
  QString Error;  // why nothing can be sent; empty when Bytes is good
  bool Ok() const { return Error.isEmpty(); }
};

// The text followed by the ending.  A character the charset cannot carry
// is refused.
TEncodedLine EncodeText(const QString& line, ELineEnding ending, ECharset charset);
// Hex input, "23 30 35 3F 0D": bytes of two hex digits (or one), separated
// by blanks or commas, each maybe with a 0x; a run of pairs ("2330") is as
// many bytes.  Exactly those bytes, no ending.
TEncodedLine EncodeHex(const QString& line);

class THistory {
 public:
  explicit THistory(int limit = kMaxHistory) : FLimit(limit) {}

  void SetEntries(const QStringList& entries);
  const QStringList& Entries() const { return FEntries; }

  // A sent line becomes the newest entry (not again when it repeats the
  // newest); browsing starts afresh.
  void Add(const QString& line);
  // Up: the entry before the one shown; the first Up keeps current, the line
  // being edited, for Down to come back to.  Nothing at the oldest.
  std::optional<QString> Older(const QString& current);
  // Down: the entry after the one shown, at last the line that was being
  // edited.  Nothing when that is shown already.
  std::optional<QString> Newer();

 private:
  int FLimit;
  QStringList FEntries;
  qsizetype FPos = 0;  // FEntries.size(): the line being edited
  QString FDraft;
};

}  // namespace vxterm

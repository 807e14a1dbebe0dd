// SPDX-License-Identifier: MIT
#include "LineInput.h"

#include <QRegularExpression>

#include "Texts.h"

namespace vxterm {

namespace {

int HexValue(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

}  // namespace

TEncodedLine EncodeText(const QString& line, ELineEnding ending, ECharset charset) {
  TEncodedLine r;
  if (charset == ECharset::Utf8) {
    r.Bytes = line.toStdString();
  } else {
    for (const QChar c : line) {
      if (c.unicode() > 0xFF) {
        r.Error = QTr("'%1' cannot be sent in Latin-1").arg(c);
        r.Bytes.clear();
        return r;
      }
      r.Bytes += static_cast<char>(c.unicode());
    }
  }
  r.Bytes += LineEndingBytes(ending);
  return r;
}

TEncodedLine EncodeHex(const QString& line) {
  TEncodedLine r;
  const QStringList tokens = line.split(QRegularExpression("[\\s,]+"), Qt::SkipEmptyParts);
  for (QString token : tokens) {
    const QString shown = token;
    if (token.startsWith("0x", Qt::CaseInsensitive)) token = token.mid(2);
    bool digits = !token.isEmpty();
    for (const QChar c : token) digits = digits && HexValue(c) >= 0;
    if (!digits) {
      r.Error = QTr("'%1' is not a hex byte").arg(shown);
    } else if (token.size() > 1 && token.size() % 2 != 0) {
      r.Error = QTr("'%1' has an odd number of hex digits").arg(shown);
    }
    if (!r.Ok()) {
      r.Bytes.clear();
      return r;
    }
    if (token.size() == 1) {
      r.Bytes += static_cast<char>(HexValue(token[0]));
      continue;
    }
    for (qsizetype i = 0; i < token.size(); i += 2)
      r.Bytes += static_cast<char>(HexValue(token[i]) * 16 + HexValue(token[i + 1]));
  }
  return r;
}

void THistory::SetEntries(const QStringList& entries) {
  FEntries = entries;
  while (FEntries.size() > FLimit) FEntries.removeFirst();
  FPos = FEntries.size();
  FDraft.clear();
}

void THistory::Add(const QString& line) {
  if (!line.isEmpty() && (FEntries.isEmpty() || FEntries.last() != line)) {
    FEntries << line;
    if (FEntries.size() > FLimit) FEntries.removeFirst();
  }
  FPos = FEntries.size();
  FDraft.clear();
}

std::optional<QString> THistory::Older(const QString& current) {
  if (FPos == 0) return std::nullopt;
  if (FPos == FEntries.size()) FDraft = current;
  return FEntries[--FPos];
}

std::optional<QString> THistory::Newer() {
  if (FPos >= FEntries.size()) return std::nullopt;
  ++FPos;
  return FPos == FEntries.size() ? FDraft : FEntries[FPos];
}

}  // namespace vxterm

// SPDX-License-Identifier: MIT
#include "CtlOutput.h"

#include <algorithm>
#include <cstdio>

namespace vxctl {

namespace {

std::string Pad(const std::string& s, size_t width) {
  return s + std::string(width > s.size() ? width - s.size() : 0, ' ');
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (const char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + '"';
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", b);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + '"';
}

// Columns as wide as their longest entry, two blanks apart; the last one unpadded.
std::string Columns(const std::vector<std::string>& cells, const std::vector<size_t>& widths) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) line += i + 1 < cells.size() ? Pad(cells[i], widths[i] + 2) : cells[i];
  return line;
}

}  // namespace

void TWriter::Line(const std::string& line) {
  std::fputs(line.c_str(), FOut);
  std::fputc('\n', FOut);
}

std::string TWriter::Csv(const TRecord& record, bool header) const {
  std::string line;
  for (size_t i = 0; i < record.size(); ++i)
    line += (i ? "," : "") + CsvField(header ? record[i].Name : record[i].Value);
  return line;
}

std::string TWriter::Json(const TRecord& record) const {
  std::string line = "{";
  for (size_t i = 0; i < record.size(); ++i) {
    const TField& f = record[i];
    line += (i ? "," : "") + JsonString(f.Name) + ":" + (f.Number ? f.Value : JsonString(f.Value));
  }
  return line + "}";
}

void TWriter::Record(const TRecord& record) {
  switch (FFormat) {
    case EFormat::Text: {
      size_t width = 0;
      for (const TField& f : record) width = std::max(width, f.Name.size());
      for (const TField& f : record) Line(Pad(f.Name, width + 2) + f.Text);
      break;
    }
    case EFormat::Csv:
      Line(Csv(record, true));
      Line(Csv(record, false));
      break;
    case EFormat::Json:
      Line(Json(record));
      break;
  }
}

void TWriter::Table(const std::vector<TRecord>& records) {
  if (records.empty()) return;
  switch (FFormat) {
    case EFormat::Text: {
      std::vector<size_t> widths(records[0].size(), 0);
      for (const TRecord& r : records)
        for (size_t i = 0; i < r.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], r[i].Text.size());
      for (const TRecord& r : records) {
        std::vector<std::string> cells;
        for (const TField& f : r) cells.push_back(f.Text);
        while (!cells.empty() && cells.back().empty()) cells.pop_back();
        Line(Columns(cells, widths));
      }
      break;
    }
    case EFormat::Csv:
      Line(Csv(records[0], true));
      for (const TRecord& r : records) Line(Csv(r, false));
      break;
    case EFormat::Json:
      for (const TRecord& r : records) Line(Json(r));
      break;
  }
}

void TWriter::Row(const TRecord& record) {
  switch (FFormat) {
    case EFormat::Text: {
      std::vector<std::string> cells;
      if (FWidths.empty()) {
        for (const TField& f : record) {
          FWidths.push_back(std::max(f.Name.size(), f.Text.size()));
          cells.push_back(f.Name);
        }
        Line(Columns(cells, FWidths));
        cells.clear();
      }
      for (const TField& f : record) cells.push_back(f.Text);
      Line(Columns(cells, FWidths));
      break;
    }
    case EFormat::Csv:
      if (FWidths.empty()) {
        Line(Csv(record, true));
        FWidths.assign(record.size(), 0);
      }
      Line(Csv(record, false));
      break;
    case EFormat::Json:
      Line(Json(record));
      break;
  }
  // A pipe into a log file must lose nothing when the program is stopped.
  std::fflush(FOut);
}

}  // namespace vxctl

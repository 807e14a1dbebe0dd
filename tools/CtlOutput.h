// SPDX-License-Identifier: MIT
// vxctl's results on stdout: aligned text for people, CSV (a header line,
// then one row per reading) or JSON (one object per reading, one per line).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "CtlOptions.h"

namespace vxctl {

struct TField {
  std::string Name;
  std::string Text;    // for people, with its unit: "500 ms"
  std::string Value;   // for scripts: "50"
  bool Number = true;  // JSON: a number, else a string
};
using TRecord = std::vector<TField>;

class TWriter {
 public:
  TWriter(EFormat format, std::FILE* out) : FFormat(format), FOut(out) {}

  // One reading: "name  text" lines, or a header and a row, or one object.
  void Record(const TRecord& record);
  // Several records of the same fields: aligned columns without a header,
  // or a header and rows, or one object each.
  void Table(const std::vector<TRecord>& records);
  // One reading of a series, written and flushed at once; the first brings
  // the header (text and CSV).
  void Row(const TRecord& record);

 private:
  void Line(const std::string& line);
  std::string Csv(const TRecord& record, bool header) const;
  std::string Json(const TRecord& record) const;

  EFormat FFormat;
  std::FILE* FOut;
  std::vector<size_t> FWidths;  // of the series' text columns, once its header is out
};

}  // namespace vxctl

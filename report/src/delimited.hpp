// Rows of fields as CSV (RFC 4180) or TSV, shared by the report's and the comparison's tables.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "control_escapes.hpp"

namespace zel_report {

enum class Delimited {
  Csv,  // fields holding a comma, quote, CR or LF quoted, quotes doubled; lines end in CR LF
  Tsv,  // fields separated by TAB, never quoted; lines end in LF
};

// A name as written in a field: control characters (TAB, CR and LF among them) escaped as \t, \r,
// \n or \xNN and a backslash written \\, so that no field holds a separator or a line end of TSV
// and undoing the escapes gives the exact name.
inline std::string escaped_name(std::string_view text) {
  return escape_controls(text, Backslash::Doubled);
}

inline std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

// One row. Names must already be escaped (escaped_name), so that a TSV field holds no TAB or LF.
inline std::string delimited_row(const std::vector<std::string>& fields, Delimited dialect) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (dialect == Delimited::Csv) {
      if (i > 0) line += ',';
      line += csv_field(fields[i]);
    } else {
      if (i > 0) line += '\t';
      line += fields[i];
    }
  }
  return line + (dialect == Delimited::Csv ? "\r\n" : "\n");
}

}  // namespace zel_report

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "report_output.hpp"

#include "number_text.hpp"

namespace zel_cli {
namespace {

// A name as written in a field: control characters would act on a terminal that shows the CSV,
// so they are escaped as the table shows them (\n, \t, \r, \xNN for the other bytes below 0x20
// and 0x7f), and a backslash is written \\ so that every name can be recovered exactly.
std::string escaped(std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      shown += "\\\\";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      shown += "\\x";
      shown += hex[byte >> 4];
      shown += hex[byte & 0xf];
    } else {
      shown += c;
    }
  }
  return shown;
}

// One field, quoted when it contains a comma, a quote, CR or LF, with its quotes doubled.
std::string field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    return std::string(text);
  }
  std::string quoted = "\"";
  for (const char c : text) {
    quoted += c;
    if (c == '"') {
      quoted += '"';
    }
  }
  return quoted + "\"";
}

std::string row(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    line += (i == 0 ? "" : ",") + field(fields[i]);
  }
  return line + "\r\n";
}

std::string dimensions(const std::map<std::string, std::string>& pairs) {
  std::string text;
  const char* separator = "";
  for (const auto& [key, value] : pairs) {
    text += separator + escaped(key) + "=" + escaped(value);
    separator = ";";
  }
  return text;
}

}  // namespace

std::string format_csv(const zel_profile::QueryReport& report) {
  std::string csv =
      row({"name", "dimensions", "sample_count", "tile_count", "phase_count", "phase_cycles",
           "phase_ms", "work_cycles", "average_active_tiles", "mean_cycles", "p50_cycles",
           "p95_cycles", "maximum_cycles", "first_offset", "last_offset"});
  for (const auto& group : report.groups) {
    csv += row({escaped(group.name), dimensions(group.dimensions), decimal(group.sample_count),
                decimal(group.tile_count), decimal(group.phase_count), decimal(group.phase_cycles),
                shortest(group.phase_ms), decimal(group.work_cycles),
                shortest(group.average_active_tiles), shortest(group.mean_cycles),
                decimal(group.p50_cycles), decimal(group.p95_cycles), decimal(group.maximum_cycles),
                decimal(group.first_offset), decimal(group.last_offset)});
  }
  return csv;
}

}  // namespace zel_cli

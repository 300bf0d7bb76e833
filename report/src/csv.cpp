// The groups as CSV, one column per field of the report's field description.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <zel_report/fields.hpp>
#include <zel_report/formats.hpp>

#include "control_escapes.hpp"
#include "number_text.hpp"

namespace zel_report {
namespace {

// A name as written in a field: control characters would act on a terminal that shows the CSV,
// so they are escaped as the table shows them (\n, \t, \r, \xNN for the other bytes below 0x20
// and 0x7f), and a backslash is written \\ so that every name can be recovered exactly.
std::string escaped(std::string_view text) { return escape_controls(text, Backslash::Doubled); }

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

// A group field as CSV text: numbers as in JSON, names escaped, dimensions as key=value pairs.
std::string cell(const FieldValue& value) {
  if (const auto* number = std::get_if<std::uint64_t>(&value)) return decimal(*number);
  if (const auto* number = std::get_if<double>(&value)) return shortest(*number);
  if (const auto* text = std::get_if<std::string_view>(&value)) return escaped(*text);
  if (const auto* pairs = std::get_if<const std::map<std::string, std::string>*>(&value)) {
    return dimensions(**pairs);
  }
  return {};  // groups hold no absent field and no other list
}

}  // namespace

std::string format_csv(const zel_profile::QueryReport& report) {
  const auto fields = group_fields();
  std::vector<std::string> cells;
  for (const auto& field : fields) cells.emplace_back(field.name);
  std::string csv = row(cells);
  for (const auto& group : report.groups) {
    cells.clear();
    for (const auto& field : fields) cells.push_back(cell(field.value(group)));
    csv += row(cells);
  }
  return csv;
}

}  // namespace zel_report

// The groups, or the reported samples, as CSV or TSV, one column per field of the report's field
// description.
#include <cstddef>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <zel_report/fields.hpp>
#include <zel_report/formats.hpp>

#include "delimited.hpp"
#include "number_text.hpp"

namespace zel_report {
namespace {

std::string dimensions(const std::map<std::string, std::string>& pairs) {
  std::string text;
  const char* separator = "";
  for (const auto& [key, value] : pairs) {
    text += separator;
    text += escaped_name(key);
    text += '=';
    text += escaped_name(value);
    separator = ";";
  }
  return text;
}

std::string metadata(const std::vector<zel_profile::MetadataEntry>& entries) {
  std::string text;
  const char* separator = "";
  for (const auto& entry : entries) {
    text += separator;
    text += escaped_name(entry.name);
    text += '=';
    text += escaped_name(entry.value);
    separator = ";";
  }
  return text;
}

// A field as text: numbers as in JSON, names escaped, dimensions and metadata as key=value pairs.
std::string cell(const FieldValue& value) {
  if (const auto* number = std::get_if<std::uint64_t>(&value)) return decimal(*number);
  if (const auto* number = std::get_if<double>(&value)) return shortest(*number);
  if (const auto* text = std::get_if<std::string_view>(&value)) return escaped_name(*text);
  if (const auto* pairs = std::get_if<const std::map<std::string, std::string>*>(&value)) {
    return dimensions(**pairs);
  }
  if (const auto* entries = std::get_if<const std::vector<zel_profile::MetadataEntry>*>(&value)) {
    return metadata(**entries);
  }
  return {};  // groups and samples hold no absent field and no other list
}

template <typename Record>
std::string table(std::span<const Field<Record>> fields, const std::vector<Record>& records,
                  Delimited dialect) {
  std::vector<std::string> cells;
  for (const auto& field : fields) cells.emplace_back(field.name);
  std::string text = delimited_row(cells, dialect);
  for (const auto& record : records) {
    cells.clear();
    for (const auto& field : fields) cells.push_back(cell(field.value(record)));
    text += delimited_row(cells, dialect);
  }
  return text;
}

}  // namespace

std::string format_csv(const zel_profile::QueryReport& report) {
  return table(group_fields(), report.groups, Delimited::Csv);
}

std::string format_tsv(const zel_profile::QueryReport& report) {
  return table(group_fields(), report.groups, Delimited::Tsv);
}

std::string format_samples_csv(const zel_profile::QueryReport& report) {
  return table(sample_fields(), report.samples, Delimited::Csv);
}

std::string format_samples_tsv(const zel_profile::QueryReport& report) {
  return table(sample_fields(), report.samples, Delimited::Tsv);
}

}  // namespace zel_report

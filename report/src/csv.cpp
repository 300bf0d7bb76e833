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

// Appends key=value, both escaped, after a ";" unless it is the first pair.
void add_pair(std::string& text, std::string_view key, std::string_view value) {
  if (!text.empty()) text += ';';
  text += escaped_name(key) + '=' + escaped_name(value);
}

// A field as text: numbers as in JSON, names escaped, dimensions and metadata as key=value pairs.
std::string cell(const FieldValue& value) {
  if (const auto* number = std::get_if<std::uint64_t>(&value)) return decimal(*number);
  if (const auto* number = std::get_if<double>(&value)) return shortest(*number);
  if (const auto* text = std::get_if<std::string_view>(&value)) return escaped_name(*text);
  std::string text;
  if (const auto* pairs = std::get_if<const std::map<std::string, std::string>*>(&value)) {
    for (const auto& [key, entry] : **pairs) add_pair(text, key, entry);
  }
  if (const auto* entries = std::get_if<const std::vector<zel_profile::MetadataEntry>*>(&value)) {
    for (const auto& entry : **entries) add_pair(text, entry.name, entry.value);
  }
  return text;  // groups and samples hold no absent field and no other list
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

// The samples, one row each; the cells that read the step alone are made once per distinct step.
std::string sample_table(const zel_profile::ReportedSamples& samples, Delimited dialect) {
  const auto fields = sample_fields();
  std::vector<std::string> cells;
  for (const auto& field : fields) cells.emplace_back(field.name);
  std::string text = delimited_row(cells, dialect);
  std::vector<std::vector<std::string>> step_cells(samples.steps().size());
  for (const zel_profile::ReportedSample& sample : samples.samples()) {
    const SampleView view{sample, samples.step_of(sample)};
    std::vector<std::string>& step = step_cells[sample.step];
    if (step.empty()) {
      for (std::size_t f = first_step_field; f < fields.size(); ++f) {
        step.push_back(cell(fields[f].value(view)));
      }
    }
    cells.clear();
    for (std::size_t f = 0; f < first_step_field; ++f) cells.push_back(cell(fields[f].value(view)));
    cells.insert(cells.end(), step.begin(), step.end());
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
  return sample_table(report.samples, Delimited::Csv);
}

std::string format_samples_tsv(const zel_profile::QueryReport& report) {
  return sample_table(report.samples, Delimited::Tsv);
}

}  // namespace zel_report

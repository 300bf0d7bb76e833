// The report as JSON text, written field by field from the report's field description.
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>
#include <zel_report/fields.hpp>
#include <zel_report/formats.hpp>

#include "json_text.hpp"
#include "number_text.hpp"

namespace zel_report {
namespace {

template <typename Record>
void write_record(JsonText& json, const Record& record, std::span<const Field<Record>> fields);
void write_samples(JsonText& json, const zel_profile::ReportedSamples& samples);

// A field's value: numbers as they are, texts escaped, lists element by element.
void write_value(JsonText& json, const FieldValue& value) {
  std::visit(
      [&json](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Absent>) {
          json.null();
        } else if constexpr (std::is_same_v<T, std::uint64_t>) {
          json.integer(v);
        } else if constexpr (std::is_same_v<T, double>) {
          json.number(v);
        } else if constexpr (std::is_same_v<T, std::string_view>) {
          json.string(v);
        } else if constexpr (std::is_same_v<T, const std::map<std::string, std::string>*>) {
          json.begin_object();
          for (const auto& [key, text] : *v) {
            json.key(key).string(text);
          }
          json.end_object();
        } else if constexpr (std::is_same_v<T, const std::vector<zel_profile::MetadataEntry>*>) {
          json.begin_array();
          for (const auto& entry : *v) write_record(json, entry, metadata_entry_fields());
          json.end_array();
        } else if constexpr (std::is_same_v<T, const std::vector<zel_profile::GroupSummary>*>) {
          json.begin_array();
          for (const auto& group : *v) write_record(json, group, group_fields());
          json.end_array();
        } else {
          write_samples(json, *v);
        }
      },
      value);
}

// A record as an object of its fields, in their order.
template <typename Record>
void write_record(JsonText& json, const Record& record, std::span<const Field<Record>> fields) {
  json.begin_object();
  for (const auto& field : fields) {
    json.key(field.name);
    write_value(json, field.value(record));
  }
  json.end_object();
}

// The samples as an array of records. The fields that read the step alone are written once per
// distinct step, where the first sample of that step meets them, and copied for the others: every
// sample is an object at the same depth, so the text after its own numbers is the same.
void write_samples(JsonText& json, const zel_profile::ReportedSamples& samples) {
  const auto fields = sample_fields();
  std::vector<std::optional<JsonText>> step_texts(samples.steps().size());
  json.begin_array();
  for (const zel_profile::ReportedSample& sample : samples.samples()) {
    const SampleView view{sample, samples.step_of(sample)};
    json.begin_object();
    for (std::size_t f = 0; f < first_step_field; ++f) {
      json.key(fields[f].name);
      write_value(json, fields[f].value(view));
    }
    std::optional<JsonText>& step_text = step_texts[sample.step];
    if (!step_text) {
      JsonText rest = json.continuation();
      for (std::size_t f = first_step_field; f < fields.size(); ++f) {
        rest.key(fields[f].name);
        write_value(rest, fields[f].value(view));
      }
      rest.end_object();
      step_text = std::move(rest);
    }
    json.append(*step_text);
  }
  json.end_array();
}

}  // namespace

std::string format_json(const zel_profile::QueryReport& report) {
  JsonText json;
  write_record(json, report, report_fields());
  return std::move(json).take();
}

void write_json(const zel_profile::QueryReport& report, const TextSink& sink) {
  JsonText json(sink);
  write_record(json, report, report_fields());
  std::move(json).take();
}

std::string format_samples_json(const zel_profile::ReportedSamples& samples) {
  JsonText json;
  json.begin_object();
  json.key("samples");
  write_value(json, &samples);
  json.end_object();
  return std::move(json).take();
}

}  // namespace zel_report

// The report as JSON text, written field by field from the report's field description.
#include <cmath>
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
          json.begin_array();
          for (const auto& sample : *v) write_record(json, sample, sample_fields());
          json.end_array();
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

}  // namespace

std::string format_json(const zel_profile::QueryReport& report) {
  JsonText json;
  write_record(json, report, report_fields());
  return std::move(json).take();
}

std::string format_samples_json(const std::vector<zel_profile::SampleRecord>& samples) {
  JsonText json;
  json.begin_object();
  json.key("samples");
  write_value(json, &samples);
  json.end_object();
  return std::move(json).take();
}

}  // namespace zel_report

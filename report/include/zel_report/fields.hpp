// The report's fields, described once: their names, in declaration order, and how to read each
// from a record. The JSON, CSV and table writers, and any other front end, go through this
// description, so that a field is named and ordered in one place.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <zel_profile/model.hpp>

namespace zel_report {

// A reported sample as its fields are read: its own numbers and its step.
struct SampleView {
  const zel_profile::ReportedSample& sample;
  const zel_profile::SampleStep& step;
};

// An absent optional field.
struct Absent {
  bool operator==(const Absent&) const = default;
};

// A field's value as the writers see it: a number, a text, or one of the report's nested lists.
// Pointers and views refer into the record the value was read from.
using FieldValue = std::variant<
    Absent, std::uint64_t, double, std::string_view, const std::map<std::string, std::string>*,
    const std::vector<zel_profile::MetadataEntry>*, const std::vector<zel_profile::GroupSummary>*,
    const zel_profile::ReportedSamples*>;

template <typename Record>
struct Field {
  std::string_view name;  // the C++ field name
  FieldValue (*value)(const Record&);
};

// Every field of each record, in declaration order.
std::span<const Field<zel_profile::QueryReport>> report_fields();
std::span<const Field<zel_profile::GroupSummary>> group_fields();
std::span<const Field<SampleView>> sample_fields();
// The sample fields from this one on read the sample's step alone (phase, epoch, kind, names and
// metadata), so that a writer may write them once per distinct step.
inline constexpr std::size_t first_step_field = 3;
std::span<const Field<zel_profile::MetadataEntry>> metadata_entry_fields();

// The value of the field called `name`; throws std::out_of_range for a name that is not one.
template <typename Record>
FieldValue field_value(std::span<const Field<Record>> fields, std::string_view name,
                       const Record& record) {
  for (const auto& field : fields) {
    if (field.name == name) return field.value(record);
  }
  throw std::out_of_range("no report field " + std::string(name));
}

}  // namespace zel_report

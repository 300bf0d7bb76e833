// The report's groups and samples as columns for pandas, built here in one pass per column:
// numbers as NumPy arrays of their C++ width, repeated strings as categorical codes with their
// categories, and each group dimension and sample metadata name as a column of its own.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <zel_package/keyed_hash.hpp>
#include <zel_profile/model.hpp>

#include "bindings.hpp"

namespace py = pybind11;

namespace zel_python {
namespace {

using zel_profile::GroupSummary;
using zel_profile::QueryReport;
using zel_profile::ReportedSamples;
using zel_profile::SampleStep;

// A column of numbers, get(i) for row i.
template <typename Number, typename Get>
py::array_t<Number> numbers(std::size_t rows, Get get) {
  py::array_t<Number> column(static_cast<py::ssize_t>(rows));
  Number* data = column.mutable_data();
  for (std::size_t i = 0; i < rows; ++i) data[i] = get(i);
  return column;
}

// The codes of a categorical column: each distinct text its own, in order of first appearance;
// -1 for a missing value.
class Categories {
 public:
  std::int32_t code(std::optional<std::string_view> text) {
    if (!text) return -1;
    const auto [place, added] = codes_.try_emplace(*text, static_cast<std::int32_t>(codes_.size()));
    if (added) names_.append(py::str(text->data(), text->size()));
    return place->second;
  }

  // The column ("category", codes, categories).
  py::tuple column(const py::array_t<std::int32_t>& codes) const {
    return py::make_tuple("category", codes, names_);
  }

 private:
  // The texts are names from a file, so the table's hash is keyed.
  std::unordered_map<std::string_view, std::int32_t, zel_package::KeyedTextHash> codes_;
  py::list names_;
};

// A categorical column: get(i) is row i's text, or nothing for a missing value.
template <typename Get>
py::tuple categorical(std::size_t rows, Get get) {
  Categories categories;
  return categories.column(
      numbers<std::int32_t>(rows, [&](std::size_t i) { return categories.code(get(i)); }));
}

// "physicalTile" -> "physical_tile".
std::string snake_case(std::string_view name) {
  std::string snake;
  for (const char c : name) {
    if (c >= 'A' && c <= 'Z') {
      snake += '_';
      snake += static_cast<char>(c - 'A' + 'a');
    } else {
      snake += c;
    }
  }
  return snake;
}

// Dimensions that hold numbers.
bool numeric_dimension(std::string_view key) {
  return key == "phase" || key == "epoch" || key == "physicalTile";
}

std::uint32_t as_number(const std::string& text) {
  std::uint32_t value = 0;
  for (const char c : text) value = value * 10 + static_cast<std::uint32_t>(c - '0');
  return value;
}

// Columns in order: name, the dimensions (snake_case, in the order of their keys), then the
// figures of GroupSummary in declaration order.
py::dict group_columns(const QueryReport& report) {
  const auto& groups = report.groups;
  const std::size_t rows = groups.size();
  py::dict columns;
  py::list names;
  for (const auto& group : groups) names.append(py::str(group.name));
  columns["name"] = names;
  std::map<std::string, bool> keys;
  for (const auto& group : groups) {
    for (const auto& [key, value] : group.dimensions) keys[key] = true;
  }
  for (const auto& entry : keys) {
    const std::string& key = entry.first;
    const auto find = [&groups, &key](std::size_t i) -> const std::string* {
      const auto place = groups[i].dimensions.find(key);
      return place == groups[i].dimensions.end() ? nullptr : &place->second;
    };
    if (numeric_dimension(key)) {
      columns[py::str(snake_case(key))] = numbers<std::uint32_t>(rows, [&](std::size_t i) {
        const std::string* value = find(i);
        return value ? as_number(*value) : 0u;
      });
    } else {
      columns[py::str(snake_case(key))] =
          categorical(rows, [&](std::size_t i) -> std::optional<std::string_view> {
            const std::string* value = find(i);
            if (!value) return std::nullopt;
            return std::string_view(*value);
          });
    }
  }
#define ZEL_GROUP_COLUMN(field)                             \
  columns[#field] = numbers<decltype(GroupSummary::field)>( \
      rows, [&groups](std::size_t i) { return groups[i].field; })
  ZEL_GROUP_COLUMN(sample_count);
  ZEL_GROUP_COLUMN(tile_count);
  ZEL_GROUP_COLUMN(phase_count);
  ZEL_GROUP_COLUMN(phase_cycles);
  ZEL_GROUP_COLUMN(phase_ms);
  ZEL_GROUP_COLUMN(work_cycles);
  ZEL_GROUP_COLUMN(average_active_tiles);
  ZEL_GROUP_COLUMN(mean_cycles);
  ZEL_GROUP_COLUMN(p50_cycles);
  ZEL_GROUP_COLUMN(p95_cycles);
  ZEL_GROUP_COLUMN(maximum_cycles);
  ZEL_GROUP_COLUMN(first_offset);
  ZEL_GROUP_COLUMN(last_offset);
#undef ZEL_GROUP_COLUMN
  return columns;
}

// A categorical column of the samples read from their steps: text_of(step) is a step's text, or
// nothing for a missing value. Each step's code is found once, where the first of its samples is;
// categories are in order of first appearance among the samples, as row by row.
template <typename TextOf>
py::tuple step_categorical(const ReportedSamples& list, TextOf text_of) {
  constexpr std::int32_t unknown = -2;
  const auto samples = list.samples();
  const auto steps = list.steps();
  std::vector<std::int32_t> step_codes(steps.size(), unknown);
  Categories categories;
  return categories.column(numbers<std::int32_t>(samples.size(), [&](std::size_t i) {
    std::int32_t& code = step_codes[samples[i].step];
    if (code == unknown) code = categories.code(text_of(steps[samples[i].step]));
    return code;
  }));
}

// Columns in order: the fields of SampleRecord in declaration order but metadata, then one
// categorical column "metadata_NAME" per metadata name, in byte order of the names; a sample
// whose step names one twice shows the first value. Built from the compact samples and their
// steps: no record is made.
py::dict sample_columns(const QueryReport& report) {
  const ReportedSamples& list = report.samples;
  const auto samples = list.samples();
  const auto steps = list.steps();
  const std::size_t rows = samples.size();
  py::dict columns;
  columns["physical_tile"] =
      numbers<std::uint32_t>(rows, [&samples](std::size_t i) { return samples[i].physical_tile; });
  columns["offset"] =
      numbers<std::uint64_t>(rows, [&samples](std::size_t i) { return samples[i].offset; });
  columns["duration"] =
      numbers<std::uint32_t>(rows, [&samples](std::size_t i) { return samples[i].duration; });
  columns["phase"] =
      numbers<std::uint32_t>(rows, [&](std::size_t i) { return steps[samples[i].step].phase; });
  columns["epoch"] =
      numbers<std::uint32_t>(rows, [&](std::size_t i) { return steps[samples[i].step].epoch; });
  columns["kind"] = step_categorical(
      list, [](const SampleStep& step) { return std::optional<std::string_view>(step.kind); });
  columns["operation"] = step_categorical(
      list, [](const SampleStep& step) { return std::optional<std::string_view>(step.operation); });
  columns["kernel"] = step_categorical(
      list, [](const SampleStep& step) { return std::optional<std::string_view>(step.kernel); });
  // The names of the steps the samples use (a table may hold others).
  std::vector<bool> used(steps.size(), false);
  for (const auto& sample : samples) used[sample.step] = true;
  std::map<std::string_view, bool> names;
  for (std::size_t s = 0; s < steps.size(); ++s) {
    if (!used[s]) continue;
    for (const auto& entry : steps[s].metadata) names[entry.name] = true;
  }
  for (const auto& [name, present] : names) {
    columns[py::str("metadata_" + std::string(name))] =
        step_categorical(list, [name = name](const SampleStep& step) {
          for (const auto& entry : step.metadata) {
            if (entry.name == name) return std::optional<std::string_view>(entry.value);
          }
          return std::optional<std::string_view>();
        });
  }
  return columns;
}

}  // namespace

void bind_frames(py::module_& module) {
  module.def("group_columns", &group_columns, py::arg("report"));
  module.def("sample_columns", &sample_columns, py::arg("report"));
}

}  // namespace zel_python

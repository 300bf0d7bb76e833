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

#include <zel_profile/model.hpp>

#include "bindings.hpp"

namespace py = pybind11;

namespace zel_python {
namespace {

using zel_profile::GroupSummary;
using zel_profile::QueryReport;
using zel_profile::SampleRecord;

// A column of numbers, get(i) for row i.
template <typename Number, typename Get>
py::array_t<Number> numbers(std::size_t rows, Get get) {
  py::array_t<Number> column(static_cast<py::ssize_t>(rows));
  Number* data = column.mutable_data();
  for (std::size_t i = 0; i < rows; ++i) data[i] = get(i);
  return column;
}

// A categorical column, ("category", codes, categories): get(i) is row i's text, or nothing for
// a missing value (code -1). Categories are in order of first appearance.
template <typename Get>
py::tuple categorical(std::size_t rows, Get get) {
  std::unordered_map<std::string_view, std::int32_t> codes;
  std::vector<std::string_view> categories;
  py::array_t<std::int32_t> column(static_cast<py::ssize_t>(rows));
  std::int32_t* data = column.mutable_data();
  for (std::size_t i = 0; i < rows; ++i) {
    const std::optional<std::string_view> text = get(i);
    if (!text) {
      data[i] = -1;
      continue;
    }
    const auto [place, added] = codes.try_emplace(*text, static_cast<std::int32_t>(codes.size()));
    if (added) categories.push_back(*text);
    data[i] = place->second;
  }
  py::list names;
  for (const auto text : categories) names.append(py::str(text.data(), text.size()));
  return py::make_tuple("category", column, names);
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
  for (const auto& [key, present] : keys) {
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

// Columns in order: the fields of SampleRecord in declaration order but metadata, then one
// categorical column "metadata_NAME" per metadata name, in byte order of the names; a sample
// whose step names one twice shows the first value.
py::dict sample_columns(const QueryReport& report) {
  const auto& samples = report.samples;
  const std::size_t rows = samples.size();
  py::dict columns;
#define ZEL_SAMPLE_COLUMN(field)                            \
  columns[#field] = numbers<decltype(SampleRecord::field)>( \
      rows, [&samples](std::size_t i) { return samples[i].field; })
  ZEL_SAMPLE_COLUMN(physical_tile);
  ZEL_SAMPLE_COLUMN(offset);
  ZEL_SAMPLE_COLUMN(duration);
  ZEL_SAMPLE_COLUMN(phase);
  ZEL_SAMPLE_COLUMN(epoch);
#undef ZEL_SAMPLE_COLUMN
  columns["kind"] = categorical(
      rows, [&samples](std::size_t i) { return std::optional<std::string_view>(samples[i].kind); });
  columns["operation"] = categorical(rows, [&samples](std::size_t i) {
    return std::optional<std::string_view>(samples[i].operation);
  });
  columns["kernel"] = categorical(rows, [&samples](std::size_t i) {
    return std::optional<std::string_view>(samples[i].kernel);
  });
  std::map<std::string_view, bool> names;
  for (const auto& sample : samples) {
    for (const auto& entry : sample.metadata) names[entry.name] = true;
  }
  for (const auto& [name, present] : names) {
    columns[py::str("metadata_" + std::string(name))] = categorical(
        rows, [&samples, name = name](std::size_t i) -> std::optional<std::string_view> {
          for (const auto& entry : samples[i].metadata) {
            if (entry.name == name) return std::string_view(entry.value);
          }
          return std::nullopt;
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

// The explorer's views for Python, as columns for pandas: the timeline and the load balance, each
// the engine's own function called as the explorer's /api/timeline and /api/load-balance call it,
// so that the figures are the same.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/load_balance.hpp>
#include <zel_profile/query.hpp>
#include <zel_profile/timeline.hpp>
#include <zel_report/timeline_formats.hpp>

#include "bindings.hpp"
#include "query_words.hpp"

namespace py = pybind11;

namespace zel_python {
namespace {

using Profile = std::shared_ptr<const zel_package::PackedProfile>;

template <typename Number>
py::array_t<Number> column_of(const std::vector<Number>& values) {
  py::array_t<Number> column(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), column.mutable_data());
  return column;
}

std::vector<const zel_package::PackedProfile*> checked(const std::vector<Profile>& profiles) {
  if (profiles.empty()) throw std::invalid_argument("no profiles to query");
  std::vector<const zel_package::PackedProfile*> list;
  for (const Profile& profile : profiles) {
    if (!profile) throw std::invalid_argument("a profile is None");
    list.push_back(profile.get());
  }
  return list;
}

// The timeline over [from, to) of `words`' window (the whole span without one) as the explorer
// draws it: aligned bins, read through each profile's index, coloured by kind or by the query's
// first groups. The window is the range drawn, not a filter, as the explorer's from and to; a
// timeline counts each sample's cycles inside it in any case.
py::dict timeline_columns(const std::vector<Profile>& profiles, const py::dict& words,
                          std::size_t bins, std::size_t rows, const std::string& color_by) {
  const auto pointers = checked(profiles);
  if (color_by != "kind" && color_by != "group") {
    throw std::invalid_argument("color_by: expected one of kind|group, got \"" + color_by + "\"");
  }
  if (bins == 0 || rows == 0) throw std::invalid_argument("bins and rows: at least 1");
  auto [query, parallelism] = to_query(words);
  zel_profile::TimelineShape shape{
      .rows = rows,
      .bins = bins,
      .color_by =
          color_by == "kind" ? zel_profile::TimelineColor::Kind : zel_profile::TimelineColor::Group,
      .groups = {},
      .from = query.from_offset.value_or(0),
      .to = query.to_offset.value_or(UINT64_MAX),
      .aligned = true,
  };
  query.from_offset.reset();
  query.to_offset.reset();
  query.clip = false;
  zel_profile::Timeline grid;
  {
    py::gil_scoped_release unlocked;
    // The engine takes the profiles side by side; Python holds them apart, so they are copied
    // only when several are drawn together.
    std::vector<zel_package::PackedProfile> together;
    std::span<const zel_package::PackedProfile> list(pointers.front(), 1);
    if (pointers.size() > 1) {
      for (const auto* profile : pointers) together.push_back(*profile);
      list = together;
    }
    if (shape.color_by == zel_profile::TimelineColor::Group) {
      auto ordered = query;
      ordered.sample_limit = 0;
      shape.groups = zel_profile::coloured_groups(zel_profile::query(list, ordered, parallelism));
    }
    std::vector<zel_profile::TimelineIndex> indexes;
    for (const auto& profile : list)
      indexes.push_back(zel_profile::index_timeline(profile, parallelism));
    grid = zel_profile::timeline(list, query, shape, std::span(indexes), parallelism);
  }
  const std::size_t categories = grid.categories.size();
  const std::size_t cells = grid.rows.size() * grid.bins;
  std::vector<std::uint32_t> row(cells);
  std::vector<std::uint32_t> chip(cells);
  std::vector<std::uint64_t> first(cells);
  std::vector<std::uint64_t> end(cells);
  std::vector<std::vector<std::uint64_t>> cycles(categories, std::vector<std::uint64_t>(cells));
  py::list labels;
  py::list tiles;
  for (std::size_t r = 0; r < grid.rows.size(); ++r) {
    const auto& line = grid.rows[r];
    labels.append(zel_report::timeline_row_label(grid, line));
    tiles.append(py::cast(line.tiles));
    for (std::size_t b = 0; b < grid.bins; ++b) {
      const std::size_t at = r * grid.bins + b;
      row[at] = static_cast<std::uint32_t>(r);
      chip[at] = line.chip;
      first[at] = grid.first_cycle + b * grid.bin_cycles;
      end[at] = std::min(first[at] + grid.bin_cycles, grid.end_cycle);
      for (std::size_t c = 0; c < categories; ++c) cycles[c][at] = line.cycles[b * categories + c];
    }
  }
  py::dict columns;
  columns["row"] = column_of(row);
  columns["profile"] = column_of(chip);
  columns["first_cycle"] = column_of(first);
  columns["end_cycle"] = column_of(end);
  for (std::size_t c = 0; c < categories; ++c)
    columns[py::str(grid.categories[c])] = column_of(cycles[c]);
  py::dict about;
  about["from"] = grid.first_cycle;
  about["to"] = grid.end_cycle;
  about["bins"] = grid.bins;
  about["bin_cycles"] = grid.bin_cycles;
  about["categories"] = grid.categories;
  about["labels"] = labels;
  about["tiles"] = tiles;
  return py::dict(py::arg("columns") = columns, py::arg("about") = about);
}

// Each profile's load balance per (phase, epoch), in the engine's order, as the explorer's
// /api/load-balance lists them: the query's filters, window and clip apply.
py::dict load_balance_columns(const std::vector<Profile>& profiles, const py::dict& words) {
  const auto pointers = checked(profiles);
  const auto [query, parallelism] = to_query(words);
  std::vector<std::pair<std::uint32_t, zel_profile::PhaseBalance>> rows;
  {
    py::gil_scoped_release unlocked;
    for (std::uint32_t p = 0; p < pointers.size(); ++p) {
      for (const auto& balance : zel_profile::load_balance(*pointers[p], query)) {
        rows.emplace_back(p, balance);
      }
    }
  }
  // A column of numbers, of(row) for each row.
  const auto column = [&rows](auto of) {
    py::array_t<decltype(of(rows.front()))> values(static_cast<py::ssize_t>(rows.size()));
    std::transform(rows.begin(), rows.end(), values.mutable_data(), of);
    return values;
  };
  py::dict columns;
  columns["profile"] = column([](const auto& row) { return row.first; });
#define ZEL_BALANCE_COLUMN(field) \
  columns[#field] = column([](const auto& row) { return row.second.field; })
  ZEL_BALANCE_COLUMN(phase);
  ZEL_BALANCE_COLUMN(epoch);
  ZEL_BALANCE_COLUMN(phase_cycles);
  ZEL_BALANCE_COLUMN(tile_count);
  ZEL_BALANCE_COLUMN(busy_cycles);
  ZEL_BALANCE_COLUMN(maximum_busy_cycles);
  ZEL_BALANCE_COLUMN(critical_tile);
  ZEL_BALANCE_COLUMN(mean_busy_cycles);
  ZEL_BALANCE_COLUMN(imbalance);
  ZEL_BALANCE_COLUMN(lost_cycles);
#undef ZEL_BALANCE_COLUMN
  return columns;
}

}  // namespace

void bind_views(py::module_& module) {
  module.def("timeline_columns", &timeline_columns, py::arg("profiles"), py::arg("words"),
             py::arg("bins"), py::arg("rows"), py::arg("color_by"));
  module.def("load_balance_columns", &load_balance_columns, py::arg("profiles"), py::arg("words"));
}

}  // namespace zel_python

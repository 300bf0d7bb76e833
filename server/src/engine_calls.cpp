#include "engine_calls.hpp"

#include <algorithm>
#include <stdexcept>

#include "query_text.hpp"

namespace zel_server {
namespace {

std::uint64_t divide_up(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0); }

// Whether the engine's grid over a span of `span` cycles, asked for ceil(span / width) bins, has
// bins of exactly `width` cycles (or one bin holding the whole span inside the first width).
bool engine_gives_width(std::uint64_t span, std::uint64_t width) {
  if (span <= width) return true;
  return divide_up(span, divide_up(span, width)) == width;
}

}  // namespace

zel_profile::QueryReport run_query(const zel_package::PackedProfile& profile,
                                   const zel_profile::Query& query) {
  return zel_profile::query(profile, query, zel_profile::Parallelism{.threads = 0});
}

zel_profile::QueryReport run_query(const std::vector<zel_package::PackedProfile>& profiles,
                                   const zel_profile::Query& query) {
  return zel_cli::query_every_group(profiles, query, zel_profile::Parallelism{.threads = 0});
}

WindowTimeline window_timeline(const std::vector<zel_package::PackedProfile>& profiles,
                               const std::vector<std::uint64_t>& spans,
                               const zel_profile::Query& query, zel_profile::TimelineShape shape,
                               std::uint64_t from, std::uint64_t to) {
  WindowTimeline window;
  const std::uint64_t span_cycles =
      spans.empty() ? 0 : *std::max_element(spans.begin(), spans.end());
  to = std::min(to, span_cycles);
  if (profiles.empty() || from >= to || shape.bins == 0) return window;
  const std::size_t rows_each = std::max<std::size_t>(1, shape.rows / profiles.size());
  const std::uint64_t categories =
      shape.color_by == zel_profile::TimelineColor::Kind ? 4 : shape.groups.size() + 1;
  // Bins of equal width, so that the bins from `from` to `to` are at most shape.bins even after
  // `from` is moved down to a multiple of the width.
  const std::uint64_t length = to - from;
  std::uint64_t width =
      std::max<std::uint64_t>(1, divide_up(length, shape.bins > 1 ? shape.bins - 1 : 1));
  // No profile's whole-span grid may grow beyond maximum_grid_cells.
  const std::uint64_t columns =
      std::max<std::uint64_t>(1, maximum_grid_cells / (rows_each * categories));
  width = std::max(width, divide_up(span_cycles, columns));
  while (!std::all_of(spans.begin(), spans.end(),
                      [&](std::uint64_t span) { return engine_gives_width(span, width); })) {
    ++width;
  }
  const std::uint64_t first_bin = from / width;
  const std::uint64_t end_bin = divide_up(to, width);
  window.from = first_bin * width;
  window.to = end_bin * width;
  window.bin_cycles = width;
  window.bins = end_bin - first_bin;

  for (std::size_t p = 0; p < profiles.size(); ++p) {
    auto grid_shape = shape;
    grid_shape.rows = rows_each;
    // The engine's grid covers its own profile's span; bins past it hold nothing.
    grid_shape.bins = std::max<std::uint64_t>(1, divide_up(spans[p], width));
    const auto grid = zel_profile::timeline(profiles[p], query, grid_shape);
    if (grid.bins > 1 && grid.bin_cycles != width) {
      throw std::logic_error("the engine's timeline bins are not the width asked for");
    }
    if (window.categories.empty()) window.categories = grid.categories;
    const std::size_t category_count = grid.categories.size();
    for (const auto& row : grid.rows) {
      WindowRow out{.profile = p};
      for (std::size_t t = row.first_tile; t < row.end_tile; ++t) {
        const auto tile = profiles[p].tiles[t].physical_tile;
        if (query.tiles.empty() || query.tiles.contains(tile)) out.tiles.push_back(tile);
      }
      out.cycles.assign(category_count, std::vector<std::uint64_t>(window.bins, 0));
      // The engine's bins are `grid.bin_cycles` wide, a width that covers this profile's span; a
      // profile whose span fits one width has all its cycles in the first.
      for (std::size_t b = 0; b < grid.bins; ++b) {
        const std::uint64_t bin = grid.bins == 1 ? 0 : b;
        if (bin < first_bin || bin >= end_bin) continue;
        for (std::size_t c = 0; c < category_count; ++c) {
          out.cycles[c][bin - first_bin] += row.cycles[b * category_count + c];
        }
      }
      window.rows.push_back(std::move(out));
    }
  }
  return window;
}

std::vector<std::vector<zel_profile::PhaseBalance>> load_balances(
    const std::vector<zel_package::PackedProfile>& profiles, const zel_profile::Query& query) {
  std::vector<std::vector<zel_profile::PhaseBalance>> balances;
  for (const auto& profile : profiles)
    balances.push_back(zel_profile::load_balance(profile, query));
  return balances;
}

}  // namespace zel_server

#include "engine_calls.hpp"

#include <algorithm>
#include <span>
#include <stdexcept>

#include "query_text.hpp"

namespace zel_server {
namespace {

std::uint64_t divide_up(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0); }

}  // namespace

zel_profile::QueryReport run_query(const std::vector<zel_package::PackedProfile>& profiles,
                                   const zel_profile::Query& query) {
  return zel_cli::query_every_group(profiles, query, zel_profile::Parallelism{.threads = 0});
}

std::vector<zel_profile::TimelineIndex> index_timelines(
    const std::vector<zel_package::PackedProfile>& profiles) {
  std::vector<zel_profile::TimelineIndex> indexes;
  for (const auto& profile : profiles) {
    indexes.push_back(zel_profile::index_timeline(profile, zel_profile::Parallelism{.threads = 0}));
  }
  return indexes;
}

std::vector<zel_profile::SampleRecord> longest_samples(
    std::span<const zel_package::PackedProfile> profiles,
    std::span<const zel_profile::TimelineIndex> indexes, const zel_profile::Query& query) {
  return zel_profile::longest_samples(profiles, query, indexes, query.sample_limit);
}

WindowTimeline window_timeline(const std::vector<zel_package::PackedProfile>& profiles,
                               const std::vector<zel_profile::TimelineIndex>& indexes,
                               const zel_profile::Query& query, zel_profile::TimelineShape shape,
                               std::uint64_t from, std::uint64_t to) {
  WindowTimeline window;
  std::uint64_t span_cycles = 0;
  for (const auto& index : indexes) span_cycles = std::max(span_cycles, index.span_cycles);
  to = std::min(to, span_cycles);
  if (profiles.empty() || from >= to || shape.bins == 0) return window;
  // Bins of equal width, aligned to multiples of it (so that panning keeps the bins' edges), and
  // at most shape.bins of them from `from` to `to` even after `from` moves down to a multiple.
  const std::uint64_t length = to - from;
  std::uint64_t width =
      std::max<std::uint64_t>(1, divide_up(length, shape.bins > 1 ? shape.bins - 1 : 1));
  // Bins wider than the indexes' marks are made whole marks wide, so that their edges fall on
  // marks and the engine sums each kind's cycles between marks without reading samples: the
  // whole span of 10^8 samples then reads the marks only.
  std::uint64_t mark_cycles = 1;
  for (const auto& index : indexes) mark_cycles = std::max(mark_cycles, index.mark_cycles);
  if (width > mark_cycles) width = divide_up(width, mark_cycles) * mark_cycles;
  const std::uint64_t first_bin = from / width;
  const std::uint64_t end_bin = divide_up(to, width);
  window.from = first_bin * width;
  window.to = end_bin * width;
  window.bin_cycles = width;
  window.bins = end_bin - first_bin;

  // The profiles' timeline of exactly that range, each a chip with rows of its own, so that its
  // bins are exactly `width` wide and groups are named as the query over them names them.
  shape.bins = window.bins;
  shape.from = window.from;
  shape.to = window.to;
  const auto grid = zel_profile::timeline(std::span(profiles), query, shape, std::span(indexes),
                                          zel_profile::Parallelism{.threads = 0});
  if (grid.bins != window.bins || grid.bin_cycles != width) {
    throw std::logic_error("the engine's timeline bins are not the width asked for");
  }
  window.categories = grid.categories;
  const std::size_t category_count = grid.categories.size();
  for (const auto& row : grid.rows) {
    WindowRow out{.profile = row.chip};
    for (std::size_t t = row.first_tile; t < row.end_tile; ++t) {
      const auto tile = profiles[row.chip].tiles[t].physical_tile;
      if (query.tiles.empty() || query.tiles.contains(tile)) out.tiles.push_back(tile);
    }
    out.cycles.assign(category_count, std::vector<std::uint64_t>(window.bins, 0));
    for (std::size_t b = 0; b < grid.bins; ++b) {
      for (std::size_t c = 0; c < category_count; ++c) {
        out.cycles[c][b] = row.cycles[b * category_count + c];
      }
    }
    window.rows.push_back(std::move(out));
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

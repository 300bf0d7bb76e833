#include <zel_profile/timeline.hpp>

#include <algorithm>
#include <span>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include <zel_package/step_kinds.hpp>

#include <zel_profile/scan.hpp>

#include "step_matching.hpp"

namespace zel_profile {
namespace {

using zel_package::PackedProfile;
using zel_package::PackedTile;

constexpr std::size_t kind_count = zel_package::step_kind_names.size();
constexpr std::uint32_t fails = UINT32_MAX;

std::size_t kind_of_step(const zel_package::ProfileStep& step) {
  if (!zel_package::is_step_kind(step.kind)) {
    throw std::invalid_argument("a step has kind " + std::to_string(static_cast<int>(step.kind)) +
                                ", not one of the four step kinds");
  }
  return static_cast<std::size_t>(step.kind);
}

// The category a group name counts in: its place in `groups`, or the last category.
std::uint32_t group_category(const std::unordered_map<std::string_view, std::uint32_t>& place,
                             const std::string& name, std::size_t group_count) {
  const auto found = place.find(name);
  return static_cast<std::uint32_t>(found == place.end() ? group_count : found->second);
}

// Adds the interval [start, end), relative to the range's first cycle, to the bins it shares
// cycles with: per category into `cells` (bins x categories) and per kind into `kinds` (bins x 4).
void add_interval(std::uint64_t start, std::uint64_t end, std::uint64_t bin_cycles,
                  std::size_t category, std::size_t category_count, std::size_t kind,
                  std::vector<std::uint64_t>& cells, std::vector<std::uint64_t>& kinds) {
  if (end <= start) return;
  std::size_t bin = static_cast<std::size_t>(start / bin_cycles);
  const std::size_t last = static_cast<std::size_t>((end - 1) / bin_cycles);
  std::uint64_t from = start;
  for (; bin <= last; ++bin) {
    const std::uint64_t to = std::min(end, (bin + 1) * bin_cycles);
    cells[bin * category_count + category] += to - from;
    kinds[bin * kind_count + kind] += to - from;
    from = to;
  }
}

// A row of admitted tiles first .. end - 1 (places in `admitted`), without its cells.
TimelineRow empty_row(const PackedProfile& profile, const std::vector<std::size_t>& admitted,
                      std::size_t first, std::size_t end) {
  TimelineRow row{.first_tile = admitted[first],
                  .end_tile = admitted[end - 1] + 1,
                  .tile_count = end - first,
                  .lowest_tile = profile.tiles[admitted[first]].physical_tile,
                  .highest_tile = profile.tiles[admitted[first]].physical_tile};
  for (std::size_t a = first; a < end; ++a) {
    row.lowest_tile = std::min(row.lowest_tile, profile.tiles[admitted[a]].physical_tile);
    row.highest_tile = std::max(row.highest_tile, profile.tiles[admitted[a]].physical_tile);
  }
  return row;
}

// What one chip's samples need for binning: its selection, per step its kind and category (or
// `fails` when its samples cannot match), its admitted tiles and its rows.
struct ChipPlan {
  Selection selection;
  std::vector<std::uint32_t> category_of;
  std::vector<std::uint8_t> kind_of;
  std::vector<std::size_t> admitted;
  std::size_t row_count = 0;
};

}  // namespace

Timeline timeline(const PackedProfile& profile, const Query& query, const TimelineShape& shape) {
  return timeline(std::span(&profile, 1), query, shape);
}

Timeline timeline(std::span<const PackedProfile> profiles, const Query& query,
                  const TimelineShape& shape) {
  Timeline result;
  result.chip_count = profiles.size();
  const bool several = profiles.size() > 1;
  const bool by_group = shape.color_by == TimelineColor::Group;
  if (by_group) {
    result.categories = shape.groups;
    result.categories.emplace_back("(other groups)");
  } else {
    result.categories.assign(zel_package::step_kind_names.begin(),
                             zel_package::step_kind_names.end());
  }
  const std::size_t category_count = result.categories.size();
  std::unordered_map<std::string_view, std::uint32_t> group_place;
  for (std::size_t g = 0; g < shape.groups.size(); ++g) {
    group_place.emplace(shape.groups[g], static_cast<std::uint32_t>(g));
  }

  // Per step: its kind, and its category, or `fails` when its samples cannot match. Grouping by
  // tile decides the group per tile instead.
  std::vector<ChipPlan> plans(profiles.size());
  std::size_t admitted_count = 0;
  for (std::uint32_t chip = 0; chip < profiles.size(); ++chip) {
    const PackedProfile& profile = profiles[chip];
    ChipPlan& plan = plans[chip];
    plan.selection = select(profile, query);
    const std::size_t step_count = profile.steps.size();
    plan.category_of.assign(step_count, fails);
    plan.kind_of.assign(step_count, 0);
    for (std::size_t s = 0; s < step_count; ++s) {
      const auto& step = profile.steps[s];
      if (plan.selection.steps[s] == 0) continue;
      plan.kind_of[s] = static_cast<std::uint8_t>(kind_of_step(step));
      plan.category_of[s] =
          !by_group ? plan.kind_of[s]
          : query.group_by == GroupBy::Tile
              ? 0
              : group_category(group_place,
                               detail::step_group_key(query, 0, step, chip, several).name,
                               shape.groups.size());
    }
    for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
      if (plan.selection.admits_tile(profile.tiles[t].physical_tile)) plan.admitted.push_back(t);
    }
    admitted_count += plan.admitted.size();
    // The span of the whole profile, every sample counted, as in the query report.
    result.span_cycles =
        std::max(result.span_cycles,
                 scan(profile, plan.selection, 0, profile.tiles.size(), [](const ScannedSample&) {
                 }).span_cycles);
  }
  // The rows shared out in proportion to the chips' admitted tiles, at least one a chip with any.
  const std::size_t rows = std::min(shape.rows, admitted_count);
  for (std::uint32_t chip = 0; chip < profiles.size(); ++chip) {
    ChipPlan& plan = plans[chip];
    const std::size_t tiles = plan.admitted.size();
    plan.row_count = tiles == 0 ? 0 : std::max<std::size_t>(1, rows * tiles / admitted_count);
    for (std::size_t r = 0; r < plan.row_count; ++r) {
      TimelineRow row = empty_row(profiles[chip], plan.admitted, r * tiles / plan.row_count,
                                  (r + 1) * tiles / plan.row_count);
      row.chip = chip;
      result.rows.push_back(std::move(row));
    }
  }
  result.first_cycle = shape.from.value_or(0);
  result.end_cycle = std::max(result.first_cycle, shape.to.value_or(result.span_cycles));
  const std::uint64_t width = result.end_cycle - result.first_cycle;
  if (width == 0 || shape.bins == 0) return result;
  const std::uint64_t bins_asked = std::min<std::uint64_t>(shape.bins, width);
  result.bin_cycles = width / bins_asked + (width % bins_asked != 0);
  result.bins =
      static_cast<std::size_t>(width / result.bin_cycles + (width % result.bin_cycles != 0));
  result.kind_cycles.assign(result.bins * kind_count, 0);

  std::size_t first_row = 0;
  for (std::uint32_t chip = 0; chip < profiles.size(); ++chip) {
    const PackedProfile& profile = profiles[chip];
    const ChipPlan& plan = plans[chip];
    const auto& admitted = plan.admitted;
    const std::size_t row_count = plan.row_count;
    for (std::size_t r = 0; r < row_count; ++r) {
      TimelineRow& row = result.rows[first_row + r];
      row.cycles.assign(result.bins * category_count, 0);
      for (std::size_t a = r * admitted.size() / row_count;
           a < (r + 1) * admitted.size() / row_count; ++a) {
        const std::uint32_t tile_category =
            by_group && query.group_by == GroupBy::Tile
                ? group_category(
                      group_place,
                      detail::step_group_key(query, profile.tiles[admitted[a]].physical_tile, {},
                                             chip, several)
                          .name,
                      shape.groups.size())
                : fails;
        scan(profile, plan.selection, admitted[a], admitted[a] + 1,
             [&](const ScannedSample& sample) {
               const std::uint64_t start = std::max(sample.offset, result.first_cycle);
               const std::uint64_t end = std::min(sample.offset + sample.length, result.end_cycle);
               if (end <= start) return;
               add_interval(start - result.first_cycle, end - result.first_cycle, result.bin_cycles,
                            tile_category != fails ? tile_category : plan.category_of[sample.step],
                            category_count, plan.kind_of[sample.step], row.cycles,
                            result.kind_cycles);
             });
      }
    }
    first_row += row_count;
  }
  return result;
}

}  // namespace zel_profile

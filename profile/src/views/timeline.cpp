#include <zel_profile/timeline.hpp>

#include <algorithm>
#include <array>
#include <span>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include <zel_package/step_kinds.hpp>

#include <zel_profile/scan.hpp>

#include "scan/index_parts.hpp"
#include "scan/marked_range.hpp"
#include "scan/run_parallel.hpp"
#include "scan/step_matching.hpp"

namespace zel_profile {
namespace {

using detail::IndexParts;
using detail::TileMarks;
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

std::uint64_t divide_up(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0); }

// The width of aligned bins (see TimelineShape::aligned) of which at most `bins` cover
// [first, end): the range over `bins` when that fits, else over `bins` - 1 (which always fits:
// the range's last cycle is then fewer than `bins` - 1 widths after its first), else, for one
// bin, doubled until one holds both ends. Wider than `mark_cycles`, a whole number of them.
std::uint64_t aligned_width(std::uint64_t first, std::uint64_t end, std::uint64_t bins,
                            std::uint64_t mark_cycles) {
  const auto whole_marks = [&](std::uint64_t width) {
    return width > mark_cycles ? divide_up(width, mark_cycles) * mark_cycles : width;
  };
  const auto fits = [&](std::uint64_t width) { return (end - 1) / width - first / width < bins; };
  const std::uint64_t length = end - first;
  std::uint64_t width = whole_marks(divide_up(length, bins));
  if (fits(width)) return width;
  if (bins > 1) return whole_marks(divide_up(length, bins - 1));
  while (!fits(width)) width = whole_marks(width > end / 2 ? end : 2 * width);
  return width;
}

// Sets `grid`'s range and bins for `shape`: as asked, or aligned (TimelineShape::aligned).
void place_bins(const TimelineShape& shape, std::uint64_t mark_cycles, Timeline& grid) {
  grid.first_cycle = shape.from.value_or(0);
  const std::uint64_t asked_end = shape.to.value_or(grid.span_cycles);
  grid.end_cycle =
      std::max(grid.first_cycle, shape.aligned ? std::min(asked_end, grid.span_cycles) : asked_end);
  const std::uint64_t length = grid.end_cycle - grid.first_cycle;
  if (length == 0 || shape.bins == 0) return;
  if (shape.aligned) {
    grid.bin_cycles = aligned_width(grid.first_cycle, grid.end_cycle, shape.bins, mark_cycles);
    grid.first_cycle = grid.first_cycle / grid.bin_cycles * grid.bin_cycles;
    grid.end_cycle = divide_up(grid.end_cycle, grid.bin_cycles) * grid.bin_cycles;
    grid.bins = static_cast<std::size_t>((grid.end_cycle - grid.first_cycle) / grid.bin_cycles);
    return;
  }
  const std::uint64_t bins_asked = std::min<std::uint64_t>(shape.bins, length);
  grid.bin_cycles = divide_up(length, bins_asked);
  grid.bins = static_cast<std::size_t>(divide_up(length, grid.bin_cycles));
}

// Finds the bins of cycles relative to the range's first cycle. A tile's samples mostly come in
// time order, so the next bin asked for is mostly the last one or a few after it, which steps find
// without a division.
class BinFinder {
 public:
  explicit BinFinder(std::uint64_t bin_cycles) : bin_cycles_(bin_cycles) {}

  // The bin of `cycle`; first_cycle() is then where it starts.
  std::size_t find(std::uint64_t cycle) {
    if (cycle < first_ || cycle - first_ >= 4 * bin_cycles_) {
      bin_ = static_cast<std::size_t>(cycle / bin_cycles_);
      first_ = bin_ * bin_cycles_;
    }
    while (cycle - first_ >= bin_cycles_) {
      ++bin_;
      first_ += bin_cycles_;
    }
    return bin_;
  }
  std::uint64_t first_cycle() const { return first_; }

 private:
  std::uint64_t bin_cycles_;
  std::size_t bin_ = 0;
  std::uint64_t first_ = 0;
};

// Adds the interval [start, end), relative to the range's first cycle, to the bins it shares
// cycles with: per category into `cells` (bins x categories) and per kind into `kinds` (bins x 4).
void add_interval(std::uint64_t start, std::uint64_t end, std::uint64_t bin_cycles, BinFinder& bins,
                  std::size_t category, std::size_t category_count, std::size_t kind,
                  std::vector<std::uint64_t>& cells, std::vector<std::uint64_t>& kinds) {
  if (end <= start) return;
  std::size_t bin = bins.find(start);
  std::uint64_t bin_end = bins.first_cycle() + bin_cycles;
  for (std::uint64_t from = start;; ++bin, bin_end += bin_cycles) {
    const std::uint64_t to = std::min(end, bin_end);
    cells[bin * category_count + category] += to - from;
    kinds[bin * kind_count + kind] += to - from;
    if (to == end) return;
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
    const std::uint32_t tile = profile.tiles[admitted[a]].physical_tile;
    row.lowest_tile = std::min(row.lowest_tile, tile);
    row.highest_tile = std::max(row.highest_tile, tile);
    row.tiles.push_back(tile);
  }
  return row;
}

// What one chip's samples need for binning: its selection, per step its kind and category (or
// `fails` when its samples cannot match) and its admitted tiles.
struct ChipPlan {
  Selection selection;
  std::vector<std::uint32_t> category_of;
  std::vector<std::uint8_t> kind_of;
  std::vector<std::size_t> admitted;
  // True when the selection takes or leaves whole step kinds, with no time test, so that cycles
  // per kind summed ahead of time count what it selects; `kinds` then says which kinds it takes.
  bool by_kinds = false;
  std::array<bool, kind_count> kinds{};
};

// Whether `plan`'s selection takes or leaves whole step kinds (see ChipPlan::by_kinds).
void find_kinds(const PackedProfile& profile, ChipPlan& plan) {
  std::array<int, kind_count> taken{};  // per kind: 1 some taken, 2 some left, 3 both
  for (std::size_t s = 0; s < profile.steps.size(); ++s) {
    if (!zel_package::is_step_kind(profile.steps[s].kind)) return;
    taken[static_cast<std::size_t>(profile.steps[s].kind)] |= plan.selection.steps[s] != 0 ? 1 : 2;
  }
  plan.by_kinds = !plan.selection.timed &&
                  std::none_of(taken.begin(), taken.end(), [](int t) { return t == 3; });
  for (std::size_t kind = 0; kind < kind_count; ++kind) plan.kinds[kind] = taken[kind] == 1;
}

// A row's tiles: places first .. end - 1 in its chip's admitted tiles.
struct RowTiles {
  std::uint32_t chip = 0;
  std::size_t first = 0;
  std::size_t end = 0;
};

// The cycles per kind of tile `tile`'s selected samples in [mark * mark_cycles, cycle), where
// `mark` is the mark at or before `cycle`: the samples from the first that reaches past the mark to
// the last that starts before `cycle`.
std::array<std::uint64_t, kind_count> cycles_since_mark(const PackedProfile& profile,
                                                        const ChipPlan& plan, std::size_t tile,
                                                        const TileMarks& marks, std::size_t mark,
                                                        std::uint64_t mark_cycles,
                                                        std::uint64_t cycle) {
  std::array<std::uint64_t, kind_count> cycles{};
  const std::size_t last = marks.starting.size() - 1;
  const auto& samples = profile.tiles[tile].samples;
  // Past every sample, or on the mark itself.
  if (mark >= last || samples.empty() || cycle == mark * mark_cycles) return cycles;
  // Samples from starting[mark] on start at or after the mark, in order; the first that starts
  // at or after `cycle` ends the range.
  const std::uint32_t base = samples.front().start_cycle;
  const auto stop = std::partition_point(
      samples.begin() + marks.starting[mark], samples.begin() + marks.starting[mark + 1],
      [&](const zel_package::PackedSample& sample) {
        return static_cast<std::uint32_t>(sample.start_cycle - base) < cycle;
      });
  const std::uint64_t mark_start = mark * mark_cycles;
  scan_samples(profile, plan.selection, tile, marks.reaching[mark],
               static_cast<std::size_t>(stop - samples.begin()), [&](const ScannedSample& sample) {
                 const std::uint64_t from = std::max(sample.offset, mark_start);
                 const std::uint64_t to = std::min(sample.offset + sample.length, cycle);
                 if (from < to) cycles[plan.kind_of[sample.step]] += to - from;
               });
  return cycles;
}

// Adds tile `tile` to the bins of `grid`, coloured by kind: a bin's cycles are those before its
// end less those before its start, each the marks' kind cycles up to the mark at or before it and
// the samples' cycles since that mark. Bins come in order, so the marks are added up once.
void sum_tile_by_marks(const PackedProfile& profile, const ChipPlan& plan, std::size_t tile,
                       const TileMarks& marks, std::uint64_t mark_cycles, const Timeline& grid,
                       std::vector<std::uint64_t>& cells, std::vector<std::uint64_t>& kinds) {
  const std::size_t last = marks.starting.size() - 1;
  // Cycles from the first edge's mark to the marks added so far.
  std::array<std::uint64_t, kind_count> marked{};
  std::size_t next_mark = std::min<std::size_t>(grid.first_cycle / mark_cycles, last);
  const auto before = [&](std::uint64_t cycle) {
    const std::size_t mark = std::min<std::size_t>(cycle / mark_cycles, last);
    for (; next_mark < mark; ++next_mark) {
      for (std::size_t kind = 0; kind < kind_count; ++kind) {
        marked[kind] += marks.kind_cycles[next_mark * kind_count + kind];
      }
    }
    auto cycles = cycles_since_mark(profile, plan, tile, marks, mark, mark_cycles, cycle);
    for (std::size_t kind = 0; kind < kind_count; ++kind) {
      cycles[kind] = plan.kinds[kind] ? cycles[kind] + marked[kind] : 0;
    }
    return cycles;
  };
  auto start = before(grid.first_cycle);
  for (std::size_t bin = 0; bin < grid.bins; ++bin) {
    const std::uint64_t edge =
        bin + 1 == grid.bins ? grid.end_cycle : grid.first_cycle + (bin + 1) * grid.bin_cycles;
    const auto end = before(edge);
    for (std::size_t kind = 0; kind < kind_count; ++kind) {
      cells[bin * kind_count + kind] += end[kind] - start[kind];
      kinds[bin * kind_count + kind] += end[kind] - start[kind];
    }
    start = end;
  }
}

// The timeline of several profiles, each a chip, its rows shared among `threads`.
// span_of(chip, selection) gives the chip's span, every sample counted; walk_tile(chip,
// selection, t, first_cycle, end_cycle, consume) hands `consume` every selected sample of the
// chip's tile t that may share a cycle with [first_cycle, end_cycle), in the tile's order.
// sum_tile(chip, plan, t, timeline, cells, kinds) adds the chip's tile t to the bins (cells
// bins x 4, kinds bins x 4) without handing over its samples, or returns false to have them walked.
// Aligned bins wider than `mark_cycles` are whole marks wide.
template <typename SpanOf, typename WalkTile, typename SumTile>
Timeline make_timeline(std::span<const PackedProfile> profiles, const Query& query,
                       const TimelineShape& shape, std::size_t threads, std::uint64_t mark_cycles,
                       const SpanOf& span_of, const WalkTile& walk_tile, const SumTile& sum_tile) {
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
    find_kinds(profile, plan);
    for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
      if (plan.selection.admits_tile(profile.tiles[t].physical_tile)) plan.admitted.push_back(t);
    }
    admitted_count += plan.admitted.size();
    result.span_cycles = std::max(result.span_cycles, span_of(chip, plan.selection));
  }
  // The rows shared out in proportion to the chips' admitted tiles, at least one a chip with any.
  const std::size_t rows = std::min(shape.rows, admitted_count);
  std::vector<RowTiles> row_tiles;
  for (std::uint32_t chip = 0; chip < profiles.size(); ++chip) {
    const ChipPlan& plan = plans[chip];
    const std::size_t tiles = plan.admitted.size();
    const std::size_t row_count =
        tiles == 0 ? 0 : std::max<std::size_t>(1, rows * tiles / admitted_count);
    for (std::size_t r = 0; r < row_count; ++r) {
      const RowTiles places{chip, r * tiles / row_count, (r + 1) * tiles / row_count};
      TimelineRow row = empty_row(profiles[chip], plan.admitted, places.first, places.end);
      row.chip = chip;
      result.rows.push_back(std::move(row));
      row_tiles.push_back(places);
    }
  }
  place_bins(shape, mark_cycles, result);
  if (result.bins == 0) return result;

  // Rows in consecutive parts, one a thread, each part with its own sums by kind; integers, so
  // the sums do not depend on the parts.
  const std::size_t row_count = result.rows.size();
  const std::size_t parts = std::max<std::size_t>(1, std::min(threads, row_count));
  std::vector<std::vector<std::uint64_t>> kind_parts(
      parts, std::vector<std::uint64_t>(result.bins * kind_count, 0));
  detail::run_parallel(parts, [&](std::size_t part) {
    std::vector<std::uint64_t>& kinds = kind_parts[part];
    for (std::size_t r = part * row_count / parts; r < (part + 1) * row_count / parts; ++r) {
      TimelineRow& row = result.rows[r];
      const RowTiles& places = row_tiles[r];
      const PackedProfile& profile = profiles[places.chip];
      const ChipPlan& plan = plans[places.chip];
      row.cycles.assign(result.bins * category_count, 0);
      for (std::size_t a = places.first; a < places.end; ++a) {
        const std::size_t tile = plan.admitted[a];
        const std::uint32_t tile_category =
            by_group && query.group_by == GroupBy::Tile
                ? group_category(group_place,
                                 detail::step_group_key(query, profile.tiles[tile].physical_tile,
                                                        {}, places.chip, several)
                                     .name,
                                 shape.groups.size())
                : fails;
        if (!by_group && sum_tile(places.chip, plan, tile, result, row.cycles, kinds)) continue;
        BinFinder bins(result.bin_cycles);
        walk_tile(
            places.chip, plan.selection, tile, result.first_cycle, result.end_cycle,
            [&](const ScannedSample& sample) {
              const std::uint64_t start = std::max(sample.offset, result.first_cycle);
              const std::uint64_t end = std::min(sample.offset + sample.length, result.end_cycle);
              if (end <= start) return;
              add_interval(start - result.first_cycle, end - result.first_cycle, result.bin_cycles,
                           bins,
                           tile_category != fails ? tile_category : plan.category_of[sample.step],
                           category_count, plan.kind_of[sample.step], row.cycles, kinds);
            });
      }
    }
  });
  result.kind_cycles = std::move(kind_parts[0]);
  for (std::size_t part = 1; part < parts; ++part) {
    for (std::size_t i = 0; i < result.kind_cycles.size(); ++i) {
      result.kind_cycles[i] += kind_parts[part][i];
    }
  }
  return result;
}

}  // namespace

Timeline timeline(const PackedProfile& profile, const Query& query, const TimelineShape& shape) {
  return timeline(std::span(&profile, 1), query, shape);
}

Timeline timeline(std::span<const PackedProfile> profiles, const Query& query,
                  const TimelineShape& shape) {
  return make_timeline(
      profiles, query, shape, 1, 1,
      [&](std::uint32_t chip, const Selection& selection) {
        // The span of the whole profile, every sample counted, as in the query report.
        const PackedProfile& profile = profiles[chip];
        return scan(profile, selection, 0, profile.tiles.size(), [](const ScannedSample&) {})
            .span_cycles;
      },
      [&](std::uint32_t chip, const Selection& selection, std::size_t tile, std::uint64_t,
          std::uint64_t,
          const auto& consume) { scan(profiles[chip], selection, tile, tile + 1, consume); },
      [](std::uint32_t, const ChipPlan&, std::size_t, const Timeline&, std::vector<std::uint64_t>&,
         std::vector<std::uint64_t>&) { return false; });
}

Timeline timeline(const PackedProfile& profile, const Query& query, const TimelineShape& shape,
                  const TimelineIndex& index, Parallelism parallelism) {
  return timeline(std::span(&profile, 1), query, shape, std::span(&index, 1), parallelism);
}

Timeline timeline(std::span<const PackedProfile> profiles, const Query& query,
                  const TimelineShape& shape, std::span<const TimelineIndex> indexes,
                  Parallelism parallelism) {
  if (indexes.size() != profiles.size()) {
    throw std::invalid_argument("the timeline needs one index a profile");
  }
  std::uint64_t mark_cycles = 1;
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    if (IndexParts::tiles(indexes[p]).size() != profiles[p].tiles.size()) {
      throw std::invalid_argument("the timeline's index is not of this profile");
    }
    mark_cycles = std::max(mark_cycles, IndexParts::mark_cycles(indexes[p]));
  }
  return make_timeline(
      profiles, query, shape, thread_count(parallelism), mark_cycles,
      [&](std::uint32_t chip, const Selection&) { return IndexParts::span_cycles(indexes[chip]); },
      [&](std::uint32_t chip, const Selection& selection, std::size_t tile,
          std::uint64_t first_cycle, std::uint64_t end_cycle, const auto& consume) {
        const PackedProfile& profile = profiles[chip];
        const auto range = detail::marked_range(
            indexes[chip], tile, profile.tiles[tile].samples.size(), first_cycle, end_cycle);
        scan_samples(profile, selection, tile, range.first, range.end, consume);
      },
      [&](std::uint32_t chip, const ChipPlan& plan, std::size_t tile, const Timeline& grid,
          std::vector<std::uint64_t>& cells, std::vector<std::uint64_t>& kinds) {
        const TileMarks& marks = IndexParts::tiles(indexes[chip])[tile];
        const std::uint64_t chip_mark_cycles = IndexParts::mark_cycles(indexes[chip]);
        // Bins narrower than a mark hold fewer samples than an edge costs: they are walked.
        if (!plan.by_kinds || marks.kind_cycles.empty() || grid.bin_cycles < chip_mark_cycles) {
          return false;
        }
        sum_tile_by_marks(profiles[chip], plan, tile, marks, chip_mark_cycles, grid, cells, kinds);
        return true;
      });
}

}  // namespace zel_profile

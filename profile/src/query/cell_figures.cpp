#include "query/cell_figures.hpp"

#include <algorithm>
#include <bit>
#include <utility>

#include "query/checked_arithmetic.hpp"
#include "query/radix_sort.hpp"

namespace zel_profile::detail {
namespace {

// Below this many intervals a cell is sorted; a sweep over its range would cost more.
constexpr std::size_t few_entries = 24;

// A cell's range of start positions is walked when it is at most this many times its number of
// intervals (a bit and a 4-byte end per position, against a radix sort's passes per interval).
constexpr std::uint64_t positions_per_interval = 32;

// A group's range of lengths is counted when it is at most this many times its number of samples
// (a count per length and a walk over them, against a selection among the lengths).
constexpr std::uint64_t lengths_per_sample = 16;

// The union of the intervals as disjoint runs, from the starts marked in a bitmap over the cell's
// range, each with the farthest end of an interval starting there: walking the set bits visits the
// starts in ascending order, which is all the merge of runs needs, at a cost of one bit per
// position of the range.
void union_by_start_bitmap(std::span<const CellEntry> entries, std::uint64_t first,
                           std::uint64_t range, CellScratch& scratch) {
  auto& reach = scratch.reach;
  auto& starts = scratch.starts;
  reach.assign(range + 1, 0);  // a zero-length interval may start at the very end
  starts.assign(range / 64 + 1, 0);
  for (const CellEntry& entry : entries) {
    const auto at = static_cast<std::uint32_t>(entry.start - first);
    const std::uint32_t end = at + entry.length;
    reach[at] = std::max(reach[at], end);
    starts[at / 64] |= std::uint64_t{1} << (at % 64);
  }
  std::uint64_t run_start = 0;
  std::uint64_t run_end = 0;
  for (std::size_t word = 0; word < starts.size(); ++word) {
    for (std::uint64_t bits = starts[word]; bits != 0; bits &= bits - 1) {
      const std::uint64_t at = word * 64 + static_cast<std::uint64_t>(std::countr_zero(bits));
      if (at > run_end) {
        scratch.runs.push_back({first + run_start, first + run_end});
        run_start = at;
      }
      run_end = std::max<std::uint64_t>(run_end, reach[at]);
    }
  }
  scratch.runs.push_back({first + run_start, first + run_end});
}

}  // namespace

CellFigures cell_figures(std::span<CellEntry> entries, CellScratch& scratch, LengthTally& tally) {
  CellFigures figures{.work_cycles = 0,
                      .first_offset = entries.front().start,
                      .last_offset = 0,
                      .shortest = entries.front().length,
                      .longest = 0};
  for (const CellEntry& entry : entries) {
#if defined(__GNUC__)
    __builtin_prefetch(
        reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(&entry) + 1024));
#endif
    figures.work_cycles += entry.length;
    figures.first_offset = std::min<std::uint64_t>(figures.first_offset, entry.start);
    figures.last_offset = std::max(figures.last_offset, std::uint64_t{entry.start} + entry.length);
    figures.shortest = std::min(figures.shortest, entry.length);
    figures.longest = std::max(figures.longest, entry.length);
  }
  if (tally.counting()) {
    for (const CellEntry& entry : entries) tally.add(entry.length);
  }
  scratch.runs.clear();
  const std::uint64_t range = figures.last_offset - figures.first_offset;
  if (entries.size() > few_entries && range <= positions_per_interval * entries.size()) {
    union_by_start_bitmap(entries, figures.first_offset, range, scratch);
    return figures;
  }
  if (entries.size() <= few_entries) {
    std::sort(entries.begin(), entries.end(),
              [](const CellEntry& a, const CellEntry& b) { return a.start < b.start; });
  } else {
    radix_sort(entries, scratch.entries, [](const CellEntry& entry) { return entry.start; });
  }
  union_runs_of_sorted(
      std::span<const CellEntry>(entries),
      [](const CellEntry& entry) {
        return std::pair{std::uint64_t{entry.start}, std::uint64_t{entry.start} + entry.length};
      },
      [&](std::uint64_t start, std::uint64_t end) {
        scratch.runs.push_back({start, end});
      });
  return figures;
}

LengthTally::LengthTally(std::size_t count, std::uint32_t shortest, std::uint32_t longest,
                         std::vector<std::uint32_t>& storage)
    : counts_(storage),
      count_(count),
      shortest_(shortest),
      longest_(longest),
      counting_(count > few_entries && count < UINT32_MAX && shortest <= longest &&
                std::uint64_t{longest} - shortest <= lengths_per_sample * count) {
  if (counting_) counts_.assign(std::size_t{longest} - shortest + 1, 0);
}

void LengthTally::append_counts(std::vector<LengthCount>& lengths) const {
  for (std::size_t value = 0; value < counts_.size(); ++value) {
    if (counts_[value] != 0) {
      lengths.push_back({static_cast<std::uint32_t>(shortest_ + value), counts_[value]});
    }
  }
}

DurationFigures LengthTally::figures() const {
  PercentileWalk walk(count_);
  for (std::size_t value = 0; value < counts_.size(); ++value) {
    if (counts_[value] != 0 &&
        !walk.offer(static_cast<std::uint32_t>(shortest_ + value), counts_[value])) {
      break;
    }
  }
  return DurationFigures{
      .sample_count = count_, .p50 = walk.p50(), .p95 = walk.p95(), .maximum = longest_};
}

DurationFigures length_figures(std::span<const CellEntry> entries, CellScratch& scratch) {
  auto& lengths = scratch.lengths;
  lengths.resize(entries.size());
  std::transform(entries.begin(), entries.end(), lengths.begin(),
                 [](const CellEntry& entry) { return entry.length; });
  return duration_figures_by_selection(lengths);
}

std::vector<LengthCount> add_length_counts(const std::vector<LengthCount>& left,
                                           const std::vector<LengthCount>& right) {
  std::vector<LengthCount> merged;
  merged.reserve(left.size() + right.size());
  auto l = left.begin();
  auto r = right.begin();
  while (l != left.end() || r != right.end()) {
    if (r == right.end() || (l != left.end() && l->length < r->length)) {
      merged.push_back(*l++);
    } else if (l == left.end() || r->length < l->length) {
      merged.push_back(*r++);
    } else {
      merged.push_back({l->length, checked_add(l->count, r->count, "sample count")});
      ++l;
      ++r;
    }
  }
  return merged;
}

void append_length_counts(std::span<const CellEntry> entries, CellScratch& scratch,
                          std::vector<LengthCount>& lengths) {
  auto& sorted = scratch.lengths;
  sorted.resize(entries.size());
  std::transform(entries.begin(), entries.end(), sorted.begin(),
                 [](const CellEntry& entry) { return entry.length; });
  radix_sort(sorted, scratch.length_buffer, [](std::uint32_t length) { return length; });
  for (std::size_t i = 0; i < sorted.size();) {
    std::size_t j = i + 1;
    while (j < sorted.size() && sorted[j] == sorted[i]) ++j;
    lengths.push_back({sorted[i], j - i});
    i = j;
  }
}

}  // namespace zel_profile::detail

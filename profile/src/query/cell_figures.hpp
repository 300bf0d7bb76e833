// The two statistics of the packed engine that need more than one look at a sample: the union of a
// cell's intervals, and the percentiles of a group's lengths. Both take whatever order the samples
// arrived in and choose between a pass over the range of values (when the range is small next to
// the number of samples, as it is for real profiles, where a phase's samples on all tiles lie close
// together in time) and a sort or selection.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include <zel_profile/partial.hpp>
#include <zel_profile/scan.hpp>

#include "query/summary_figures.hpp"

namespace zel_profile::detail {

// One matched sample as a cell keeps it: its normalised start counted from the selection's origin
// (Selection::origin, 0 unless clipping), below 2^32, and its length. No default member
// initialisers, so large arrays of them are not cleared before being filled.
struct CellEntry {
  std::uint32_t start;
  std::uint32_t length;
};

inline CellEntry cell_entry(const ScannedSample& sample, std::uint64_t origin) {
  return CellEntry{static_cast<std::uint32_t>(sample.offset - origin), sample.length};
}

struct CellScratch {
  std::vector<std::uint32_t> reach;   // by start position: the farthest end of an interval there
  std::vector<std::uint64_t> starts;  // a bit for each start position
  std::vector<CellEntry> entries;
  std::vector<std::uint32_t> lengths;
  std::vector<std::uint32_t> length_buffer;
  std::vector<std::uint32_t> length_counts;
  std::vector<Interval> runs;  // the union of the last cell measured
};

// Sums and bounds of a cell's samples.
struct CellFigures {
  std::uint64_t work_cycles = 0;
  std::uint64_t first_offset = 0;  // smallest start
  std::uint64_t last_offset = 0;   // largest end
  std::uint32_t shortest = 0;
  std::uint32_t longest = 0;
};

// Counts per length of a group's samples, kept while its cells are measured so that the lengths
// need no pass of their own, when the group's lengths lie in a range small enough to count.
class LengthTally {
 public:
  // Prepares to count `count` lengths lying in [shortest, longest], in `storage`. Counts nothing
  // when the range is too wide for the number of lengths.
  LengthTally(std::size_t count, std::uint32_t shortest, std::uint32_t longest,
              std::vector<std::uint32_t>& storage);

  bool counting() const { return counting_; }
  void add(std::uint32_t length) { ++counts_[length - shortest_]; }

  // The counted lengths, ascending, with their counts.
  void append_counts(std::vector<LengthCount>& lengths) const;

  // The percentiles and maximum of the counted lengths.
  DurationFigures figures() const;

 private:
  std::vector<std::uint32_t>& counts_;
  std::size_t count_;
  std::uint32_t shortest_;
  std::uint32_t longest_;
  bool counting_;
};

// A cell's figures and union runs, measured from `origin`, on the normalised axis.
inline CellFigures from_origin(CellFigures figures, std::vector<Interval>& runs,
                               std::uint64_t origin) {
  if (origin == 0) return figures;
  figures.first_offset += origin;
  figures.last_offset += origin;
  for (Interval& run : runs) {
    run.first += origin;
    run.second += origin;
  }
  return figures;
}

// The figures of a non-empty cell, with the union of its intervals as disjoint, ascending runs in
// scratch.runs, and its lengths added to `tally` when it is counting. May reorder `entries`.
CellFigures cell_figures(std::span<CellEntry> entries, CellScratch& scratch, LengthTally& tally);

// The percentiles and maximum of the lengths of `entries`, by selection.
DurationFigures length_figures(std::span<const CellEntry> entries, CellScratch& scratch);

// Two ascending lists of lengths with their counts as one, counts of equal lengths added.
std::vector<LengthCount> add_length_counts(const std::vector<LengthCount>& left,
                                           const std::vector<LengthCount>& right);

// The lengths of `entries`, ascending, with their counts, by sorting.
void append_length_counts(std::span<const CellEntry> entries, CellScratch& scratch,
                          std::vector<LengthCount>& lengths);

}  // namespace zel_profile::detail

// Keeps the `limit` longest matched samples of a query without sorting all of them.
//
// The reported order is: longer first, then the smaller tile number, then the earlier offset, then
// the order in which samples were matched. Only the best `limit` so far are held, in a heap whose
// top is the one that would be reported last, so most samples are turned away by one comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <zel_package/records.hpp>
#include <zel_profile/model.hpp>

namespace zel_profile::detail {

// True when `left` is reported before `right`: longer first, then the smaller tile number, then the
// earlier offset. Samples equal in all three keep the order in which they were matched.
inline bool sample_reported_before(const SampleRecord& left, const SampleRecord& right) {
  if (left.duration != right.duration) return left.duration > right.duration;
  if (left.physical_tile != right.physical_tile) return left.physical_tile < right.physical_tile;
  return left.offset < right.offset;
}

// The longest samples of two consecutive sets of tiles, each list in reported order, as one list
// in reported order of at most `limit`; on equal keys `earlier`'s sample, matched first, comes
// first.
std::vector<SampleRecord> merge_reported(std::vector<SampleRecord> earlier,
                                         std::vector<SampleRecord> later, std::size_t limit);

class SampleSelection {
 public:
  explicit SampleSelection(std::size_t limit);

  bool wanted() const { return limit_ > 0; }

  // Offers a matched sample of `step`; the step must outlive the selection. Samples must be offered
  // in match order (tiles in profile order, each tile's samples in list order) for equal samples
  // to keep that order.
  void offer(std::uint32_t tile, std::uint64_t offset, std::uint32_t duration,
             const zel_package::ProfileStep& step);

  // The chosen samples as self-contained records, in reported order.
  std::vector<SampleRecord> take();

 private:
  // A matched sample that may be reported; it refers to the caller's step.
  struct Candidate {
    std::uint32_t tile = 0;
    std::uint64_t offset = 0;
    std::uint32_t duration = 0;
    std::uint64_t match_order = 0;
    const zel_package::ProfileStep* step = nullptr;
  };

  static bool reported_before(const Candidate& left, const Candidate& right);
  static SampleRecord sample_record(const Candidate& candidate);

  std::size_t limit_;
  std::uint64_t offered_ = 0;
  std::vector<Candidate> heap_;
};

}  // namespace zel_profile::detail

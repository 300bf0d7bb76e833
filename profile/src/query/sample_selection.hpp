// Keeps the `limit` longest matched samples of a query without sorting all of them, as compact
// keys: the reported samples point at their steps, whose names are copied once per distinct step
// when the list is made.
//
// The reported order is: longer first, then the smaller tile number, then the earlier offset, then
// the order in which samples were matched. Candidates are kept side by side; whenever they number
// twice the limit (or the limit and a thousand), a partial selection keeps the best `limit`, and
// from then on a sample that is not before the last of them is turned away by one comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <zel_package/records.hpp>
#include <zel_profile/reported_samples.hpp>

namespace zel_profile::detail {

// A matched sample that may be reported, its key compact.
struct ChosenSample {
  std::uint64_t rank = 0;  // (UINT32_MAX - duration) << 32 | tile: smaller is reported first
  std::uint64_t offset = 0;
  std::uint64_t order = 0;  // in which it was matched, within its selection
  std::uint32_t step = 0;   // index into its profile's steps

  std::uint32_t tile() const { return static_cast<std::uint32_t>(rank); }
  std::uint32_t duration() const { return UINT32_MAX - static_cast<std::uint32_t>(rank >> 32); }
};

// True when `left` is reported before `right` on their sample's keys alone (length, tile, offset).
inline bool key_before(const ChosenSample& left, const ChosenSample& right) {
  return left.rank != right.rank ? left.rank < right.rank : left.offset < right.offset;
}

class SampleSelection {
 public:
  explicit SampleSelection(std::size_t limit);

  bool wanted() const { return limit_ > 0; }

  // Offers a matched sample of the step numbered `step`, `order` being its place in match order
  // (tiles in profile order, each tile's samples in list order), which equal samples keep. Samples
  // offered in that order cost least.
  void offer(std::uint32_t tile, std::uint64_t offset, std::uint32_t duration, std::uint32_t step,
             std::uint64_t order) {
    const ChosenSample candidate{
        .rank = (std::uint64_t{UINT32_MAX - duration} << 32) | tile,
        .offset = offset,
        .order = order,
        .step = step,
    };
    in_order_ = in_order_ && (kept_.empty() || order > kept_.back().order);
    if (cut_ && !before(candidate, last_kept_)) return;
    kept_.push_back(candidate);
    if (kept_.size() >= capacity_) cut();
  }
  // Offers the next sample in match order.
  void offer(std::uint32_t tile, std::uint64_t offset, std::uint32_t duration, std::uint32_t step) {
    offer(tile, offset, duration, step, offered_++);
  }

  // The chosen samples in reported order, at most the limit.
  std::vector<ChosenSample> take();

 private:
  static bool before(const ChosenSample& left, const ChosenSample& right) {
    if (left.rank != right.rank) return left.rank < right.rank;
    if (left.offset != right.offset) return left.offset < right.offset;
    return left.order < right.order;
  }
  // Keeps the best `limit_` of the candidates.
  void cut();

  std::size_t limit_;
  std::size_t capacity_;
  std::uint64_t offered_ = 0;
  bool cut_ = false;
  bool in_order_ = true;  // the candidates were offered in match order
  ChosenSample last_kept_;
  std::vector<ChosenSample> kept_;
};

// The chosen samples of two consecutive sets of tiles, each list in reported order, as one list in
// reported order of at most `limit`; on equal keys `earlier`'s sample, matched first, comes first.
std::vector<ChosenSample> merge_chosen(std::vector<ChosenSample> earlier,
                                       const std::vector<ChosenSample>& later, std::size_t limit);

// The chosen samples of a profile with steps `steps` as a reported list: each step they use copied
// once, in order of first use.
ReportedSamples reported_samples(const std::vector<zel_package::ProfileStep>& steps,
                                 const std::vector<ChosenSample>& chosen);

// The reported samples of two consecutive sets of tiles as one list of at most `limit`, as
// merge_chosen orders them.
ReportedSamples merge_reported(ReportedSamples earlier, const ReportedSamples& later,
                               std::size_t limit);

}  // namespace zel_profile::detail

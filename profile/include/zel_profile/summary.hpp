// Group statistics and the order in which groups are reported.
//
// Errors: the only exception the engine throws, besides std::bad_alloc, is std::overflow_error,
// raised when a checked addition, subtraction or multiplication of cycles or counts would leave its
// type. No profile can cause it unless a single group holds more than 2^32 + 1 samples.
#pragma once

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include <zel_package/records.hpp>
#include <zel_profile/model.hpp>

namespace zel_profile {

// Turns a finished accumulator into the summary of group `name`; only `report.clock_hz` is read.
// phase_cycles sums the union length of each (phase, epoch) entry; average_active_tiles is
// work_cycles / phase_cycles (0.0 when phase_cycles is 0); the percentiles are `percentile`'s.
GroupSummary summarize_group(std::string name, Accumulator accumulator,
                             const zel_package::ProfileReport& report);

// The number of cycles covered by half-open intervals given in any order. Touching intervals join;
// empty ones add nothing. The caller's intervals are left as they are.
std::uint64_t union_length(std::span<const Interval> intervals);

// The value at index ((size - 1) * percentage) / 100 of an ascending list, no interpolation;
// 0 for an empty list. A percentage above 100 is taken as 100.
std::uint32_t percentile(std::span<const std::uint32_t> sorted, std::size_t percentage);

// cycles * 1000.0 / clock_hz, multiplied before dividing; 0.0 when clock_hz is 0.
double cycles_to_ms(std::uint64_t cycles, std::uint64_t clock_hz);

// The reported order of two groups: less means `left` comes first. The key chosen by `sort_by`
// (larger first for the numbers, smaller first for Name), then the earlier first_offset, then the
// smaller name in byte order. Total for groups with distinct names.
std::strong_ordering compare_groups(SortBy sort_by, const GroupSummary& left,
                                    const GroupSummary& right);

// A reported list in its final shape: turned round with query.reverse, then cut to its first
// query.limit entries. A report's groups and a diff's compared groups take it alike.
template <typename Entry>
void reverse_and_limit(std::vector<Entry>& list, const Query& query) {
  if (query.reverse) std::reverse(list.begin(), list.end());
  if (query.limit && *query.limit < list.size()) list.resize(*query.limit);
}

}  // namespace zel_profile

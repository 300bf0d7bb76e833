// The reported order of the groups, shared by both engines.
#pragma once

#include <algorithm>
#include <vector>

#include <zel_profile/model.hpp>
#include <zel_profile/summary.hpp>

namespace zel_profile::detail {

// Sorts the summaries into reported order (compare_groups under query.sort_by; the order is total,
// so it does not depend on the order they were built in) and keeps the first query.limit.
inline void order_and_limit(std::vector<GroupSummary>& summaries, const Query& query) {
  std::stable_sort(summaries.begin(), summaries.end(),
                   [&](const GroupSummary& left, const GroupSummary& right) {
                     return compare_groups(query.sort_by, left, right) < 0;
                   });
  if (query.limit && *query.limit < summaries.size()) {
    summaries.resize(*query.limit);
  }
}

}  // namespace zel_profile::detail

// Comparing two runs: the same query's reports on a base profile and a new one, group by group.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <zel_profile/model.hpp>

namespace zel_profile {

// One group of either report, matched by name; a group present on one side only has the other
// side absent.
struct GroupDiff {
  std::string name;
  std::optional<GroupSummary> base;
  std::optional<GroupSummary> current;  // in the new report

  bool operator==(const GroupDiff&) const = default;
};

// The comparison of two reports.
struct ReportDiff {
  std::uint64_t base_span_cycles = 0;
  std::uint64_t current_span_cycles = 0;
  double base_span_ms = 0.0;
  double current_span_ms = 0.0;
  // Every group of either report, the largest absolute change of the sort_by figure first (for
  // SortBy::Name: by name), ties by name. A missing side counts as 0 in the change.
  std::vector<GroupDiff> groups;

  bool operator==(const ReportDiff&) const = default;
};

// The figure that `sort_by` orders groups by, as a double: phase cycles, work cycles, maximum
// length or sample count; 0.0 for SortBy::Name and for an absent group.
double sort_figure(SortBy sort_by, const std::optional<GroupSummary>& group);

// (current - base) / base, or nothing when base is 0 (no relative change from nothing).
std::optional<double> relative_change(double base, double current);

// Matches the groups of `base` and `current` by name and orders them as ReportDiff says. The
// reports should come from the same query; their `limit` should be absent, or groups cut from
// one report show as missing.
ReportDiff diff_reports(const QueryReport& base, const QueryReport& current, SortBy sort_by);

// The query each side of a comparison runs, each profile alone: every group (no limit, not
// turned round), so that diff_reports sees them all, and the groups of `GroupBy::Profile` named as
// one profile alone names them ("chip 0" on both sides, which are compared).
Query side_query(const Query& query);

// The compared groups as `query` asks for them: turned round with `Query::reverse` (ties too), then
// cut to `Query::limit`.
ReportDiff ordered_diff(ReportDiff diff, const Query& query);

}  // namespace zel_profile

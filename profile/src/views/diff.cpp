#include <zel_profile/diff.hpp>

#include <algorithm>
#include <cmath>
#include <map>

namespace zel_profile {

double sort_figure(SortBy sort_by, const std::optional<GroupSummary>& group) {
  if (!group) return 0.0;
  switch (sort_by) {
    case SortBy::PhaseCycles:
      return static_cast<double>(group->phase_cycles);
    case SortBy::WorkCycles:
      return static_cast<double>(group->work_cycles);
    case SortBy::MaximumCycles:
      return static_cast<double>(group->maximum_cycles);
    case SortBy::Samples:
      return static_cast<double>(group->sample_count);
    case SortBy::Name:
      break;
  }
  return 0.0;
}

std::optional<double> relative_change(double base, double current) {
  if (base == 0.0) return std::nullopt;
  return (current - base) / base;
}

ReportDiff diff_reports(const QueryReport& base, const QueryReport& current, SortBy sort_by) {
  std::map<std::string, GroupDiff> by_name;
  for (const auto& group : base.groups) {
    by_name[group.name] = GroupDiff{.name = group.name, .base = group, .current = std::nullopt};
  }
  for (const auto& group : current.groups) {
    auto& entry = by_name[group.name];
    entry.name = group.name;
    entry.current = group;
  }
  ReportDiff diff{.base_span_cycles = base.profile_span_cycles,
                  .current_span_cycles = current.profile_span_cycles,
                  .base_span_ms = base.profile_span_ms,
                  .current_span_ms = current.profile_span_ms,
                  .groups = {}};
  for (auto& [name, group] : by_name) diff.groups.push_back(std::move(group));
  if (sort_by != SortBy::Name) {
    // Already by name; a stable sort keeps that order among equal changes.
    std::stable_sort(
        diff.groups.begin(), diff.groups.end(), [sort_by](const GroupDiff& a, const GroupDiff& b) {
          const double change_a =
              std::fabs(sort_figure(sort_by, a.current) - sort_figure(sort_by, a.base));
          const double change_b =
              std::fabs(sort_figure(sort_by, b.current) - sort_figure(sort_by, b.base));
          return change_a > change_b;
        });
  }
  return diff;
}

Query side_query(const Query& query) {
  auto side = query;
  side.profile_names.clear();
  side.limit.reset();
  side.reverse = false;
  return side;
}

ReportDiff ordered_diff(ReportDiff diff, const Query& query) {
  if (query.reverse) std::reverse(diff.groups.begin(), diff.groups.end());
  if (query.limit && *query.limit < diff.groups.size()) diff.groups.resize(*query.limit);
  return diff;
}

}  // namespace zel_profile

#include "query_text.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace zel_cli {

zel_profile::QueryReport query_every_group(const std::vector<zel_package::PackedProfile>& profiles,
                                           const zel_profile::Query& query,
                                           const zel_profile::Parallelism& parallelism) {
  auto unlimited = query;
  unlimited.limit.reset();
  return zel_profile::query(profiles, unlimited, parallelism);
}

std::string format_query_report(zel_profile::QueryReport report, const zel_profile::Query& query,
                                bool reverse, zel_report::ReportFormat format) {
  // The phase cycles of all the groups together, the base of the table's "%" column.
  std::uint64_t total_phase_cycles = 0;
  for (const auto& group : report.groups) total_phase_cycles += group.phase_cycles;
  const zel_report::ReportLayout layout{.total_phase_cycles = total_phase_cycles,
                                        .samples_table = query.sample_limit > 0};
  if (reverse) std::reverse(report.groups.begin(), report.groups.end());
  if (query.limit && *query.limit < report.groups.size()) report.groups.resize(*query.limit);
  return zel_report::format_report(report, format, layout);
}

}  // namespace zel_cli
